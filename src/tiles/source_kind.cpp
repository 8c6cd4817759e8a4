// The dispatch on SourceKind, and the kinds whose tiles are made here: the local renderer and the
// map pack.
#include "tiles/source_kind.h"

#include <array>

#include "tiles/local_source.h"
#include "tiles/remote_vector.h"

namespace vg {
namespace {

// Tiles made on this machine: each missing one is made into the cache as the view needs it.
class MadeHereKind : public TileSourceKind {
public:
    std::optional<std::string> address(const CatalogueEntry&, const TileKey&, const FetchContext&) const override {
        return std::nullopt;
    }
    bool made_here(const CatalogueEntry&) const override { return true; }
    bool uses_fetcher() const override { return false; }
    bool has_fine_tiles(const CatalogueEntry&) const override { return false; }
    int fill(const std::vector<CatalogueCell>& cells, int level, std::string_view root, const CatalogueEntry& entry,
             const FetchContext&) const override {
        int failed = 0;
        for (const auto& cell : cells)
            if (!make_offline_tile(*cell.slot, cell.x, cell.y, level, root, entry)) ++failed;
        return failed;
    }
};

class LocalKind final : public MadeHereKind {
public:
    const char* name() const override { return "local"; }
    bool drawn_by_maker(const CatalogueEntry&) const override { return true; }
    bool make(const CatalogueEntry&, int zoom, const TileKey& key, const std::string& path) const override {
        return make_local_tile_file(drawn_tile_request(false, zoom, key.column, key.row), path);
    }
};

class PackKind final : public MadeHereKind {
public:
    const char* name() const override { return "pack"; }
    bool drawn_by_maker(const CatalogueEntry&) const override { return false; }
    bool make(const CatalogueEntry& entry, int zoom, const TileKey& key, const std::string& path) const override {
        return copy_pack_file_tile(entry.pack_path, zoom, key.column, key.row, path);
    }
};

class VectorKind final : public MadeHereKind {
public:
    const char* name() const override { return "vector"; }
    bool drawn_by_maker(const CatalogueEntry&) const override { return true; }
    bool make(const CatalogueEntry& entry, int zoom, const TileKey& key, const std::string& path) const override {
        return make_local_tile_file(vector_tile_request(entry, zoom, key.column, key.row, 1), path);
    }
};

}  // namespace

const TileSourceKind& tile_source_kind(const CatalogueEntry& entry) {
    static const LocalKind local;
    static const PackKind pack;
    static const VectorKind vector;
    switch (entry.kind) {
    case SourceKind::legacy: return original_kind();
    case SourceKind::remote: return remote_kind();
    case SourceKind::local: return local;
    case SourceKind::pack: return pack;
    case SourceKind::vector: return vector;
    case SourceKind::remote_vector: return remote_vector_kind();
    }
    return original_kind();
}

const CatalogueEntry& original_form(MapSource source, bool aerial) {
    static const std::array<CatalogueEntry, 10> forms = [] {
        std::array<CatalogueEntry, 10> all;
        const Catalogue builtin = builtin_catalogue();
        for (MapSource s : {MapSource::Etopo2, MapSource::OpenStreetMap, MapSource::GoogleMaps, MapSource::VirtualEarth,
                            MapSource::MapQuest}) {
            for (bool layer : {false, true}) {
                const std::string& name = source_info(s).site_value;
                const CatalogueEntry* e = builtin.find(name, layer) ? builtin.find(name, layer) : builtin.find(name, false);
                CatalogueEntry& form = all[static_cast<std::size_t>(2 * (static_cast<int>(s) - 1) + (layer ? 1 : 0))];
                form = *e;
                form.aerial = layer;
                // OpenStreetMap's built-in entry is its https template; its old form is plain http.
                form.kind = SourceKind::legacy;
                if (s == MapSource::OpenStreetMap) form.tmpl = "http://tile.openstreetmap.org/{z}/{x}/{y}.png";
            }
        }
        return all;
    }();
    return forms[static_cast<std::size_t>(2 * (static_cast<int>(source) - 1) + (aerial ? 1 : 0))];
}

const CatalogueEntry& fetched_form(const CatalogueEntry& entry, bool hosts_given) {
    if (!hosts_given || !entry.original || entry.from_user_file) return entry;
    return original_form(*entry.original, entry.aerial);
}

}  // namespace vg
