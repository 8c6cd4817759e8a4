#include "tiles/hgt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vg {
namespace {

bool digits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return !s.empty();
}

int value_of(std::string_view s) {
    int v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return v;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::optional<HgtCell> parse_hgt_name(std::string_view name) {
    // N60E024.hgt: hemisphere, two digits, hemisphere, three digits, ".hgt".
    if (name.size() != 11) return std::nullopt;
    const std::string_view ext = name.substr(7);
    if (ext[0] != '.' || upper(ext[1]) != 'H' || upper(ext[2]) != 'G' || upper(ext[3]) != 'T') return std::nullopt;
    const char ns = upper(name[0]), ew = upper(name[3]);
    if ((ns != 'N' && ns != 'S') || (ew != 'E' && ew != 'W')) return std::nullopt;
    if (!digits(name.substr(1, 2)) || !digits(name.substr(4, 3))) return std::nullopt;
    const int lat = value_of(name.substr(1, 2)), lon = value_of(name.substr(4, 3));
    const HgtCell cell{ns == 'N' ? lat : -lat, ew == 'E' ? lon : -lon};
    if (cell.south < -90 || cell.south > 89 || cell.west < -180 || cell.west > 179) return std::nullopt;
    return cell;
}

std::string hgt_file_name(HgtCell cell) {
    char text[16];
    const int lat = std::abs(cell.south), lon = std::abs(cell.west);
    std::snprintf(text, sizeof text, "%c%02d%c%03d.hgt", cell.south < 0 ? 'S' : 'N', lat % 100,
                  cell.west < 0 ? 'W' : 'E', lon % 1000);
    return text;
}

std::optional<HgtCell> hgt_cell_of(double lat, double lon) {
    if (!std::isfinite(lat) || !std::isfinite(lon) || lat < -90.0 || lat > 90.0) return std::nullopt;
    lon = std::fmod(lon, 360.0);
    if (lon >= 180.0) lon -= 360.0;
    if (lon < -180.0) lon += 360.0;
    const int south = std::min(89, static_cast<int>(std::floor(lat)));
    const int west = std::min(179, static_cast<int>(std::floor(lon)));
    return HgtCell{south, west};
}

int hgt_side(std::uintmax_t length) {
    for (int s : {3601, 1201})
        if (length == std::uintmax_t(s) * s * 2) return s;
    return 0;
}

std::string hgt_length_problem(std::uintmax_t length) {
    if (hgt_side(length)) return {};
    return "a .hgt file holds 3601 × 3601 or 1201 × 1201 posts of two bytes (25934402 or 2884802 bytes), not " +
           std::to_string(length) + " bytes";
}

std::optional<HgtTile> HgtTile::from_bytes(std::span<const std::uint8_t> bytes, HgtCell cell, std::string* why,
                                           std::shared_ptr<const void> keep) {
    const int side = hgt_side(bytes.size());
    if (side == 0) {
        if (why) *why = hgt_length_problem(bytes.size());
        return std::nullopt;
    }
    HgtTile tile;
    tile.cell_ = cell;
    tile.side_ = side;
    tile.bytes_ = bytes;
    tile.keep_ = std::move(keep);
    return tile;
}

std::optional<int> HgtTile::post(int row, int column) const {
    if (row < 0 || column < 0 || row >= side_ || column >= side_) return std::nullopt;
    const std::size_t at = (std::size_t(row) * side_ + column) * 2;
    const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes_[at] << 8 | bytes_[at + 1]));
    if (v == kHgtVoid) return std::nullopt;
    return v;
}

std::optional<double> HgtTile::elevation(double lat, double lon) const {
    const double north = cell_.south + 1.0;
    const double fr = (north - lat) * (side_ - 1), fc = (lon - cell_.west) * (side_ - 1);
    if (!(fr >= 0.0 && fc >= 0.0 && fr <= side_ - 1 && fc <= side_ - 1)) return std::nullopt;  // NaN too
    const int r0 = std::min(side_ - 2, static_cast<int>(fr)), c0 = std::min(side_ - 2, static_cast<int>(fc));
    const double dr = fr - r0, dc = fc - c0;
    const double weights[4] = {(1 - dr) * (1 - dc), (1 - dr) * dc, dr * (1 - dc), dr * dc};
    const int rows[4] = {r0, r0, r0 + 1, r0 + 1}, columns[4] = {c0, c0 + 1, c0, c0 + 1};
    double sum = 0.0, weight = 0.0;
    for (int i = 0; i < 4; ++i) {
        if (weights[i] <= 0.0) continue;
        if (const auto h = post(rows[i], columns[i])) {
            sum += weights[i] * *h;
            weight += weights[i];
        }
    }
    if (weight <= 0.0) return std::nullopt;
    return sum / weight;
}

}  // namespace vg
