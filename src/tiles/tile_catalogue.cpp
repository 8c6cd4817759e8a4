#include "tiles/tile_catalogue.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>

#include "settings/settings_file.h"
#include "tiles/local_source.h"
#include "tiles/source_kind.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

constexpr std::size_t kMaxNameLength = 40;
constexpr std::size_t kMaxTemplateLength = 900;
constexpr std::size_t kMaxAttributionLength = 200;
constexpr int kMaxConnections = 16;
constexpr int kMaxFreshDays = 3650;
constexpr int kMaxZoomNumber = 24;

std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(sep);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::optional<int> number(std::string_view text, int lo, int hi) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi)
        return std::nullopt;
    return value;
}

// Names become folder names: letters, digits, "-", "_" and "." (not first), nothing else.
bool valid_name(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength || name.front() == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.';
    });
}

constexpr std::string_view kPlaceholders[] = {"{z}", "{x}", "{y}", "{-y}", "{q}", "{s}", "{key}", "{r}"};

// Empty when the template is usable, else the reason.
std::string check_template(std::string_view t) {
    if (t.size() > kMaxTemplateLength) return "template too long";
    if (t.rfind("http://", 0) != 0 && t.rfind("https://", 0) != 0) return "template must start with http:// or https://";
    for (char c : t)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return "template holds a blank or control character";
    for (std::size_t at = t.find('{'); at != std::string_view::npos; at = t.find('{', at + 1)) {
        const auto close = t.find('}', at);
        if (close == std::string_view::npos) return "unclosed { in template";
        const std::string_view word = t.substr(at, close - at + 1);
        if (std::find(std::begin(kPlaceholders), std::end(kPlaceholders), word) == std::end(kPlaceholders))
            return "unknown placeholder " + std::string(word);
    }
    return {};
}

// True for a template of vector tiles (its path ends in .pbf or .mvt).
bool vector_template(std::string_view t) {
    const std::string_view path = t.substr(0, t.find('?'));
    return path.ends_with(".pbf") || path.ends_with(".mvt");
}

// Empty when `url` (of tilejson= or pmtiles=) is a usable address, else the reason.
std::string check_address(std::string_view what, std::string_view url) {
    if (url.size() > kMaxTemplateLength) return std::string(what) + " address too long";
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
        return std::string(what) + " address must start with http:// or https://";
    for (char c : url)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '{' || c == '}')
            return std::string(what) + " address holds a blank, a control character or a placeholder";
    return {};
}

// Reads the template field: a template, tilejson=URL or pmtiles=URL.
std::string read_template_field(std::string_view field, CatalogueEntry& e) {
    for (std::string_view form : {"tilejson=", "pmtiles="}) {
        if (field.rfind(form, 0) != 0) continue;
        const std::string_view url = field.substr(form.size());
        if (auto why = check_address(form.substr(0, form.size() - 1), url); !why.empty()) return why;
        (form == "tilejson=" ? e.tilejson_url : e.archive_url) = std::string(url);
        e.kind = SourceKind::remote_vector;
        return {};
    }
    e.tmpl = std::string(field);
    if (auto why = check_template(e.tmpl); !why.empty()) return why;
    if (vector_template(e.tmpl)) e.kind = SourceKind::remote_vector;
    return {};
}

CatalogueEntry original_entry(MapSource source, bool aerial, std::string tmpl, std::string attribution) {
    CatalogueEntry e;
    e.name = source_info(source).site_value;
    e.aerial = aerial;
    e.tmpl = std::move(tmpl);
    e.zooms = source == MapSource::Etopo2 ? std::vector<int>{4} : std::vector<int>{4, 7, 10, 13, 16};
    e.attribution = std::move(attribution);
    e.kind = SourceKind::legacy;
    e.original = source;
    e.menu_id = source_info(source).command;
    return e;
}

