// Files as the program writes them: binary, not inherited by child processes, and replaced whole
// (a new file beside the old one, flushed, then moved over it) so that a reader sees the old
// contents or the new, never a part. POSIX calls on Linux; the C runtime and MoveFileEx on Windows.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <io.h>
#ifndef O_NONBLOCK
#define O_NONBLOCK 0  // Windows files do not block on open
#endif
#else
#include <unistd.h>
#endif

namespace vg {

// fopen() of a path in any script (the wide-character form on Windows).
std::FILE* open_stream(const std::filesystem::path& path, const char* mode);

// open() with the flags O_RDONLY, O_WRONLY, O_CREAT, O_EXCL, O_APPEND, O_NONBLOCK, always binary and
// close-on-exec; -1 on failure (errno set).
int open_file(const std::filesystem::path& path, int flags, int mode = 0666);
int close_file(int fd);
// Reads or writes at most `size` bytes; -1 on failure (errno set).
long read_file_some(int fd, void* buffer, std::size_t size);
long write_file_some(int fd, const void* data, std::size_t size);
// Writes all `size` bytes, going on after interruptions and partial writes. On a non-blocking
// descriptor (a terminal's master side) it waits for room a tenth of a second at a time, and gives
// up when `keep_going` (if any) says no. False on failure.
bool write_all(int fd, const void* data, std::size_t size, bool (*keep_going)() = nullptr);
// Size of `fd` when it is a regular file, else -1.
long long regular_size(int fd);
long long regular_size(const std::filesystem::path& path);
// Last change of `path` in seconds since 1970 when it is a regular file, else -1.
long long regular_modified_seconds(const std::filesystem::path& path);
// Pushes the file's data to the disk.
bool flush_to_disk(int fd);

// A new file of its own beside `file` ("<file>.partNNNN"), opened for writing; -1 on failure.
// `temp` receives its path.
int create_temp_beside(const std::filesystem::path& file, std::filesystem::path& temp);
// Moves `from` over `to`, replacing it in one step; on Windows with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH, tried again for about a second while another holder keeps `to` busy.
bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to);
// Pushes the folder holding `file` to the disk, so that a file created, renamed or removed there
// stays so after a crash (Linux; on Windows the moves write through, and this does nothing).
bool flush_folder_of(const std::filesystem::path& file);
// replace_file for a finished file that must survive a crash: its data pushed to the disk, moved
// over `to`, then the folder flushed. False when any step failed (`from` is then left to the caller).
bool replace_file_durably(const std::filesystem::path& from, const std::filesystem::path& to);
// Replaces `file` with `bytes` whole: a new file beside it, written, moved over it (the new file is
// deleted on failure), so that a reader sees the old contents or the new, never a part. With
// `keep_permissions` the new file takes the old one's permissions (Linux); with `flush` its data
// reaches the disk before the move, and the folder after it.
struct ReplaceOptions {
    bool keep_permissions = false;
    bool flush = false;
};
bool write_file_replacing(const std::filesystem::path& file, std::string_view bytes, ReplaceOptions options = {});
// Deletes a file; false when it could not (or was not there).
bool remove_file(const std::filesystem::path& path);
// Creates one directory (its parent must exist); false when it could not or it was there.
bool make_directory(const std::filesystem::path& path);

// The separator of the folders in the paths the program builds: '/' on Linux, '\\' on Windows.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

}  // namespace vg
