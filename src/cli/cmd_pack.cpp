// vortool pack: map packs (MBTiles, PMTiles).
//   vortool pack info FILE     what a pack holds: name, format, scheme, zooms, bounds, attribution,
//                              tiles per zoom; for PMTiles the header (tile type, compressions,
//                              centre, counts); for vector packs the layers and the schema they
//                              suggest; a pack that cannot be read is refused with the reason
//   vortool pack export ...    the cached tiles of an area written as a new pack (no downloads);
//                              refused for sources whose terms forbid offline archives (nobulk)
//   vortool pack extract ...   an area and zooms of a PMTiles archive (address or file) copied into
//                              a new PMTiles file over range requests, resumable
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <iterator>
#include <string>
#include <string_view>

#include "cli/catalogue_source.h"
#include "cli/commands.h"
#include "cli/tile_args.h"
#include "platform/c_number.h"
#include "settings/text_scan.h"
#include "tiles/geometry.h"
#include "tiles/mbtiles.h"
#include "tiles/pmtiles_extract.h"
#include "tiles/pmtiles_file.h"
#include "tiles/vector_layers.h"
#include "tiles/tile_naming.h"

namespace vg::cli {

namespace {

// More candidate tiles than this in one export is refused: the area is far larger than a cache holds.
constexpr long long kMaxExportCandidates = 1LL << 22;

// The bounds text of a map pack: "west,south,east,north", six decimals each.
std::string bounds_text(double west, double south, double east, double north) {
    return fixed_text(west, 6) + ',' + fixed_text(south, 6) + ',' + fixed_text(east, 6) + ',' + fixed_text(north, 6);
}

// The layers of a vector pack, one line each, and the schema they suggest.
void print_layers(const std::vector<VectorLayer>& layers) {
    for (const VectorLayer& l : layers) {
        std::string line = "layer: " + l.id;
        if (l.min_zoom >= 0 || l.max_zoom >= 0)
            line += " (zooms " + std::to_string(l.min_zoom) + "-" + std::to_string(l.max_zoom) + ")";
        for (std::size_t i = 0; i < l.fields.size(); ++i) line += (i ? ", " : ": ") + l.fields[i];
        std::printf("%s\n", printable_text(line).c_str());
    }
    std::printf("schema: %s\n", guess_tile_schema(layers));
}

double degrees(std::int32_t e7) { return e7 / 1e7; }

int pmtiles_info(const char* path) {
    std::string error;
    const auto archive = pmtiles::Archive::open_file(path, error);
    const auto metadata = archive ? archive->metadata(error) : std::nullopt;
    if (!metadata) {
        std::fprintf(stderr, "vortool pack: %s\n", printable_text(error).c_str());
        return 1;
    }
    const pmtiles::Header& h = archive->header();
    std::vector<VectorLayer> layers;
    if (const auto parsed = parse_vector_layers(*metadata, error)) layers = *parsed;
    std::printf("type: pmtiles\n");
    std::printf("tile type: %s\n", pmtiles::tile_type_name(h.tile_type));
    std::printf("tile compression: %s\n", compression_name(h.tile_compression));
    std::printf("internal compression: %s\n", compression_name(h.internal_compression));
    std::printf("zooms: %d-%d\n", h.min_zoom, h.max_zoom);
    std::printf("bounds: %s\n", bounds_text(degrees(h.min_lon_e7), degrees(h.min_lat_e7), degrees(h.max_lon_e7),
                                            degrees(h.max_lat_e7)).c_str());
    std::printf("center: %s,%s zoom %d\n", fixed_text(degrees(h.center_lon_e7), 6).c_str(),
                fixed_text(degrees(h.center_lat_e7), 6).c_str(), h.center_zoom);
    std::printf("tiles: %llu (entries %llu, distinct %llu)\n", static_cast<unsigned long long>(h.addressed_tiles),
                static_cast<unsigned long long>(h.tile_entries), static_cast<unsigned long long>(h.tile_contents));
    std::printf("clustered: %s\n", h.clustered ? "yes" : "no");
    if (h.tile_type == pmtiles::TileType::mvt) print_layers(layers);
    return 0;
}

bool is_pmtiles(const char* path) {
    std::ifstream in(path, std::ios::binary);
    char magic[7] = {};
    return in.read(magic, 7) && std::memcmp(magic, "PMTiles", 7) == 0;
}

int info(const char* path) {
    if (is_pmtiles(path)) return pmtiles_info(path);
    std::string error;
    const auto pack = MbtilesPack::open(path, error, true);
    if (!pack) {
        std::fprintf(stderr, "vortool pack: %s\n", error.c_str());
        return 1;
    }
    // The metadata is the pack's own text: printed through printable_text, so control characters
    // and escape sequences show as \xNN instead of acting on the terminal.
    const PackInfo& i = pack->info();
    auto field = [](const char* label, const std::string& value) {
        std::printf("%s: %s\n", label, printable_text(value).c_str());
    };
    field("name", i.name);
    field("format", i.format);
    field("scheme", i.scheme);
    if (i.min_zoom >= 0 || i.max_zoom >= 0) std::printf("zooms: %d-%d\n", i.min_zoom, i.max_zoom);
    if (i.has_bounds) std::printf("bounds: %s\n", bounds_text(i.west, i.south, i.east, i.north).c_str());
    if (!i.attribution.empty()) field("attribution", i.attribution);
    if (!i.description.empty()) field("description", i.description);
    const auto counts = pack->tile_counts();
    if (!counts) std::printf("tiles per zoom: not counted (more than can be counted quickly)\n");
    for (std::size_t z = 0; counts && z < counts->size(); ++z)
        if ((*counts)[z] > 0) std::printf("tiles at zoom %zu: %lld\n", z, (*counts)[z]);
    if (i.format == "pbf") print_layers(i.vector_layers);
    return 0;
}

struct Bounds {
    double west, south, east, north;
};

std::optional<Bounds> parse_bounds(const char* text) {
    Bounds b{};
    if (scan_c_numbers(text, ',', {&b.west, &b.south, &b.east, &b.north}) != std::strlen(text)) return std::nullopt;
    for (double v : {b.west, b.south, b.east, b.north})
        if (!std::isfinite(v)) return std::nullopt;
    if (b.west < -180 || b.west > 180 || b.east < -180 || b.east > 180 || b.south < -90 || b.north > 90 ||
        b.south >= b.north || b.west == b.east)
        return std::nullopt;
    return b;
}

// "A-B" or "A" with 0 <= A <= B <= 4.
bool parse_levels(std::string_view text, int& first, int& last) {
    auto digit = [](char c) { return c >= '0' && c <= '4' ? c - '0' : -1; };
    if (text.size() == 1) first = last = digit(text[0]);
    else if (text.size() == 3 && text[1] == '-') first = digit(text[0]), last = digit(text[2]);
    else return false;
    return first >= 0 && last >= first;
}

int tile_x(double lon, int z) { return web_tile_column(lon, z); }
int tile_y(double lat, int z) { return web_tile_row(lat, z); }

bool has_format(const std::string& bytes, const std::string& format) {
    if (format == "png") return bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
    return bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xff &&
           static_cast<unsigned char>(bytes[1]) == 0xd8 && static_cast<unsigned char>(bytes[2]) == 0xff;
}

int export_pack(int argc, char** argv) {
    std::string source_text, root = kDefaultMapsDir, out;
    std::optional<Bounds> bounds;
    int first = 0, last = -1;
    bool aerial = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--aerial") {
            aerial = true;
            continue;
        }
        if (arg.starts_with("--")) {
            if (!option_takes_value("pack", arg)) return usage_error("pack", "unknown option", argv[i]);
            if (i + 1 >= argc) return usage_error("pack", "a value is required after", argv[i]);
            const char* value = argv[++i];
            if (arg == "--source") source_text = value;
            else if (arg == "--root") root = value;
            else if (arg == "--bounds") {
                if (!(bounds = parse_bounds(value))) return usage_error("pack", "bounds must be W,S,E,N in degrees", value);
            } else if (arg == "--levels") {
                if (!parse_levels(value, first, last)) return usage_error("pack", "levels must be A-B within 0-4", value);
            } else return usage_error("pack", "unknown option", argv[i - 1]);
        } else if (out.empty()) out = arg;
        else return usage_error("pack", "one output file only", argv[i]);
    }
    if (source_text.empty() || !bounds || last < 0 || out.empty())
        return usage_error("pack", "export needs --source, --bounds, --levels and the output file");
    const auto chosen = choose_source(source_text, root);
    if (!chosen) return usage_error("pack", "unknown source", source_text.c_str());
    const CatalogueEntry* entry = chosen->layer(aerial);
    if (!entry) {
        std::fprintf(stderr, "vortool pack: %s has no %s layer\n", chosen->name.c_str(), aerial ? "aerial" : "map");
        return 1;
    }
    if (entry->nobulk) {
        std::fprintf(stderr, "vortool pack: %s's tile policy forbids offline archives; nothing exported\n",
                     entry->name.c_str());
        return 1;
    }
    if (!is_mercator(entry->geometry())) {
        std::fprintf(stderr, "vortool pack: %s's tiles are not Web-Mercator tiles; only those go into a pack\n",
                     entry->name.c_str());
        return 1;
    }
    const std::string format = entry->extension();
    if (format != "png" && format != "jpg") {
        std::fprintf(stderr, "vortool pack: %s's tiles (%s) cannot go into a raster pack\n", entry->name.c_str(),
                     format.c_str());
        return 1;
    }

