// Elevation data: heights above sea level in metres for any place, from the .hgt files of the maps
// folder's dem/ and from the cached tiles of an elevation source. ElevationModel is what every user of
// heights reads (the pointer's height, the trip's climb figures, hillshade and relief); elevation_for
// gives the one model of a maps folder.
// Threads: a model's const members may be called from many threads at once. Ownership: models are
// shared; elevation_for keeps one per folder for the run. Failure: a place without data (outside every
// file, a void, an unreadable file) has no height (nullopt or NaN), never a made-up one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vg {

struct CatalogueEntry;

class ElevationModel {
public:
    virtual ~ElevationModel() = default;
    // The height at (lat, lon) in metres, interpolated bilinearly between the data's posts; nullopt
    // where there is no data.
    virtual std::optional<double> elevation(double lat, double lon) const = 0;
    // True when some data lies in the box (degrees): a cheap test before sampling a whole cell.
    virtual bool covers(double south, double west, double north, double east) const = 0;
};

// The heights of a web tile's pixel centres (zoom `z`, column `x`, row `y` from the north, `size`
// pixels a side) with a border of one pixel all round, row by row from the north west: (size + 2)²
// values, NaN where there is no data. False when the model has no data in the tile at all.
bool sample_web_tile(const ElevationModel& model, int z, std::uint32_t x, std::uint32_t y, int size,
                     std::vector<float>& out);

// The elevation model of the maps folder `root` (the .hgt files below <root>/dem, then the cached
// tiles of `dem_source` when given); null when the folder has no elevation data.
std::shared_ptr<const ElevationModel> elevation_for(const std::string& root, const CatalogueEntry* dem_source);

}  // namespace vg
