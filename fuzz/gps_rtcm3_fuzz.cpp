// RTCM 3 frames of any bytes, fed in two pieces split at the first byte's value: every frame given out
// must be whole, of its stated length and pass its checksum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gps/rtcm3.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vg::rtcm3::FrameScanner scanner;
    std::vector<vg::rtcm3::Frame> frames;
    const std::size_t split = size == 0 ? 0 : data[0] % size;
    scanner.feed(data, split, frames);
    scanner.feed(data + split, size - split, frames);
    for (const auto& f : frames) {
        const auto& b = f.bytes;
        if (b.size() < 6 || b[0] != vg::rtcm3::kPreamble) std::abort();
        const std::size_t length = (static_cast<std::size_t>(b[1] & 3) << 8) | b[2];
        if (b.size() != length + 6) std::abort();
        const std::uint32_t sent = (static_cast<std::uint32_t>(b[b.size() - 3]) << 16) |
                                   (static_cast<std::uint32_t>(b[b.size() - 2]) << 8) | b[b.size() - 1];
        if (vg::rtcm3::crc24q(b.data(), b.size() - 3) != sent) std::abort();
    }
    return 0;
}
