#include "atlas/atlas_data.h"

#include <cstring>

namespace vg::atlas {
namespace {

enum SectionKind : std::uint8_t { kLand = 1, kBorders = 2, kPlaces = 3 };

// Bounds-checked little-endian reader; `ok` turns false at the first read past the end.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
    bool ok = true;
    std::size_t left() const { return ok ? b_.size() - pos_ : 0; }
    const std::uint8_t* take(std::size_t n) {
        if (!ok || n > b_.size() - pos_) {
            ok = false;
            return nullptr;
        }
        const std::uint8_t* p = b_.data() + pos_;
        pos_ += n;
        return p;
    }
    std::uint8_t u8() {
        const auto* p = take(1);
        return p ? p[0] : 0;
    }
    std::uint32_t u32() {
        const auto* p = take(4);
        return p ? static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24) : 0;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    double f64() {
        const auto* p = take(8);
        double v = 0.0;
        if (p) std::memcpy(&v, p, 8);  // the writer and every machine we build for are little-endian
        return v;
    }
    std::uint64_t varint() {
        std::uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const std::uint8_t byte = u8();
            if (!ok) return 0;
            v |= std::uint64_t{byte & 0x7fu} << shift;
            if (!(byte & 0x80)) return v;
        }
        ok = false;
        return 0;
    }
    std::int64_t zigzag() {
        const std::uint64_t v = varint();
        return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
    }

private:
    std::span<const std::uint8_t> b_;
    std::size_t pos_ = 0;
};

bool read_lines(Reader& r, std::vector<Line>& out) {
    const double sx = r.f64(), sy = r.f64(), tx = r.f64(), ty = r.f64();
    const std::uint32_t count = r.u32();
    // Each line takes at least 17 bytes: refuse counts the data cannot hold before reserving.
    if (!r.ok || count > r.left() / 17) return false;
    out.reserve(count);
    for (std::uint32_t i = 0; i < count && r.ok; ++i) {
        Line line;
        const std::int32_t w = r.i32(), s = r.i32(), e = r.i32(), n = r.i32();
        const std::uint64_t points = r.varint();
        if (!r.ok || points > r.left() / 2) return false;
        line.west = tx + sx * w;
        line.south = ty + sy * s;
        line.east = tx + sx * e;
        line.north = ty + sy * n;
        line.points.reserve(points);
        std::int64_t x = 0, y = 0;
        for (std::uint64_t k = 0; k < points && r.ok; ++k) {
            // Deltas that carry a coordinate past 64 bits are damaged data, not a wrap-around.
            if (__builtin_add_overflow(x, r.zigzag(), &x) || __builtin_add_overflow(y, r.zigzag(), &y)) return false;
            line.points.push_back({tx + sx * static_cast<double>(x), ty + sy * static_cast<double>(y)});
        }
        out.push_back(std::move(line));
    }
    return r.ok;
}

bool read_places(Reader& r, std::vector<Place>& out) {
    const std::uint32_t count = r.u32();
    if (!r.ok || count > r.left() / 14) return false;
    out.reserve(count);
    for (std::uint32_t i = 0; i < count && r.ok; ++i) {
        Place p;
        p.lon = r.i32() / 1e5;
        p.lat = r.i32() / 1e5;
        p.population = r.u32();
        p.capital = (r.u8() & 1) != 0;
        const std::uint8_t len = r.u8();
        const auto* name = r.take(len);
        if (name) p.name.assign(reinterpret_cast<const char*>(name), len);
        out.push_back(std::move(p));
    }
    return r.ok;
}

bool fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

}  // namespace

std::optional<AtlasData> parse_atlas(std::span<const std::uint8_t> bytes, std::string* error) {
    Reader r(bytes);
    const auto* magic = r.take(8);
    if (!magic || std::memcmp(magic, "VGATLAS1", 8) != 0) {
        fail(error, "not an atlas data file");
        return std::nullopt;
    }
    AtlasData data;
    const std::uint32_t sections = r.u32();
    for (std::uint32_t i = 0; i < sections && r.ok; ++i) {
        const std::uint8_t kind = r.u8();
        const std::uint8_t detail = r.u8();
        const std::uint32_t length = r.u32();
        const auto* body = r.take(length);
        if (!body) break;
        Reader section({body, length});
        if (detail > kFine) {
            fail(error, "unknown detail level");
            return std::nullopt;
        }
        bool good = true;
        if (kind == kLand) good = read_lines(section, data.details[detail].land);
        else if (kind == kBorders) good = read_lines(section, data.details[detail].borders);
        else if (kind == kPlaces) good = read_places(section, data.places);
        // Unknown sections are skipped: newer files may carry more layers.
        if (!good) {
            fail(error, "damaged section");
            return std::nullopt;
        }
    }
    if (!r.ok) {
        fail(error, "truncated file");
        return std::nullopt;
    }
    return data;
}

bool is_land(const AtlasData& data, DetailLevel detail, double lon, double lat) {
    bool inside = false;
    for (const Line& ring : data.details[detail].land) {
        if (lon < ring.west || lon > ring.east || lat < ring.south || lat > ring.north) continue;
        const auto& p = ring.points;
        for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
            if ((p[i].lat > lat) != (p[j].lat > lat) &&
                lon < (p[j].lon - p[i].lon) * (lat - p[i].lat) / (p[j].lat - p[i].lat) + p[i].lon)
                inside = !inside;
        }
    }
    return inside;
}

}  // namespace vg::atlas
