// Names of places, streets, points of interest and house numbers of a vector pack, in an SQLite FTS5
// index kept beside the pack ("<pack file>.search.sqlite"), searched off line.
//
// fold_for_search: the one folding of texts for the index and for queries. FTS5's unicode61
// tokenizer (remove_diacritics 2) folds case in every script and the accents of Latin letters; this
// adds what it leaves (Greek tonos and dialytika, Cyrillic yo, final sigma, sharp s), so "Κατω
// μυλος" finds "Κάτω Μύλος" and "Березовка" finds "Берёзовка". Invalid UTF-8 becomes spaces.
//
// names_of_tile: the named features of one decoded tile (pure). Every layer's features with a
// `name` property (and its language variants, name:xx and name_xx, as further names of the same
// place) and the `housenumber` layer's numbers; the place is a point's position, the point halfway
// along a line, the middle of a polygon's outer ring's box.
//
// IndexWriter makes an index file (temporary file renamed into place by finish(); a killed build
// leaves no index). build_pack_index reads the tiles of the pack's deepest zoom (where every feature
// is), merges the pieces of one street cut by tile borders (same name and kind within 1.5 km) and
// writes the index with the pack's size and modification time, so index_is_current sees a changed
// pack. Progress and cancellation through a callback (tiles done, tiles in all) on the caller's
// thread.
//
// PlaceIndex answers queries: every word of the query must start a word of a name (prefix match),
// results ranked by text match (exact name, name starting with the query, other; bm25 between equals)
// and distance from `from`. A query that matches more than 5000 names (one common word, two letters)
// ranks the first 5000 SQLite finds: type more to narrow it.
// Threads: one PlaceIndex per thread (SQLite connection); builds of different packs may run at once.
// Failure: a damaged or foreign index file is refused at open with the reason (and rebuilt by the
// caller); a query that FTS5 refuses gives no results, never an exception.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/coordinates.h"

struct sqlite3;

namespace vg {
class TilePack;
namespace mvt {
struct Tile;
}
}  // namespace vg

namespace vg::search {

std::string fold_for_search(std::string_view text);

struct Place {
    std::string name;               // as the pack spells it (the first of its names)
    std::vector<std::string> also;  // the other names of the same place (other languages)
    std::string kind;               // the layer, and its class when the feature has one ("place/town")
    double lat = 0, lon = 0;
};

// A named feature of one tile: its place and, for a line, the length of its piece in this tile (in
// tile widths; 0 for points and polygons), which weighs the pieces of a street cut by tile borders.
struct NamedPiece {
    Place place;
    double length = 0;
};

// The named features of tile (z, x, y) (rows from the north).
std::vector<NamedPiece> names_of_tile(const mvt::Tile& tile, int z, int x, int y);

// "<pack>.search.sqlite".
std::string index_path_for(const std::string& pack_path);

class IndexWriter {
public:
    static std::unique_ptr<IndexWriter> create(const std::string& path, std::string& error);
    ~IndexWriter();  // an unfinished index is removed
    IndexWriter(const IndexWriter&) = delete;
    IndexWriter& operator=(const IndexWriter&) = delete;
    bool add(const Place& place);
    // The pack this index was made from (compared by index_is_current).
    void set_source(std::uint64_t size, std::int64_t mtime);
    bool finish(std::string& error);

private:
    IndexWriter() = default;
    sqlite3* db_ = nullptr;
    struct Statements;
    std::unique_ptr<Statements> st_;
    std::string path_, temp_;
    std::uint64_t size_ = 0;
    std::int64_t mtime_ = 0;
    bool failed_ = false;
};

// Called with (tiles read, tiles in all); returning false stops the build (an error "cancelled").
using BuildProgress = std::function<bool(std::size_t done, std::size_t total)>;

// Builds the index of `pack` at `index_path`. False with `error` when the pack's tiles cannot be
// listed or the index cannot be written; tiles that do not decode are skipped.
bool build_pack_index(const TilePack& pack, const std::string& index_path, const BuildProgress& progress,
                      std::string& error);

// Whether the index at `index_path` was made from the pack file as it is now.
bool index_is_current(const std::string& pack_path, const std::string& index_path);

struct Result {
    Place place;
    double score = 0;       // lower is better
    double distance_m = -1; // from `from`, -1 without it
    std::string pack;       // which index it came from (set by callers that search several)
};

class PlaceIndex {
public:
    static std::unique_ptr<PlaceIndex> open(const std::string& path, std::string& error);
    ~PlaceIndex();
    PlaceIndex(const PlaceIndex&) = delete;
    PlaceIndex& operator=(const PlaceIndex&) = delete;
    // The best `limit` places for `query`, best first.
    std::vector<Result> search(std::string_view query, std::optional<LatLon> from, std::size_t limit) const;
    std::size_t size() const;  // names in the index

private:
    PlaceIndex() = default;
    sqlite3* db_ = nullptr;
};

// The FTS5 query of a user's text: each folded word a quoted prefix term; "" when no word is left.
std::string match_expression(std::string_view query);

}  // namespace vg::search