// Parses one line; nullopt with `why` set when it is malformed.
std::optional<CatalogueEntry> parse_line(std::string_view line, std::string& why) {
    const auto fields = split(line, '|');
    if (fields.size() != 6) {
        why = "expected 6 fields separated by |, found " + std::to_string(fields.size());
        return std::nullopt;
    }
    CatalogueEntry e;
    e.name = std::string(trim(fields[0]));
    if (!valid_name(e.name)) {
        why = "name must be 1 to 40 letters, digits, '-', '_' or '.'";
        return std::nullopt;
    }
    const std::string_view layer = trim(fields[1]);
    if (layer != "map" && layer != "aerial") {
        why = "layer must be map or aerial";
        return std::nullopt;
    }
    e.aerial = layer == "aerial";
    if (why = read_template_field(trim(fields[2]), e); !why.empty()) return std::nullopt;
    const bool drawn = e.kind == SourceKind::remote_vector;

    const std::string_view zooms = trim(fields[3]);
    if (zooms.empty()) {
        e.zooms = {4, 7, 10, 13, 16};
    } else {
        for (auto z : split(zooms, ',')) {
            const auto value = number(trim(z), 0, kMaxZoomNumber);
            const int level = static_cast<int>(e.zooms.size());
            if (!value || level >= kLevelCount) {
                why = "zooms must be up to 5 numbers";
                return std::nullopt;
            }
            // Our levels are fixed steps of the one Web Mercator pyramid.
            if (*value != web_zoom(level)) {
                why = "zoom of level " + std::to_string(level) + " must be " + std::to_string(web_zoom(level));
                return std::nullopt;
            }
            e.zooms.push_back(*value);
        }
    }
    e.attribution = std::string(trim(fields[4]));
    if (e.attribution.size() > kMaxAttributionLength) {
        why = "attribution longer than 200 characters";
        return std::nullopt;
    }
    const std::string_view flags = trim(fields[5]);
    std::vector<std::string_view> parts = flags.empty() ? std::vector<std::string_view>{} : split(flags, ',');
    bool kind_dem = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string_view flag = trim(parts[i]);
        if (flag == "nobulk") {
            e.nobulk = true;
        } else if (flag == "kind=dem") {
            kind_dem = true;
        } else if (flag == "dem=terrarium" || flag == "dem=terrainrgb") {
            e.dem = flag == "dem=terrarium" ? DemEncoding::terrarium : DemEncoding::terrain_rgb;
        } else if (flag.rfind("dem=", 0) == 0) {
            why = "dem must be terrarium or terrainrgb";
            return std::nullopt;
        } else if (flag.rfind("conn=", 0) == 0) {
            const auto n = number(flag.substr(5), 1, kMaxConnections);
            if (!n) {
                why = "conn must be 1 to 16";
                return std::nullopt;
            }
            e.conn = *n;
        } else if (flag.rfind("maxzoom=", 0) == 0) {
            const auto n = number(flag.substr(8), 0, kMaxWebZoom);
            if (drawn && n) {
                e.tiles_max_zoom = *n;  // finer cells are drawn from this zoom's tiles
                continue;
            }
            if (!n || e.zooms.empty() || *n < e.zooms.back()) {
                why = "maxzoom must be 0 to 19, not below the last level's zoom";
                return std::nullopt;
            }
            e.finest_zoom = *n;
        } else if (flag.rfind("fresh=", 0) == 0) {
            const auto n = number(flag.substr(6), 0, kMaxFreshDays);
            if (!n) {
                why = "fresh must be 0 to 3650 days";
                return std::nullopt;
            }
            e.fresh_days = *n;
        } else if (flag.rfind("style=", 0) == 0) {
            e.style_path = std::string(trim(flag.substr(6)));
            if (!drawn || e.style_path.empty()) {
                why = drawn ? "style needs a file name" : "style is for vector sources only";
                return std::nullopt;
            }
        } else if (flag.rfind("servers=", 0) == 0) {
            // The list runs to the end of the flags: servers=a,b,c
            e.servers.push_back(std::string(trim(flag.substr(8))));
            for (++i; i < parts.size(); ++i) e.servers.push_back(std::string(trim(parts[i])));
            const bool bad = std::any_of(e.servers.begin(), e.servers.end(), [](const std::string& s) {
                return s.empty() || !valid_name(s);
            });
            if (bad) {
                why = "servers must be a list of names";
                return std::nullopt;
            }
        } else {
            why = "unknown flag " + std::string(flag);
            return std::nullopt;
        }
    }
    if (e.dem != DemEncoding::none && !kind_dem) {
        why = "dem= is a flag of elevation sources (kind=dem)";
        return std::nullopt;
    }
    if (kind_dem) {
        if (e.aerial || e.extension() != "png") {
            why = "an elevation source (kind=dem) is a map layer of PNG tiles";
            return std::nullopt;
        }
        if (e.dem == DemEncoding::none) e.dem = DemEncoding::terrarium;
    }
    e.from_user_file = true;
    return e;
}

