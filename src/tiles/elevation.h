// Elevation data: heights above sea level in metres for any place, from the .hgt files of the maps
// folder's dem/ and from the cached tiles of an elevation source. ElevationModel is what every user of
// heights reads (the pointer's height, the trip's climb figures, hillshade and relief); elevation_for
// gives the one model of a maps folder.
// Threads: a model's const members may be called from many threads at once. Ownership: models are
// shared; elevation_for gives one per folder while anyone holds it. Failure: a place without data (outside every
// file, a void, an unreadable file) has no height (nullopt or NaN), never a made-up one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tiles/tile_types.h"

namespace vg {

struct CatalogueEntry;
enum class DemEncoding;  // tiles/tile_catalogue.h

// A height and where it came from: "hgt" (a .hgt file of <root>/dem) or "dem" (a cached tile of an
// elevation source); empty for a model that does not say.
struct ElevationAt {
    double metres = 0.0;
    std::string_view source;
};

class ElevationModel {
public:
    virtual ~ElevationModel() = default;
    // The height at (lat, lon) in metres, interpolated bilinearly between the data's posts; nullopt
    // where there is no data.
    virtual std::optional<double> elevation(double lat, double lon) const = 0;
    // True when some data lies in the box (degrees): a cheap test before sampling a whole cell.
    virtual bool covers(double south, double west, double north, double east) const = 0;
    // The height with its origin; models that keep one kind of data need not say which.
    virtual std::optional<ElevationAt> elevation_at(double lat, double lon) const {
        const auto h = elevation(lat, lon);
        return h ? std::optional<ElevationAt>(ElevationAt{*h, {}}) : std::nullopt;
    }
    // New data may have arrived (elevation tiles landed): places without data are looked for again at
    // once rather than after a while.
    virtual void look_again() const {}
};

// The heights of a web tile's pixel centres (zoom `z`, column `x`, row `y` from the north, `size`
// pixels a side) with a border of one pixel all round, row by row from the north west: (size + 2)²
// values, NaN where there is no data. False when the model has no data in the tile at all.
bool sample_web_tile(const ElevationModel& model, int z, std::uint32_t x, std::uint32_t y, int size,
                     std::vector<float>& out);

// The elevation model of the maps folder `root`: the .hgt files directly in <root>/dem (plain files
// only, not zipped; the folder is listed once, each file mapped into memory when first needed, at
// most kHgtMappedFiles at once), then the cached tiles of `dem_source` (an entry of kind=dem) when given,
// from the finest zoom cached at the place (decoded tiles kept, at most kDemTileCacheTiles; a missing
// tile looked for again a second later, so tiles that land are used). A place whose tile is not
// cached has no height: fetching them is the caller's (the window asks its loader). Null when the
// folder has no .hgt file and no elevation source is given. While a model is held, every call for the
// same folder and source gives it; once the last holder lets go its files are unmapped (so the
// folder can be changed or removed, which Windows refuses for a mapped file) and a later call lists
// the folder again.
std::shared_ptr<const ElevationModel> elevation_for(const std::string& root, const CatalogueEntry* dem_source);

inline constexpr std::size_t kHgtMappedFiles = 16;
inline constexpr std::size_t kDemTileCacheTiles = 48;

// The height in metres of one pixel of an elevation tile: Terrarium R · 256 + G + B / 256 − 32768,
// terrain-RGB −10000 + (R · 65536 + G · 256 + B) · 0.1.
double dem_pixel_height(DemEncoding encoding, std::uint8_t r, std::uint8_t g, std::uint8_t b);
// The heights of a decoded elevation tile's pixels, rows from the north (width × height values).
std::vector<float> dem_heights(const RgbImage& image, DemEncoding encoding);

}  // namespace vg
