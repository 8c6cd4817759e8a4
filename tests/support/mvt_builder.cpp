#include "support/mvt_builder.h"

#include <protozero/pbf_writer.hpp>

#include <algorithm>
#include <array>

namespace vg::test {

mvt::Value text_value(std::string s) {
    mvt::Value v;
    v.kind = mvt::Value::Kind::String;
    v.string = std::move(s);
    return v;
}

mvt::Value int_value(std::int64_t i) {
    mvt::Value v;
    v.kind = mvt::Value::Kind::Int;
    v.int_value = i;
    return v;
}

mvt::Value double_value(double d) {
    mvt::Value v;
    v.kind = mvt::Value::Kind::Double;
    v.number = d;
    return v;
}

namespace {

bool same_value(const mvt::Value& a, const mvt::Value& b) {
    return a.kind == b.kind && a.string == b.string && a.number == b.number && a.int_value == b.int_value &&
           a.uint_value == b.uint_value && a.bool_value == b.bool_value;
}

template <class T, class Eq>
std::uint32_t index_of(std::vector<T>& table, const T& item, Eq eq) {
    auto it = std::find_if(table.begin(), table.end(), [&](const T& t) { return eq(t, item); });
    if (it == table.end()) it = table.insert(table.end(), item);
    return static_cast<std::uint32_t>(it - table.begin());
}

std::uint32_t command(std::uint32_t id, std::size_t count) { return (id & 7) | static_cast<std::uint32_t>(count << 3); }
std::uint32_t zigzag(std::int32_t v) { return protozero::encode_zigzag32(v); }

std::vector<std::uint32_t> geometry_of(const mvt::Feature& f) {
    std::vector<std::uint32_t> out;
    std::int32_t x = 0, y = 0;
    auto to = [&](mvt::Point p) {
        out.push_back(zigzag(p.x - x));
        out.push_back(zigzag(p.y - y));
        x = p.x;
        y = p.y;
    };
    if (f.type == mvt::GeomType::Point) {
        std::size_t n = 0;
        for (const auto& part : f.parts) n += part.size();
        out.push_back(command(1, n));
        for (const auto& part : f.parts)
            for (mvt::Point p : part) to(p);
        return out;
    }
    for (const auto& part : f.parts) {
        // A polygon's ring is written without its closing point: ClosePath returns to the start.
        const std::size_t n = f.type == mvt::GeomType::Polygon ? part.size() - 1 : part.size();
        out.push_back(command(1, 1));
        to(part[0]);
        out.push_back(command(2, n - 1));
        for (std::size_t i = 1; i < n; ++i) to(part[i]);
        if (f.type == mvt::GeomType::Polygon) out.push_back(command(7, 1));
    }
    return out;
}

}  // namespace

mvt::Layer& TileBuilder::layer(const std::string& name, std::uint32_t extent) {
    for (mvt::Layer& l : tile_.layers)
        if (l.name == name) return l;
    mvt::Layer& l = tile_.layers.emplace_back();
    l.name = name;
    l.extent = extent;
    return l;
}

void TileBuilder::add(const std::string& name, mvt::GeomType type, std::vector<std::vector<mvt::Point>> parts,
                      const Properties& properties) {
    mvt::Layer& l = layer(name);
    mvt::Feature& f = l.features.emplace_back();
    f.type = type;
    f.parts = std::move(parts);
    for (const auto& [key, value] : properties) {
        f.tags.push_back(index_of(l.keys, key, std::equal_to<>()));
        f.tags.push_back(index_of(l.values, value, same_value));
    }
}

void TileBuilder::point(const std::string& name, mvt::Point p, const Properties& properties) {
    add(name, mvt::GeomType::Point, {{p}}, properties);
}

void TileBuilder::line(const std::string& name, std::vector<mvt::Point> points, const Properties& properties) {
    add(name, mvt::GeomType::LineString, {std::move(points)}, properties);
}

void TileBuilder::polygon(const std::string& name, std::vector<std::vector<mvt::Point>> rings,
                          const Properties& properties) {
    for (auto& ring : rings)
        if (ring.front().x != ring.back().x || ring.front().y != ring.back().y) ring.push_back(ring.front());
    add(name, mvt::GeomType::Polygon, std::move(rings), properties);
}

void TileBuilder::rectangle(const std::string& name, mvt::Point a, mvt::Point b, const Properties& properties) {
    polygon(name, {{a, {b.x, a.y}, b, {a.x, b.y}}}, properties);
}

std::string TileBuilder::bytes() const { return encode_tile(tile_); }

std::string encode_tile(const mvt::Tile& tile) {
    std::string out;
    protozero::pbf_writer writer(out);
    for (const mvt::Layer& l : tile.layers) {
        protozero::pbf_writer layer(writer, 3);
        layer.add_uint32(15, l.version);
        layer.add_string(1, l.name);
        for (const mvt::Feature& f : l.features) {
            protozero::pbf_writer feature(layer, 2);
            if (f.id) feature.add_uint64(1, *f.id);
            feature.add_packed_uint32(2, f.tags.begin(), f.tags.end());
            feature.add_enum(3, static_cast<std::int32_t>(f.type));
            const std::vector<std::uint32_t> geometry = geometry_of(f);
            feature.add_packed_uint32(4, geometry.begin(), geometry.end());
        }
        for (const std::string& key : l.keys) layer.add_string(3, key);
        for (const mvt::Value& v : l.values) {
            protozero::pbf_writer value(layer, 4);
            switch (v.kind) {
            case mvt::Value::Kind::String: value.add_string(1, v.string); break;
            case mvt::Value::Kind::Float: value.add_float(2, static_cast<float>(v.number)); break;
            case mvt::Value::Kind::Double: value.add_double(3, v.number); break;
            case mvt::Value::Kind::Int: value.add_int64(4, v.int_value); break;
            case mvt::Value::Kind::UInt: value.add_uint64(5, v.uint_value); break;
            case mvt::Value::Kind::Bool: value.add_bool(7, v.bool_value); break;
            }
        }
        layer.add_uint32(5, l.extent);
    }
    return out;
}

namespace {

// A small deterministic generator (the standard distributions differ between libraries).
struct Random {
    std::uint64_t state;
    std::uint32_t next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state >> 33);
    }
    int in(int low, int high) { return low + static_cast<int>(next() % static_cast<std::uint32_t>(high - low + 1)); }
};

