// Paths the tests use: the real-world test data in tests/data (captures, conformance images), and scratch folders.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "platform/files.h"

namespace vg::test {

inline std::filesystem::path shared_testdata() { return VG_TESTDATA; }
// The conformance and bench pictures, with their reference decodes.
inline std::filesystem::path images() { return shared_testdata() / "images"; }
inline std::filesystem::path vortool_path() { return VG_VORTOOL; }

// A fresh empty folder under the system temp folder, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A path written with "/" in the system's own separators (the cache paths the program builds).
inline std::string native(std::string path) {
    for (char& c : path)
        if (c == '/') c = kPathSeparator;
    return path;
}

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

// Puts a FIFO at `path` and runs `reader` on another thread: true when it returns within five seconds
// (a reader that blocks on the FIFO is let go by opening its other end, so a test fails, not hangs).
// Always true on Windows, which has no such files.
bool done_beside_fifo(const std::filesystem::path& path, const std::function<void()>& reader);

}  // namespace vg::test
