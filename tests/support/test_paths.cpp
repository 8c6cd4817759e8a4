#include "test_paths.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace vg::test {

TempDir::TempDir() {
    // A name of our own: create_directory fails when another test (or process) holds it.
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = base / ("vgtest-" + std::to_string(random() % 100000000000ULL));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec) && !ec) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vg::test
