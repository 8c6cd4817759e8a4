#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vg {

std::unique_ptr<MappedFile> MappedFile::open(const std::filesystem::path& path, std::string* why) {
    const auto fail = [&](int error) {
        if (why) *why = std::strerror(error);
        return nullptr;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (why) *why = "not a regular file";
        return nullptr;
    }
    std::unique_ptr<MappedFile> file(new MappedFile);
    if (st.st_size > 0) {
        void* at = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
        const int error = errno;
        ::close(fd);
        if (at == MAP_FAILED) return fail(error);
        file->data_ = static_cast<const std::uint8_t*>(at);
        file->size_ = static_cast<std::size_t>(st.st_size);
    } else {
        ::close(fd);
    }
    return file;
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

}  // namespace vg
