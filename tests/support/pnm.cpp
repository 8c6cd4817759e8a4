#include "pnm.h"

#include <cctype>
#include <string>

#include "test_paths.h"

namespace vg::test {

std::optional<Pnm> read_pnm(const std::filesystem::path& path) {
    const std::string bytes = read_file(path);
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return std::nullopt;
    Pnm pnm;
    pnm.channels = bytes[1] == '6' ? 3 : 1;
    std::size_t pos = 2;
    long fields[3] = {};
    for (long& field : fields) {
        for (;;) {
            while (pos < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
            if (pos >= bytes.size() || bytes[pos] != '#') break;
            while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
        }
        if (pos >= bytes.size() || !std::isdigit(static_cast<unsigned char>(bytes[pos]))) return std::nullopt;
        while (pos < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[pos])) && field < 1000000)
            field = field * 10 + (bytes[pos++] - '0');
    }
    ++pos;  // the single blank after maxval
    if (fields[2] != 255) return std::nullopt;  // a picture with no rows or columns is a valid one
    pnm.width = static_cast<int>(fields[0]);
    pnm.height = static_cast<int>(fields[1]);
    const std::size_t size = static_cast<std::size_t>(pnm.width) * static_cast<std::size_t>(pnm.height) * static_cast<std::size_t>(pnm.channels);
    if (pos > bytes.size() || bytes.size() - pos < size) return std::nullopt;
    pnm.pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
    return pnm;
}

RgbImage read_ppm(const std::filesystem::path& path) {
    RgbImage image;
    std::optional<Pnm> pnm = read_pnm(path);
    if (!pnm || pnm->channels != 3 || pnm->pixels.empty()) return image;
    image.width = pnm->width;
    image.height = pnm->height;
    image.pixels = std::move(pnm->pixels);
    return image;
}

}  // namespace vg::test
