// Fuzzes the Zodiac framer and message decoders. The first byte picks a read size; the rest is the
// receiver stream. Read in pieces or all at once, the stream must leave the same record (only the
// handshake answers depend on the reads), and no text field may lose its terminator.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "fix_checks.h"
#include "gps/zodiac.h"

namespace {

// A start position for the initialisation message, written once and removed at exit.
struct PositionFile {
    std::string path;
    PositionFile() {
        std::random_device random;
        const auto name = std::filesystem::temp_directory_path() /
                          ("vg-zodiac-fuzz-" + std::to_string(random()) + std::to_string(random()));
        std::ofstream out(name, std::ios::binary);
        out << "N  60 10 30\nE  24 55 00\n";
        if (out) path = name.string();
    }
    ~PositionFile() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove(path, ec);
    }
};

const char* position_file() {
    static const PositionFile file;
    return file.path.c_str();
}

std::FILE* null_output() {
    static std::FILE* out = std::fopen("/dev/null", "w");
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::size_t chunk = 1 + data[0] % 97;
    ++data;
    --size;

    std::size_t replied = 0;
    vg::ParserContext context;
    context.reply = [&replied](const std::uint8_t*, std::size_t n) { replied += n; };
    context.utc_seconds = [] { return 1266150896LL; };
    context.pos_file = position_file();

    vg::ZodiacParser pieces(context, null_output());
    vg::ZodiacParser whole(context, null_output());
    vg::FixRecord a, b;
    a.local_offset_hours = b.local_offset_hours = static_cast<int>(chunk % 47) - 23;
    for (std::size_t at = 0; at < size; at += chunk) pieces.feed(data + at, std::min(chunk, size - at), a);
    whole.feed(data, size, b);
    vg::fuzz::check_terminated(a);
    vg::fuzz::check_terminated(b);
    if (!vg::fuzz::same_fix(a, b)) std::abort();
    if (a.sats_in_view < 0) std::abort();
    return 0;
}
