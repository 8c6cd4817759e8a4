// The parts of files.h that both systems share, built on the per-system calls.
#include "platform/files.h"

namespace vg {

bool replace_file_durably(const std::filesystem::path& from, const std::filesystem::path& to) {
    const int fd = open_file(from, O_WRONLY);
    if (fd < 0) return false;
    const bool flushed = flush_to_disk(fd);
    if (close_file(fd) != 0 || !flushed) return false;
    return replace_file(from, to) && flush_folder_of(to);
}

}  // namespace vg
