// Fuzzes the bounded decompressors: the first byte picks none, gzip, brotli or zstd, the rest is
// the stream. Any stream must give at most the limit's bytes or an error, never a read or write
// outside a buffer; what decompresses is compressed again and must come back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "tiles/compression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const auto c = static_cast<vg::Compression>(1 + data[0] % 4);
    if (!vg::compression_available(c)) return 0;
    constexpr std::size_t kLimit = 1 << 20;
    std::string error;
    const auto plain = vg::decompress(c, std::span(data + 1, size - 1), kLimit, error);
    if (!plain) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (plain->size() > kLimit) std::abort();
    const auto packed = vg::compress(c, *plain, error);
    if (!packed || vg::decompress(c, *packed, kLimit, error) != plain) std::abort();
    return 0;
}