constexpr std::array kStreetNames = {"Oak",   "Maple",  "Harbour", "Mill",   "Church", "Station", "Market", "River",
                                     "Baker", "Garden", "Castle",  "Bridge", "Park",   "School",  "Queen",  "North"};
constexpr std::array kClasses = {"motorway", "primary", "secondary", "tertiary", "minor", "minor", "minor", "service"};

}  // namespace

mvt::Tile city_tile() {
    TileBuilder b;
    Random random{14};
    constexpr int kExtent = 4096, kBuffer = 64, kBlocks = 16, kBlock = kExtent / kBlocks;
    // Water first, as tile sets order them: a lake with an island and a river along the south.
    b.polygon("water",
              {{{2600, 300}, {3500, 250}, {3700, 900}, {3200, 1300}, {2500, 1000}},
               {{2950, 600}, {2950, 800}, {3150, 800}, {3150, 600}}},
              {{"class", text_value("lake")}});
    b.polygon("water", {{{-kBuffer, 3700}, {kExtent + kBuffer, 3500}, {kExtent + kBuffer, 3750}, {-kBuffer, 3950}}},
              {{"class", text_value("river")}});
    b.point("water_name", {3100, 950}, {{"name", text_value("Silver Lake")}, {"class", text_value("lake")}});
    b.rectangle("park", {600, 600}, {1100, 1000}, {{"class", text_value("park")}, {"name", text_value("City Park")}});
    // Streets: a grid of lines, each street cut at every second crossing (as tile sets split ways).
    for (int i = 0; i <= kBlocks; ++i) {
        const int at = i * kBlock;
        const char* cls = kClasses[static_cast<std::size_t>(i) % kClasses.size()];
        for (int horizontal = 0; horizontal < 2; ++horizontal) {
            const std::string name = std::string(kStreetNames[static_cast<std::size_t>(i) % kStreetNames.size()]) +
                                     (horizontal ? " Street" : " Avenue") + (i >= 16 ? " East" : "");
            for (int s = -1; s < kBlocks; s += 2) {
                const int from = std::max(s * kBlock, -kBuffer), to = std::min((s + 2) * kBlock, kExtent + kBuffer);
                std::vector<mvt::Point> pts;
                for (int k = from; k <= to; k += kBlock / 4)
                    pts.push_back(horizontal ? mvt::Point{k, at + (k / 7) % 5} : mvt::Point{at + (k / 9) % 5, k});
                const Properties props{{"class", text_value(cls)}, {"name", text_value(name)}};
                b.line("transportation", pts, {{"class", text_value(cls)}});
                b.line("transportation_name", pts, props);
            }
        }
    }
    // Buildings: four to five rows of houses along each block's edges, with house numbers.
    int number = 1;
    for (int bx = 0; bx < kBlocks; ++bx)
        for (int by = 0; by < kBlocks; ++by) {
            const int x0 = bx * kBlock + 14, y0 = by * kBlock + 14;
            if (x0 > 2400 && y0 < 1400 && x0 < 3800) continue;  // the lake
            if (y0 > 3400) continue;                              // the river
            for (int k = 0; k < 16; ++k) {
                const int w = random.in(18, 40), h = random.in(18, 40);
                const int x = x0 + (k % 4) * 56 + random.in(0, 8), y = y0 + (k / 4) * 56 + random.in(0, 8);
                b.polygon("building", {{{x, y}, {x + w, y + random.in(-3, 3)}, {x + w, y + h}, {x, y + h}}},
                          {{"render_height", int_value(random.in(4, 30))}});
                if (k % 2 == 0) b.point("housenumber", {x + w / 2, y + h / 2}, {{"housenumber", text_value(std::to_string(number++ % 300))}});
            }
        }
    // Places and POIs.
    const std::array<const char*, 8> places = {"Old Town", "Riverside", "Hillcrest", "Docklands",
                                               "Northgate", "Westend",   "Eastfield", "Southbank"};
    b.point("place", {2048, 2048}, {{"name", text_value("Port Aurora")}, {"class", text_value("city")}, {"rank", int_value(2)}});
    for (std::size_t i = 0; i < places.size(); ++i)
        b.point("place", {random.in(100, 3900), random.in(100, 3300)},
                {{"name", text_value(places[i])}, {"class", text_value("suburb")}, {"rank", int_value(10 + static_cast<int>(i))}});
    for (int i = 0; i < 200; ++i)
        b.point("poi", {random.in(0, kExtent), random.in(0, kExtent)},
                {{"name", text_value("Cafe " + std::to_string(i))}, {"class", text_value("cafe")}, {"rank", int_value(i % 30)}});
    return b.tile();
}

}  // namespace vg::test
