// A file mapped read-only into memory: its pages are read when first touched, so opening a large
// file costs no reading, and the system keeps or drops the pages as memory allows. mmap on POSIX,
// CreateFileMapping/MapViewOfFile on Windows.
// Threads: the bytes may be read from many threads while the object lives. Ownership: the mapping
// ends with the object. Failure: open returns null with the system's reason; a file shrunk by
// another program while mapped makes reads past its new end fault (the files mapped here are read-only
// data that is replaced, never truncated, in place).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace vg {

class MappedFile {
public:
    // The whole file mapped; null with the reason in `*why` (when given) when it cannot be opened or
    // mapped. An empty file gives an object of size 0.
    static std::unique_ptr<MappedFile> open(const std::filesystem::path& path, std::string* why = nullptr);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    MappedFile() = default;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace vg
