#include "platform/mapped_file.h"

#include <windows.h>

namespace vg {

std::unique_ptr<MappedFile> MappedFile::open(const std::filesystem::path& path, std::string* why) {
    const auto fail = [&](const char* what) {
        if (why) *why = std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    };
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail("cannot open the file");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return fail("cannot read the file's size");
    }
    std::unique_ptr<MappedFile> mapped(new MappedFile);
    if (size.QuadPart > 0) {
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        CloseHandle(file);
        if (!mapping) return fail("cannot map the file");
        void* at = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        CloseHandle(mapping);  // the view keeps the mapping
        if (!at) return fail("cannot map the file");
        mapped->data_ = static_cast<const std::uint8_t*>(at);
        mapped->size_ = static_cast<std::size_t>(size.QuadPart);
    } else {
        CloseHandle(file);
    }
    return mapped;
}

MappedFile::~MappedFile() {
    if (data_) UnmapViewOfFile(data_);
}

}  // namespace vg
