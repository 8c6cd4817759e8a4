// One reader for the map packs of the packs folder, whatever their container: MBTiles (raster PNG/JPEG
// or vector "pbf") and PMTiles (raster png/jpeg or vector mvt). Tiles come out as the pack stores
// them, but never compressed as a whole: a vector tile is plain protocol buffers (gzip undone).
// Packs are opened once per run (open_tile_pack_shared) and kept.
// Threads: every const member may be called from many threads at once (an MBTiles pack's reads are
// serialised by a lock of its own, a PMTiles archive reads with positioned reads).
// Failure: open gives null with an error naming the file (not a pack, damaged, WebP); a tile that is
// absent or cannot be read gives nullopt.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vg {

class MbtilesPack;
namespace pmtiles {
class Archive;
}

class TilePack {
public:
    static std::unique_ptr<TilePack> open(const std::string& path, std::string& error);
    ~TilePack();

    bool is_vector() const { return format_ == "pbf"; }
    const std::string& path() const { return path_; }
    const std::string& name() const { return name_; }                // metadata name, else the file's stem
    const std::string& format() const { return format_; }            // "png", "jpg" or "pbf"
    const std::string& attribution() const { return attribution_; }  // may be HTML, may be empty
    int min_zoom() const { return min_zoom_; }
    int max_zoom() const { return max_zoom_; }  // the deepest zoom with tiles (14 when not said)
    // The ids of the vector layers the metadata lists (empty for raster packs or when missing).
    const std::vector<std::string>& layer_names() const { return layers_; }

    // Tile (z, x, y), rows from the north; a vector tile's gzip undone.
    std::optional<std::vector<std::uint8_t>> tile(int z, int x, int y) const;
    // The (x, y) of every tile the pack holds at zoom `z` (rows from the north), from the index or
    // the directories only; nullopt when they cannot be read whole (damaged, over the bound of work).
    std::optional<std::vector<std::pair<int, int>>> tiles_at(int z) const;

private:
    TilePack() = default;
    std::string path_, name_, format_, attribution_;
    int min_zoom_ = 0, max_zoom_ = 14;
    std::vector<std::string> layers_;
    std::unique_ptr<MbtilesPack> mbtiles_;
    std::unique_ptr<pmtiles::Archive> pmtiles_;
    mutable std::mutex mutex_;  // an MBTiles pack reads through one prepared statement
};

// The pack of `path`, opened once and kept for the run; null with `error` when it cannot be used.
std::shared_ptr<const TilePack> open_tile_pack_shared(const std::string& path, std::string& error);

}  // namespace vg
