#include "test_paths.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <fstream>
#include <future>
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

bool done_beside_fifo(const std::filesystem::path& path, const std::function<void()>& reader) {
#ifdef _WIN32
    // No FIFOs here: the reader looks at the same name with nothing there.
    (void)path;
    reader();
    return true;
#else
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + path.string());
    auto done = std::async(std::launch::async, reader);
    const bool prompt = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!prompt) ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));
    done.get();
    return prompt;
#endif
}

}  // namespace vg::test