std::string quadkey_of(int level_zoom, int row, int column) {
    std::string q;
    for (int i = level_zoom; i >= 1; --i) {
        const unsigned mask = 1u << (i - 1);
        char digit = '0';
        if (static_cast<unsigned>(column) & mask) digit += 1;
        if (static_cast<unsigned>(row) & mask) digit += 2;
        q.push_back(digit);
    }
    return q;
}

}  // namespace

bool CatalogueEntry::has_level(int level) const {
    if (is_zoom_code(level)) return has_zooms_between() && web_zoom(level) <= max_zoom();
    return level >= 0 && level < static_cast<int>(zooms.size());
}

namespace {
std::atomic<bool> g_vector_night{false};
}  // namespace

void set_vector_night_style(bool night) { g_vector_night.store(night); }
bool vector_night_style() { return g_vector_night.load(); }

bool CatalogueEntry::has_zooms_between() const {
    return kind != SourceKind::pack && is_mercator(geometry()) && !zooms.empty();  // vector: drawn at any zoom
}

int CatalogueEntry::max_zoom() const {
    if (zooms.empty()) return -1;
    return std::min(finest_zoom, zooms.size() == static_cast<std::size_t>(kLevelCount) ? kMaxWebZoom : zooms.back());
}

int CatalogueEntry::zoom_of(int level) const {
    return is_zoom_code(level) ? web_zoom(level) : zooms[static_cast<std::size_t>(level)];
}

std::string CatalogueEntry::own_folder() const {
    if (original) return site_code(*original);
    return folder.empty() ? name : folder;
}

std::string CatalogueEntry::cache_folder() const {
    if (original) return site_code(*original);
    const std::string& base = folder.empty() ? name : folder;
    if (kind == SourceKind::vector || kind == SourceKind::remote_vector)
        return base + (vector_night_style() ? "/night" : "/day");
    return aerial ? base + "/aerial" : base;  // octal tile folders are never named "aerial"
}