    // The candidate tiles of each level (two column ranges when the area crosses the date line).
    struct Range {
        int level, zoom, x0, x1, y0, y1;
    };
    std::vector<Range> ranges;
    for (int level = first; level <= last && entry->has_level(level); ++level) {
        const int z = entry->zooms[static_cast<std::size_t>(level)];
        const int y0 = tile_y(bounds->north, z), y1 = tile_y(bounds->south, z);
        const int xw = tile_x(bounds->west, z), xe = tile_x(bounds->east, z);
        if (bounds->west < bounds->east) ranges.push_back({level, z, xw, xe, y0, y1});
        else {
            ranges.push_back({level, z, xw, (1 << z) - 1, y0, y1});
            ranges.push_back({level, z, 0, xe, y0, y1});
        }
    }
    long long candidates = 0;
    for (const Range& r : ranges) candidates += static_cast<long long>(r.x1 - r.x0 + 1) * (r.y1 - r.y0 + 1);
    if (candidates > kMaxExportCandidates) {
        std::fprintf(stderr, "vortool pack: the area holds %lld tiles at those levels; narrow --bounds or --levels\n",
                     candidates);
        return 1;
    }

    std::string error;
    auto writer = MbtilesWriter::create(out, error);
    if (!writer) {
        std::fprintf(stderr, "vortool pack: %s\n", error.c_str());
        return 1;
    }
    std::vector<long long> per_level(kLevelCount, 0);
    long long skipped = 0;
    int min_zoom = -1, max_zoom = -1;
    std::map<std::string, bool> folders;  // whether each tile folder exists, asked once
    for (const Range& r : ranges) {
        for (int y = r.y0; y <= r.y1; ++y) {
            for (int x = r.x0; x <= r.x1; ++x) {
                const TileKey key = catalogue_tile_key(*entry, x * kTileSize, y * kTileSize, r.level);
                const TilePaths paths = catalogue_tile_paths(*entry, key, root);
                auto folder = folders.find(paths.directory);
                if (folder == folders.end()) {
                    std::error_code ec;
                    folder = folders.emplace(paths.directory, std::filesystem::is_directory(paths.directory, ec)).first;
                }
                if (!folder->second) continue;
                std::ifstream in(paths.full_path, std::ios::binary);
                if (!in) continue;
                const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                if (!has_format(bytes, format)) {
                    ++skipped;  // empty, damaged or of another format
                    continue;
                }
                if (!writer->add_tile(r.zoom, x, y, std::vector<std::uint8_t>(bytes.begin(), bytes.end()))) break;
                ++per_level[static_cast<std::size_t>(r.level)];
                min_zoom = min_zoom < 0 ? r.zoom : std::min(min_zoom, r.zoom);
                max_zoom = std::max(max_zoom, r.zoom);
            }
        }
    }
    long long total = 0;
    for (long long n : per_level) total += n;
    if (total == 0) {
        std::fprintf(stderr, "vortool pack: no cached tiles of %s in that area at those levels; nothing written\n",
                     entry->name.c_str());
        return 1;
    }
    const std::string text = bounds_text(bounds->west, bounds->south, bounds->east, bounds->north);
    writer->add_metadata("name", entry->name);
    writer->add_metadata("format", format);
    writer->add_metadata("type", "baselayer");
    writer->add_metadata("version", "1.3");
    writer->add_metadata("bounds", text);
    writer->add_metadata("minzoom", std::to_string(min_zoom));
    writer->add_metadata("maxzoom", std::to_string(max_zoom));
    writer->add_metadata("description", "Exported by vortool from the tile cache");
    if (!entry->attribution.empty()) writer->add_metadata("attribution", entry->attribution);
    if (!writer->finish(error)) {
        std::fprintf(stderr, "vortool pack: %s\n", error.c_str());
        return 1;
    }
    for (int level = first; level <= last; ++level)
        std::printf("level %d: %lld tiles\n", level, per_level[static_cast<std::size_t>(level)]);
    if (skipped) std::printf("skipped: %lld cached files that are not %s tiles\n", skipped, format.c_str());
    return 0;
}

