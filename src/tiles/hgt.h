// SRTM height files (.hgt): a square of big-endian signed 16-bit heights in metres, rows from the
// north, covering one degree of latitude and longitude whose south-west corner the file's name gives
// (N60E024.hgt: 60° N, 24° E; S34W071.hgt: 34° S, 71° W). 1″ files hold 3601 × 3601 posts, 3″ files
// 1201 × 1201; neighbouring files share their edge rows and columns. -32768 marks a void.
// Pure: bytes in, heights out; nothing here touches the disk. Threads: an HgtTile is immutable once
// made, so its const members may be called from many threads. Ownership: a tile reads the bytes it
// was made from (a mapped file), which `keep` keeps alive, or the caller while the tile is used.
// Failure: a file of any other length is refused with a reason; a void (or a place outside the
// tile) has no height.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vg {

inline constexpr std::int16_t kHgtVoid = -32768;

// The whole degree a file covers, by its south-west corner.
struct HgtCell {
    int south = 0;  // -90 .. 89
    int west = 0;   // -180 .. 179
    bool operator==(const HgtCell&) const = default;
};

// The cell of a file name ("N60E024.hgt", letters in either case); nullopt for any other name.
std::optional<HgtCell> parse_hgt_name(std::string_view file_name);
// The file name of a cell ("S34W071.hgt").
std::string hgt_file_name(HgtCell cell);
// The cell holding (lat, lon): the one whose south-west corner is (floor lat, floor lon), longitude
// taken round the world (180° E is 180° W), the north pole falling in the cells below it.
// nullopt for a latitude outside -90 .. 90 or a coordinate that is not a number.
std::optional<HgtCell> hgt_cell_of(double lat, double lon);

// Posts a side of a file of `length` bytes: 3601, 1201, or 0 for any other length.
int hgt_side(std::uintmax_t length);
// Why a file of `length` bytes is no .hgt file; empty when its length is one.
std::string hgt_length_problem(std::uintmax_t length);

class HgtTile {
public:
    // The posts of a file's bytes, read in place; nullopt, with the reason in `*why` when given,
    // unless the length is that of a 3601² or 1201² file.
    static std::optional<HgtTile> from_bytes(std::span<const std::uint8_t> bytes, HgtCell cell,
                                             std::string* why = nullptr, std::shared_ptr<const void> keep = {});

    HgtCell cell() const { return cell_; }
    // Posts a side: 3601 or 1201.
    int side() const { return side_; }
    // Post (row from the north, column from the west); nullopt for a void or outside the file.
    std::optional<int> post(int row, int column) const;
    // The height at (lat, lon) inside the cell (its edges included), bilinear between the four
    // surrounding posts; a void post is left out and the others' weights renormalised, so only a
    // place whose weighted posts are all void has no height (nullopt, as outside the cell).
    std::optional<double> elevation(double lat, double lon) const;

private:
    HgtTile() = default;
    HgtCell cell_;
    int side_ = 0;
    std::span<const std::uint8_t> bytes_;  // big-endian posts
    std::shared_ptr<const void> keep_;
};

}  // namespace vg
