#include <cerrno>
#include <cstdio>

#include "platform/files.h"

namespace vg {

std::FILE* open_stream(const std::filesystem::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int open_file(const std::filesystem::path& path, int flags, int mode) {
    return ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

int close_file(int fd) { return ::close(fd); }

long read_file_some(int fd, void* buffer, std::size_t size) { return static_cast<long>(::read(fd, buffer, size)); }

long write_file_some(int fd, const void* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}

long long regular_size(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

long long regular_size(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

long long regular_modified_seconds(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_mtime);
}

bool flush_to_disk(int fd) { return ::fsync(fd) == 0; }

int create_temp_beside(const std::filesystem::path& file, std::filesystem::path& temp) {
    std::string name = file.string() + ".partXXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    ::fchmod(fd, 0644);  // mkostemp makes it private; tiles and settings are ordinary files
    temp = name;
    return fd;
}

bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool remove_file(const std::filesystem::path& path) { return ::unlink(path.c_str()) == 0; }

bool make_directory(const std::filesystem::path& path) { return ::mkdir(path.c_str(), 0777) == 0; }

}  // namespace vg