// "A-B" or "A" with 0 <= A <= B <= 31.
bool parse_zooms(std::string_view text, int& first, int& last) {
    const auto dash = text.find('-');
    auto number = [](std::string_view t, int& out) {
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
        return ec == std::errc() && end == t.data() + t.size() && out >= 0 && out <= pmtiles::kMaxZoom;
    };
    if (dash == std::string_view::npos) return number(text, first) && number(text, last);
    return number(text.substr(0, dash), first) && number(text.substr(dash + 1), last) && first <= last;
}

int extract_pack(int argc, char** argv) {
    std::string from, out;
    std::optional<Bounds> bounds;
    int first = 0, last = -1;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--")) {
            if (!option_takes_value("pack", arg)) return usage_error("pack", "unknown option", argv[i]);
            if (i + 1 >= argc) return usage_error("pack", "a value is required after", argv[i]);
            const char* value = argv[++i];
            if (arg == "--from") from = value;
            else if (arg == "--bounds") {
                if (!(bounds = parse_bounds(value))) return usage_error("pack", "bounds must be W,S,E,N in degrees", value);
            } else if (arg == "--zooms") {
                if (!parse_zooms(value, first, last)) return usage_error("pack", "zooms must be A-B within 0-31", value);
            } else return usage_error("pack", "unknown option", argv[i - 1]);
        } else if (out.empty()) out = arg;
        else return usage_error("pack", "one output file only", argv[i]);
    }
    if (from.empty() || !bounds || last < 0 || out.empty())
        return usage_error("pack", "extract needs --from, --bounds, --zooms and the output file");
    // A catalogue source by name (its template is the archive's address) or by that address: its
    // tile policy applies.
    const Catalogue catalogue = load_catalogue(".");
    const CatalogueEntry* entry = nullptr;
    for (const auto& e : catalogue.entries)
        if (e.name == from || e.tmpl == from) entry = &e;
    pmtiles::ExtractRequest rq;
    rq.source = entry && entry->name == from ? entry->tmpl : from;
    rq.policy = pmtiles::remote_policy(entry, read_fetch_settings("."));
    rq.west = bounds->west;
    rq.south = bounds->south;
    rq.east = bounds->east;
    rq.north = bounds->north;
    rq.min_zoom = first;
    rq.max_zoom = last;
    rq.out = out;
    if (rq.policy.nobulk) {
        std::fprintf(stderr, "vortool pack: %s's tile policy forbids downloading regions (nobulk); nothing fetched\n",
                     entry->name.c_str());
        return 1;
    }
    Fetcher fetcher;
    const auto mb = [](std::uint64_t bytes) { return fixed_text(static_cast<double>(bytes) / 1e6, 1); };
    bool progressed = false;  // a progress line is open on standard error
    const auto progress = [&](const pmtiles::ExtractProgress& p) {
        if (p.planned) {
            std::fprintf(stderr, "%llu tiles, %s MB to fetch%s\n", static_cast<unsigned long long>(p.tiles_total),
                         mb(p.fetch_total).c_str(), p.resumed ? " (resuming: the rest of an earlier run)" : "");
            return;
        }
        progressed = true;
        std::fprintf(stderr, "\r%llu/%llu tiles, %s/%s MB, %s MB/s, %s s left   ", static_cast<unsigned long long>(p.tiles),
                     static_cast<unsigned long long>(p.tiles_total), mb(p.bytes).c_str(), mb(p.bytes_total).c_str(),
                     mb(static_cast<std::uint64_t>(p.rate)).c_str(),
                     p.seconds_left < 0 ? "?" : fixed_text(p.seconds_left, 0).c_str());
    };
    const auto r = pmtiles::extract_region(fetcher, rq, progress);
    if (r.status != pmtiles::ExtractResult::Status::ok) {
        std::fprintf(stderr, "%svortool pack: %s\n", progressed ? "\n" : "", r.error.c_str());
        return r.status == pmtiles::ExtractResult::Status::refused ? 2 : 1;
    }
    if (progressed) std::fprintf(stderr, "\n");
    std::printf("%s: %llu tiles, %llu bytes of tiles; %llu bytes fetched in %llu requests\n", out.c_str(),
                static_cast<unsigned long long>(r.tiles), static_cast<unsigned long long>(r.tile_bytes),
                static_cast<unsigned long long>(r.fetched), static_cast<unsigned long long>(r.requests));
    return 0;
}

}  // namespace

int run_pack(int argc, char** argv) {
    if (argc == 0) return usage_error("pack", "info, export or extract is required");
    const std::string_view sub = argv[0];
    if (sub == "export") return export_pack(argc - 1, argv + 1);
    if (sub == "extract") return extract_pack(argc - 1, argv + 1);
    if (sub != "info") return usage_error("pack", "unknown sub-command", argv[0]);
    if (argc != 2) return usage_error("pack", "info needs one pack file");
    return info(argv[1]);
}

}  // namespace vg::cli
