#include <cerrno>
#include <cstdio>

#include <poll.h>

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

bool write_all(int fd, const void* data, std::size_t size, bool (*keep_going)()) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        if (keep_going && !keep_going()) return false;
        const ssize_t n = ::write(fd, at, size);
        if (n > 0) {
            at += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd room{fd, POLLOUT, 0};
            ::poll(&room, 1, 100);
        } else {
            return false;
        }
    }
    return true;
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

bool flush_folder_of(const std::filesystem::path& file) {
    const std::filesystem::path parent = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = flush_to_disk(fd);
    return close_file(fd) == 0 && ok;
}

bool write_file_replacing(const std::filesystem::path& file, std::string_view bytes, ReplaceOptions options) {
    struct stat old {};
    const bool keep_mode = options.keep_permissions && ::stat(file.c_str(), &old) == 0;
    std::filesystem::path temp;
    const int fd = create_temp_beside(file, temp);
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes.data(), bytes.size());
    if (ok && keep_mode) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && options.flush) ok = flush_to_disk(fd);
    if (close_file(fd) != 0) ok = false;  // a late write error shows up here
    if (ok) ok = replace_file(temp, file);
    if (!ok) remove_file(temp);
    if (ok && options.flush) ok = flush_folder_of(file);
    return ok;
}

bool remove_file(const std::filesystem::path& path) { return ::unlink(path.c_str()) == 0; }

bool make_directory(const std::filesystem::path& path) { return ::mkdir(path.c_str(), 0777) == 0; }

}  // namespace vg
