#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <direct.h>
#include <io.h>
#include <process.h>

#include <atomic>

#include "platform/files.h"

namespace vg {

std::FILE* open_stream(const std::filesystem::path& path, const char* mode) {
    std::wstring wide_mode;
    for (const char* c = mode; *c; ++c) wide_mode += static_cast<wchar_t>(*c);
    return ::_wfopen(path.c_str(), wide_mode.c_str());
}

int open_file(const std::filesystem::path& path, int flags, int mode) {
    const int permission = (mode & 0222) ? (_S_IREAD | _S_IWRITE) : _S_IREAD;
    return ::_wopen(path.c_str(), (flags & ~O_NONBLOCK) | _O_BINARY | _O_NOINHERIT, permission);
}

int close_file(int fd) { return ::_close(fd); }

long read_file_some(int fd, void* buffer, std::size_t size) {
    const unsigned count = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
    return ::_read(fd, buffer, count);
}

long write_file_some(int fd, const void* data, std::size_t size) {
    const unsigned count = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
    return ::_write(fd, data, count);
}

bool write_all(int fd, const void* data, std::size_t size, bool (*keep_going)()) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        if (keep_going && !keep_going()) return false;
        const long n = write_file_some(fd, at, size);
        if (n > 0) {
            at += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

long long regular_size(int fd) {
    struct _stat64 st {};
    if (fd < 0 || ::_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return -1;
    return static_cast<long long>(st.st_size);
}

long long regular_size(const std::filesystem::path& path) {
    struct _stat64 st {};
    if (::_wstat64(path.c_str(), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return -1;
    return static_cast<long long>(st.st_size);
}

long long regular_modified_seconds(const std::filesystem::path& path) {
    struct _stat64 st {};
    if (::_wstat64(path.c_str(), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return -1;
    return static_cast<long long>(st.st_mtime);
}

bool flush_to_disk(int fd) { return ::_commit(fd) == 0; }

int create_temp_beside(const std::filesystem::path& file, std::filesystem::path& temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::filesystem::path name = file;
        name += ".part" + std::to_string(::_getpid()) + "_" + std::to_string(counter++);
        const int fd = open_file(name, O_WRONLY | O_CREAT | O_EXCL);
        if (fd >= 0) {
            temp = name;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
    // While another replacement of the same file (two downloads of one tile) or a reader without
    // delete sharing holds the target, Windows refuses with access denied or a sharing violation:
    // such a hold is brief, so the move is tried again for up to about a second.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        if (attempt >= 50 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) return false;
        Sleep(20);
    }
}

bool flush_folder_of(const std::filesystem::path&) { return true; }  // MoveFileEx writes through

bool write_file_replacing(const std::filesystem::path& file, std::string_view bytes, ReplaceOptions options) {
    std::filesystem::path temp;
    const int fd = create_temp_beside(file, temp);
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes.data(), bytes.size());
    if (ok && options.flush) ok = flush_to_disk(fd);
    if (close_file(fd) != 0) ok = false;  // a late write error shows up here
    if (ok) ok = replace_file(temp, file);
    if (!ok) remove_file(temp);
    if (ok && options.flush) ok = flush_folder_of(file);
    return ok;
}

bool remove_file(const std::filesystem::path& path) { return ::_wunlink(path.c_str()) == 0; }

bool make_directory(const std::filesystem::path& path) { return ::_wmkdir(path.c_str()) == 0; }

}  // namespace vg