namespace {

// How a file system that ignores letter case and trailing dots (Windows, macOS) sees a folder name.
std::string folder_key(std::string_view folder) {
    while (!folder.empty() && folder.back() == '.') folder.remove_suffix(1);
    std::string key(folder);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

// Whether Windows can hold `name` as a folder: no trailing ".", no device name before the first ".".
bool windows_folder_name(std::string_view name) {
    if (name.empty() || name.back() == '.') return false;
    const std::string stem = folder_key(name.substr(0, name.find('.')));
    static constexpr std::string_view kDevices[] = {"con", "prn", "aux", "nul"};
    if (std::find(std::begin(kDevices), std::end(kDevices), stem) != std::end(kDevices)) return false;
    const bool port = stem.size() == 4 && (stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0) &&
                      stem[3] >= '0' && stem[3] <= '9';
    return !port;
}

// The folder of a new entry named `name`: empty (the name itself) when that is free and safe, else
// "~NAME", "~NAME~2"...
std::string free_folder(const std::vector<CatalogueEntry>& entries, const std::string& name) {
    std::vector<std::string> taken = {kPacksFolder};
    for (MapSource s : {MapSource::Etopo2, MapSource::OpenStreetMap, MapSource::GoogleMaps, MapSource::VirtualEarth,
                        MapSource::MapQuest})
        taken.push_back(folder_key(site_code(s)));
    for (const auto& e : entries)
        taken.push_back(folder_key(e.original ? site_code(*e.original) : e.folder.empty() ? e.name : e.folder));
    auto is_free = [&](const std::string& folder) {
        return std::find(taken.begin(), taken.end(), folder_key(folder)) == taken.end();
    };
    if (windows_folder_name(name) && is_free(name)) return {};
    for (int n = 1;; ++n) {
        const std::string folder = "~" + name + (n == 1 ? std::string() : "~" + std::to_string(n));
        if (is_free(folder)) return folder;
    }
}

}  // namespace

std::string CatalogueEntry::extension() const {
    if (original) return tile_extension(*original, aerial);
    if (kind == SourceKind::pack) return pack_format == "jpg" ? "jpg" : "png";
    if (kind == SourceKind::vector || kind == SourceKind::remote_vector) return "png";  // drawn here
    std::string_view path = tmpl;
    if (auto q = path.find('?'); q != std::string_view::npos) path = path.substr(0, q);
    auto ends = [&](std::string_view s) { return path.size() >= s.size() && path.substr(path.size() - s.size()) == s; };
    if (ends(".png")) return "png";
    // Aerial photographs come as JPEG; so does anything whose address ends in .jpg.
    return (ends(".jpg") || ends(".jpeg") || aerial) ? "jpg" : "png";
}

const CatalogueEntry* Catalogue::find(std::string_view name, bool aerial) const {
    for (const auto& e : entries)
        if (e.name == name && e.aerial == aerial) return &e;
    return nullptr;
}

const CatalogueEntry* Catalogue::find_menu_id(Command menu_id) const {
    for (const auto& e : entries)
        if (e.menu_id == menu_id) return source(e.name);
    return nullptr;
}

const CatalogueEntry* Catalogue::source(std::string_view name) const {
    const CatalogueEntry* map = find(name, false);
    return map ? map : find(name, true);
}

const CatalogueEntry* Catalogue::elevation_source() const {
    for (const auto& e : entries)
        if (e.is_dem()) return &e;
    return nullptr;
}

std::vector<const CatalogueEntry*> Catalogue::sources() const {
    std::vector<const CatalogueEntry*> out;
    for (const auto& name : names()) out.push_back(source(name));
    return out;
}

std::vector<std::string> Catalogue::names() const {
    std::vector<std::string> out;
    for (const auto& e : entries)
        if (std::find(out.begin(), out.end(), e.name) == out.end()) out.push_back(e.name);
    return out;
}

Command catalogue_home_id(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    const auto first = static_cast<std::uint32_t>(command_id(Command::CatalogueFirst));
    const auto size = static_cast<std::uint32_t>(command_id(Command::CatalogueLast)) - first + 1;
    return static_cast<Command>(static_cast<int>(first + hash % size));
}

namespace {

// The first id from `name`'s home id that no entry holds.
Command free_menu_id(const std::vector<CatalogueEntry>& entries, std::string_view name) {
    const int first = command_id(Command::CatalogueFirst);
    const int size = command_id(Command::CatalogueLast) - first + 1;
    const int home = command_id(catalogue_home_id(name)) - first;
    for (int step = 0;; ++step) {  // ends: at most kMaxAddedNames ids are held
        const auto id = static_cast<Command>(first + (home + step) % size);
        if (std::none_of(entries.begin(), entries.end(), [&](const CatalogueEntry& e) { return e.menu_id == id; }))
            return id;
    }
}

}  // namespace

void Catalogue::settle_menu_ids() {
    std::vector<std::string> added;
    for (auto& e : entries) {
        if (!is_catalogue_command(e.menu_id)) continue;
        e.menu_id = Command{};
        if (std::find(added.begin(), added.end(), e.name) == added.end()) added.push_back(e.name);
    }
    std::sort(added.begin(), added.end());
    for (const auto& name : added) {
        const Command id = free_menu_id(entries, name);
        for (auto& e : entries)
            if (e.name == name) e.menu_id = id;
    }
}

bool Catalogue::put(CatalogueEntry entry) {
    bool known = false;
    for (auto& e : entries) {
        if (e.name != entry.name) continue;
        entry.menu_id = e.menu_id;  // the name keeps its menu place and cache folder
        if (!entry.original) entry.original = e.original;
        entry.folder = e.folder;
        known = true;
        break;
    }
    if (!known && !entry.original) entry.folder = free_folder(entries, entry.name);
    for (auto& e : entries) {
        if (e.name == entry.name && e.aerial == entry.aerial) {
            e = std::move(entry);
            return true;
        }
    }
    if (entry.menu_id == Command{} && !entry.is_dem()) {  // elevation sources are not maps to choose
        std::set<Command> added;  // one id per name
        for (const auto& e : entries)
            if (is_catalogue_command(e.menu_id)) added.insert(e.menu_id);
        if (added.size() >= static_cast<std::size_t>(kMaxAddedNames)) return false;
        entry.menu_id = free_menu_id(entries, entry.name);
    }
    entries.push_back(std::move(entry));
    return true;
}

Catalogue builtin_catalogue() {
    Catalogue c;
    c.entries.push_back(original_entry(MapSource::Etopo2, false,
                                       "http://www.ngdc.noaa.gov/mgg/image/2minsurface/512/<image>.jpg",
                                       "ETOPO2 relief: NOAA NGDC"));
    // OpenStreetMap's servers take https only; the address path is the original one.
    CatalogueEntry osm = original_entry(MapSource::OpenStreetMap, false, "https://tile.openstreetmap.org/{z}/{x}/{y}.png",
                                        "© OpenStreetMap contributors");
    osm.kind = SourceKind::remote;
    osm.nobulk = true;
    c.entries.push_back(osm);
    c.entries.push_back(original_entry(MapSource::GoogleMaps, false, "http://mt0.google.com/vt/x={x}&y={y}&z={z}", "© Google"));
    c.entries.push_back(original_entry(MapSource::GoogleMaps, true,
                                       "http://khm0.google.com/kh/v=<version>&x={x}&y={y}&z={z}", "© Google"));
    c.entries.push_back(original_entry(MapSource::VirtualEarth, false,
                                       "http://r{s}.ortho.tiles.virtualearth.net/tiles/r{q}.png?g=<version>", "© Microsoft"));
    c.entries.push_back(original_entry(MapSource::VirtualEarth, true,
                                       "http://a{s}.ortho.tiles.virtualearth.net/tiles/a{q}.jpg?g=<version>", "© Microsoft"));
    c.entries.push_back(original_entry(MapSource::MapQuest, false,
                                       "http://tile21.mqcdn.com/map/Scale<scale>/<row/1000>/<row%1000>/<col/1000>/<col%1000>.gif",
                                       "© MapQuest"));
    c.entries.push_back(original_entry(MapSource::MapQuest, true,
                                       "http://tile21.mqcdn.com/sat/Scale<scale>/<row/1000>/<row%1000>/<col/1000>/<col%1000>.jpg",
                                       "© MapQuest"));
    CatalogueEntry topo;
    topo.name = "OpenTopoMap";
    topo.tmpl = "https://{s}.tile.opentopomap.org/{z}/{x}/{y}.png";
    topo.servers = {"a", "b", "c"};
    topo.zooms = {4, 7, 10, 13, 16};
    topo.finest_zoom = 17;  // the server's last zoom
    topo.attribution = "Map data: © OpenStreetMap contributors, SRTM | Map style: © OpenTopoMap (CC-BY-SA)";
    topo.nobulk = true;
    topo.menu_id = Command::OpenTopoMap;
    c.entries.push_back(topo);
    c.entries.push_back(atlas_entry());
    // Vector tiles of the OpenMapTiles schema (its built-in style), over-zoomed past their zoom 14.
    CatalogueEntry ofm;
    ofm.name = "OpenFreeMap";
    ofm.tilejson_url = "https://tiles.openfreemap.org/planet";
    ofm.kind = SourceKind::remote_vector;
    ofm.zooms = {4, 7, 10, 13, 16};
    ofm.tiles_max_zoom = 14;
    ofm.attribution = "OpenFreeMap © OpenMapTiles Data from OpenStreetMap";
    ofm.nobulk = true;
    ofm.menu_id = Command::OpenFreeMap;
    c.entries.push_back(ofm);
    return c;
}

std::string source_line_problem(std::string_view line) {
    if (line.find('\n') != std::string_view::npos) return "one line only";
    Catalogue c = builtin_catalogue();
    read_sources_text(line, c);
    if (c.problems.empty()) return {};
    const std::string& why = c.problems.front();
    const std::string prefix = std::string(kSourcesFile) + ":1: ";
    return why.starts_with(prefix) ? why.substr(prefix.size()) : why;
}

void read_sources_text(std::string_view text, Catalogue& catalogue) {
    int number_of_line = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number_of_line;
        line = trim(line);
        if (number_of_line == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.remove_prefix(3);  // UTF-8 mark
        if (line.empty() || line.front() == '#') continue;
        std::string why;
        auto entry = parse_line(line, why);
        if (!entry) {
            catalogue.problems.push_back(std::string(kSourcesFile) + ":" + std::to_string(number_of_line) + ": " + why);
            continue;
        }
        if (!catalogue.put(std::move(*entry)))
            catalogue.problems.push_back(std::string(kSourcesFile) + ":" + std::to_string(number_of_line) +
                                         ": no menu place left for another source");
    }
    catalogue.settle_menu_ids();
}

Catalogue load_catalogue(const std::filesystem::path& dir) {
    Catalogue c = builtin_catalogue();
    std::ifstream in(dir / kSourcesFile, std::ios::binary);
    if (!in) return c;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    read_sources_text(text, c);
    for (auto& e : c.entries)
        if (e.from_user_file && !e.style_path.empty() && std::filesystem::path(e.style_path).is_relative())
            e.style_path = (dir / e.style_path).string();
    return c;
}

namespace {

// The template filled in for web zoom z; `fine` puts "@2x" where it says {r}.
std::optional<std::string> expand_at_zoom(const CatalogueEntry& entry, int z, int row, int column,
                                          std::string_view key, bool fine) {
    if (z < 0 || z > 30 || row < 0 || column < 0 || row >= (1 << z) || column >= (1 << z)) return std::nullopt;
    if (entry.tmpl.empty()) return std::nullopt;  // a TileJSON's or an archive's source: no template of its own
    const std::string q = quadkey_of(z, row, column);
    std::string out;
    std::string_view t = entry.tmpl;
    while (!t.empty()) {
        const auto open = t.find('{');
        out.append(t.substr(0, open));
        if (open == std::string_view::npos) break;
        const auto close = t.find('}', open);
        if (close == std::string_view::npos) return std::nullopt;
        const std::string_view word = t.substr(open, close - open + 1);
        t.remove_prefix(close + 1);
        if (word == "{z}") out += std::to_string(z);
        else if (word == "{x}") out += std::to_string(column);
        else if (word == "{y}") out += std::to_string(row);
        else if (word == "{-y}") out += std::to_string((1 << z) - 1 - row);
        else if (word == "{q}") out += q;
        else if (word == "{s}") {
            if (!entry.servers.empty())
                out += entry.servers[static_cast<std::size_t>(column + row) % entry.servers.size()];
            else
                out += q.empty() ? '0' : q.back();
        } else if (word == "{key}") {
            if (key.empty()) return std::nullopt;
            out += key;
        } else if (word == "{r}") {
            if (fine) out += "@2x";
        } else {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> expand_template(const CatalogueEntry& entry, int level, int row, int column,
                                           std::string_view key) {
    if (!entry.has_level(level)) return std::nullopt;
    return expand_at_zoom(entry, entry.zoom_of(level), row, column, key, false);
}

bool CatalogueEntry::uses_fetcher() const { return tile_source_kind(*this).uses_fetcher(); }

bool CatalogueEntry::offers_fine_tiles() const { return tmpl.find("{r}") != std::string::npos; }

std::optional<std::string> expand_fine_template(const CatalogueEntry& entry, int level, int row, int column,
                                                int quarter, std::string_view key) {
    if (!entry.has_level(level) || quarter < -1 || quarter > 3) return std::nullopt;
    const int z = entry.zoom_of(level);
    if (quarter < 0) {
        if (!entry.offers_fine_tiles()) return std::nullopt;
        return expand_at_zoom(entry, z, row, column, key, true);
    }
    if (z >= 30 || row < 0 || column < 0 || row >= (1 << z) || column >= (1 << z)) return std::nullopt;
    return expand_at_zoom(entry, z + 1, 2 * row + quarter / 2, 2 * column + quarter % 2, key, false);
}

std::string fine_tile_path(const CatalogueEntry& entry, const TileKey& key, std::string_view root, int quarter) {
    std::string path = tile_paths_in(key, root, entry.cache_folder() + "@2x", entry.extension()).full_path;
    if (quarter >= 0 && quarter <= 3) {
        const auto dot = path.rfind('.');
        path.insert(dot, "_q" + std::to_string(quarter));
    }
    return path;
}

TileKey catalogue_tile_key(const CatalogueEntry& entry, int x, int y, int level) {
    TileKey key = tile_key(x, y, level, entry.geometry(), entry.aerial);
    if (!entry.original) key.aerial = entry.aerial;  // every catalogue source may have an aerial layer
    return key;
}

TilePaths catalogue_tile_paths(const CatalogueEntry& entry, const TileKey& key, std::string_view root) {
    if (entry.original) return tile_paths(key, root);
    return tile_paths_in(key, root, entry.cache_folder(), entry.extension());
}

std::string read_source_key(const std::filesystem::path& dir, std::string_view name) {
    // The key line is looked up whole ("key_<name>="), so a key value that holds another source's
    // name cannot be taken for it.
    const auto value = setting_value(dir / kIniFile, "key_" + std::string(name) + "=");
    return value ? std::string(trim(*value)) : std::string();
}

}  // namespace vg
