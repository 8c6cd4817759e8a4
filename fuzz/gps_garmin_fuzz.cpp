// Fuzzes the Garmin packet framing and decoders. The first byte picks a read size; the rest is the
// receiver stream. Read in pieces or all at once, the stream must leave the same record; positions
// are finite and texts terminated.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gps/garmin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::size_t chunk = 1 + data[0] % 97;
    ++data;
    --size;
    vg::GarminParser pieces, whole;
    vg::FixRecord a, b;
    for (std::size_t at = 0; at < size; at += chunk) pieces.feed(data + at, std::min(chunk, size - at), a);
    whole.feed(data, size, b);
    if (!std::memchr(a.utc_text, '\0', sizeof a.utc_text) || !std::memchr(a.local_text, '\0', sizeof a.local_text))
        std::abort();
    if (std::memcmp(a.utc_text, b.utc_text, sizeof a.utc_text) != 0 || a.latitude != b.latitude ||
        a.longitude != b.longitude || a.fix_dimension != b.fix_dimension)
        std::abort();
    if (!std::isfinite(a.latitude) || !std::isfinite(a.longitude)) std::abort();
    return 0;
}
