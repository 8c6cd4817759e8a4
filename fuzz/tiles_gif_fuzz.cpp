// Fuzzes the GIF reader: any byte stream must give 1 with a screen-sized buffer (or none) or 0 with
// none, never a read or write outside a buffer. A successful decode is written again and must
// read back at the same size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tiles/gif_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Screens near the size limit cost tens of megabytes per input and teach nothing new; the
    // limit itself is covered by the unit tests.
    if (size >= 10 && static_cast<std::size_t>(data[6] | (data[7] << 8)) * static_cast<std::size_t>(data[8] | (data[9] << 8)) >
                          512u * 512u)
        return 0;
    vg::RgbImage image;
    if (!vg::gif_read(data, size, image)) {
        if (!image.empty()) std::abort();
        return 0;
    }
    if (image.empty()) return 0;
    if (image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3)
        std::abort();
    // Keep the round trip cheap on large screens.
    if (image.pixels.size() > 3u * 256 * 256) return 0;
    std::vector<std::uint8_t> gif;
    if (!vg::gif_write(image, gif)) std::abort();
    vg::RgbImage again;
    if (!vg::gif_read(gif.data(), gif.size(), again) || again.width != image.width || again.height != image.height)
        std::abort();
    return 0;
}
