#include "cli/ppm.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace vg::cli {

namespace {

// Reads the header's unsigned numbers, skipping blanks and "#" comments before each one.
class HeaderReader {
public:
    HeaderReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool number(long& value) {
        skip_space_and_comments();
        if (pos_ >= size_ || data_[pos_] < '0' || data_[pos_] > '9') return false;
        value = 0;
        while (pos_ < size_ && data_[pos_] >= '0' && data_[pos_] <= '9') {
            value = value * 10 + (data_[pos_] - '0');
            if (value > 1'000'000) return false;
            ++pos_;
        }
        return true;
    }
    // Exactly one whitespace byte separates the header from the pixels.
    bool end_of_header() {
        if (pos_ >= size_ || !is_space(data_[pos_])) return false;
        ++pos_;
        return true;
    }
    std::size_t pos() const { return pos_; }

private:
    static bool is_space(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
    void skip_space_and_comments() {
        while (pos_ < size_) {
            if (is_space(data_[pos_])) {
                ++pos_;
            } else if (data_[pos_] == '#') {
                while (pos_ < size_ && data_[pos_] != '\n') ++pos_;
            } else {
                break;
            }
        }
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 2;
};

bool fail(RgbImage& out, std::string* error, const char* reason) {
    out = RgbImage{};
    if (error) *error = reason;
    return false;
}

}  // namespace

bool parse_ppm(const std::uint8_t* data, std::size_t size, RgbImage& out, std::string* error) {
    if (size < 2 || data[0] != 'P' || data[1] != '6') return fail(out, error, "not a binary PPM (P6) file");
    HeaderReader header(data, size);
    long width = 0, height = 0, maxval = 0;
    if (!header.number(width) || !header.number(height) || !header.number(maxval) || !header.end_of_header())
        return fail(out, error, "damaged PPM header");
    if (maxval != 255) return fail(out, error, "only 8-bit PPM (maxval 255) is supported");
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    if (size - header.pos() < bytes) return fail(out, error, "PPM pixel data is truncated");
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.pixels.assign(data + header.pos(), data + header.pos() + bytes);
    return true;
}

bool read_ppm_file(const std::filesystem::path& path, RgbImage& out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(out, error, "cannot open the file");
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return fail(out, error, "cannot read the file");
    return parse_ppm(bytes.data(), bytes.size(), out, error);
}

std::vector<std::uint8_t> encode_ppm(const RgbImage& image) {
    char header[64];
    const int n = std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", image.width, image.height);
    std::vector<std::uint8_t> bytes(header, header + n);
    bytes.insert(bytes.end(), image.pixels.begin(), image.pixels.end());
    return bytes;
}

bool write_ppm_file(const std::filesystem::path& path, const RgbImage& image) {
    if (image.width < 0 || image.height < 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3)
        return false;
    const std::vector<std::uint8_t> bytes = encode_ppm(image);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace vg::cli
