#include "tiles/local_source.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/files.h"
#include "tiles/source_kind.h"
#include "tiles/tile_pack.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

std::atomic<LocalTileMaker> g_maker{nullptr};

// Packs opened during the run, by path; a pack's prepared statement is used under the same lock.
std::mutex g_packs_mutex;
std::map<std::string, std::shared_ptr<MbtilesPack>>& packs() {
    static std::map<std::string, std::shared_ptr<MbtilesPack>> table;
    return table;
}

bool is_cached(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return !ec && size > 0;
}

}  // namespace

bool copy_pack_tile(const MbtilesPack& pack, int zoom, int x, int y, const std::string& path) {
    const auto bytes = pack.read_tile(zoom, x, y);
    if (!bytes || bytes->empty()) return false;
    // A file of its own beside the tile, renamed into place: two copies of one tile never share it.
    return write_file_replacing(path, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

namespace {

// A name a folder can carry: letters, digits, "-", "_", "." (not first), at most 40.
std::string folder_safe_name(std::string_view text) {
    std::string out;
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.';
        out += ok ? c : '_';
        if (out.size() == 36) break;  // room for a "-N" suffix
    }
    while (!out.empty() && out.front() == '.') out.front() = '_';
    return out;
}

// Attributions of packs are often HTML: keep the text between the tags.
std::string plain_text(std::string_view html) {
    std::string out;
    bool in_tag = false;
    for (char c : html) {
        if (c == '<') in_tag = true;
        else if (c == '>') in_tag = false;
        else if (!in_tag && c != '\n' && c != '\r') out += c;
    }
    if (out.size() > 200) out.resize(200);
    return out;
}

}  // namespace

void set_local_tile_maker(LocalTileMaker maker) { g_maker.store(maker); }
bool has_local_tile_maker() { return g_maker.load() != nullptr; }

bool make_local_tile_file(const LocalTileRequest& request, const std::string& path) {
    const LocalTileMaker maker = g_maker.load();
    return maker && maker(request, path);
}

CatalogueEntry atlas_entry() {
    CatalogueEntry e;
    e.name = kAtlasName;
    e.zooms = {4, 7, 10, 13, 16};
    e.attribution = "Built-in map: Natural Earth (public domain); places: GeoNames (CC BY 4.0)";
    e.kind = SourceKind::local;
    e.menu_id = Command::Atlas;
    return e;
}

std::shared_ptr<MbtilesPack> open_pack_shared(const std::string& path, std::string& error) {
    const std::lock_guard lock(g_packs_mutex);
    auto& table = packs();
    if (auto it = table.find(path); it != table.end()) return it->second;
    std::shared_ptr<MbtilesPack> pack = MbtilesPack::open(path, error);
    if (pack) table.emplace(path, pack);
    return pack;
}

bool copy_pack_file_tile(const std::string& pack_path, int zoom, int x, int y, const std::string& path) {
    std::string error;
    if (pack_path.ends_with(".pmtiles")) {
        const auto archive = open_tile_pack_shared(pack_path, error);
        const auto bytes = archive ? archive->tile(zoom, x, y) : std::nullopt;
        return bytes && !bytes->empty() &&
               write_file_replacing(path, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    }
    const auto pack = open_pack_shared(pack_path, error);
    const std::lock_guard lock(g_packs_mutex);  // one statement per pack
    return pack && copy_pack_tile(*pack, zoom, x, y, path);
}

bool make_offline_tile(std::string& slot, int x, int y, int level, std::string_view root, const CatalogueEntry& entry) {
    slot.clear();
    if (!tile_source_kind(entry).made_here(entry) || !entry.has_level(level)) return false;
    const TileKey key = catalogue_tile_key(entry, x, y, level);
    if (!tile_in_world(key)) return false;
    const TilePaths paths = catalogue_tile_paths(entry, key, root);
    if (is_cached(paths.full_path)) {
        slot = paths.full_path;
        return true;
    }
    const int zoom = entry.zoom_of(level);
    create_tile_directories(paths.directory);
    if (!tile_source_kind(entry).make(entry, zoom, key, paths.full_path)) return false;
    slot = paths.full_path;
    return true;
}

std::string faded_atlas_tile(int x, int y, int level, MapSource geometry, std::string_view root) {
    if (!is_mercator(geometry) || !has_scale(geometry, level) || !has_local_tile_maker()) return {};
    CatalogueEntry faded = atlas_entry();
    faded.name = std::string(kAtlasName) + "/faded";
    const TileKey key = catalogue_tile_key(faded, x, y, level);
    if (!tile_in_world(key)) return {};
    const TilePaths paths = catalogue_tile_paths(faded, key, root);
    if (is_cached(paths.full_path)) return paths.full_path;
    create_tile_directories(paths.directory);
    if (!make_local_tile_file(drawn_tile_request(false, web_zoom(level), key.column, key.row, true), paths.full_path)) return {};
    return paths.full_path;
}

std::filesystem::path packs_folder(std::string_view root) {
    return std::filesystem::path(normalise_root(root)) / kPacksFolder;
}

LocalTileRequest drawn_tile_request(bool relief, int zoom, int x, int y, bool faded) {
    LocalTileRequest request;
    request.relief = relief;
    request.zoom = zoom;
    request.x = x;
    request.y = y;
    request.faded = faded;
    return request;
}

LocalTileRequest vector_tile_request(const CatalogueEntry& entry, int zoom, int x, int y, int scale) {
    LocalTileRequest request;
    request.zoom = zoom;
    request.x = x;
    request.y = y;
    request.scale = scale;
    request.vector_pack = entry.pack_path;
    request.style_path = entry.style_path;
    request.night = vector_night_style();
    return request;
}

bool add_pack(Catalogue& catalogue, const std::filesystem::path& file, std::string& error) {
    const auto pack = open_tile_pack_shared(file.string(), error);
    if (!pack) return false;
    const auto taken = [&catalogue](const std::string& n) { return catalogue.find(n, false) || catalogue.find(n, true); };
    const std::string stem = folder_safe_name(file.stem().string());
    std::string base = folder_safe_name(pack->name());
    if (base.empty()) base = stem;
    if (base.empty()) base = "pack";
    // A pack exported from a source carries that source's name: it is named after its file instead,
    // else "<name>-pack", so that it does not read as a second copy of the source.
    std::string name = base;
    if (taken(name) && !stem.empty() && !taken(stem)) name = stem;
    if (taken(name)) base = name = base + "-pack";
    for (int n = 2; taken(name); ++n) name = base + "-" + std::to_string(n);
    CatalogueEntry e;
    e.name = name;
    e.tmpl = file.string();
    e.zooms = {4, 7, 10, 13, 16};
    e.attribution = plain_text(pack->attribution());
    e.kind = pack->is_vector() ? SourceKind::vector : SourceKind::pack;
    e.pack_path = file.string();
    e.pack_format = pack->format();
    // A vector pack's own style: <stem>.style.json beside it.
    std::error_code ec;
    if (std::filesystem::path style = file.parent_path() / (file.stem().string() + ".style.json");
        pack->is_vector() && std::filesystem::is_regular_file(style, ec))
        e.style_path = style.string();
    if (!catalogue.put(std::move(e))) {
        error = file.string() + ": no menu place left for another map source";
        return false;
    }
    return true;
}

int add_packs(Catalogue& catalogue, const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto& p = it->path();
        if ((p.extension() == ".mbtiles" || p.extension() == ".pmtiles") && it->is_regular_file(ec)) files.push_back(p);
    }
    std::sort(files.begin(), files.end());
    int added = 0;
    for (const auto& f : files) {
        std::string error;
        if (add_pack(catalogue, f, error)) ++added;
        else catalogue.problems.push_back(error);
    }
    catalogue.settle_menu_ids();
    return added;
}

}  // namespace vg
