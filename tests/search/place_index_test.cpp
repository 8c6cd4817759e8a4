// The place index of a real producer's pack (the test town by tilemaker): every name in the pack's
// tiles is found, in Latin, Cyrillic and Greek, without accents and in any case; the nearest of
// equal names comes first; a changed pack makes the index stale.
#include "search/place_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/test_paths.h"
#include "support/town_pmtiles.h"
#include "support/vector_town.h"
#include "tiles/mvt.h"
#include "tiles/tile_pack.h"

namespace vg::search {
namespace {

// Every name and house number the pack's tiles hold, at any zoom.
std::set<std::string> names_in_pack(const TilePack& pack) {
    std::set<std::string> names;
    for (int z = pack.min_zoom(); z <= pack.max_zoom(); ++z) {
        const auto tiles = pack.tiles_at(z);
        EXPECT_TRUE(tiles && !tiles->empty()) << z;
        for (const auto& [x, y] : tiles.value_or(std::vector<std::pair<int, int>>{})) {
            std::string error;
            const auto bytes = pack.tile(z, x, y);
            if (!bytes) continue;  // an empty tile
            const auto tile = mvt::decode({reinterpret_cast<const char*>(bytes->data()), bytes->size()}, error);
            EXPECT_TRUE(tile) << error;
            if (!tile) continue;
            for (const auto& layer : tile->layers)
                for (const auto& f : layer.features)
                    for (const char* key : {"name", "name:latin", "name:nonlatin", "housenumber"})
                        if (const auto* v = layer.property(f, key); v && v->kind == mvt::Value::Kind::String)
                            names.insert(v->string);
        }
    }
    return names;
}

bool finds(const PlaceIndex& index, const std::string& query, const std::string& name) {
    for (const auto& r : index.search(query, std::nullopt, 50))
        if (r.place.name == name) return true;
    return false;
}

class TownIndex : public ::testing::Test {
protected:
    void build(const std::string& pack_path) {
        std::string error;
        pack_ = TilePack::open(pack_path, error);
        ASSERT_TRUE(pack_) << error;
        index_path_ = (dir_ / "town.search.sqlite").string();
        std::size_t last_done = 0, calls = 0;
        ASSERT_TRUE(build_pack_index(*pack_, index_path_,
                                     [&](std::size_t done, std::size_t total) {
                                         EXPECT_LE(done, total);
                                         EXPECT_GE(done, last_done);
                                         last_done = done;
                                         ++calls;
                                         return true;
                                     },
                                     error))
            << error;
        EXPECT_GT(calls, 1U);
        index_ = PlaceIndex::open(index_path_, error);
        ASSERT_TRUE(index_) << error;
    }
    test::TempDir dir_;
    std::unique_ptr<TilePack> pack_;
    std::string index_path_;
    std::unique_ptr<PlaceIndex> index_;
};

TEST_F(TownIndex, EveryNameOfTheMbtilesAndPmtilesPacksIsFoundInEveryScript) {
    VG_TOWN_MBTILES(mbtiles);
    const std::string pmtiles = (dir_ / "town.pmtiles").string();
    test::write_town_pmtiles(mbtiles, pmtiles);
    for (const std::string& pack : {mbtiles, pmtiles}) {
        SCOPED_TRACE(pack);
        build(pack);
        if (HasFatalFailure()) return;
        const std::set<std::string> names = names_in_pack(*pack_);
        for (const char* n : {"Lakeford", "Берёзовка", "Κάτω Μύλος", "High Street", "Church Road", "Mill Lane",
                              "Улица Мира", "Lakeside Path", "Mirror Lake", "Silver River", "7"})
            EXPECT_TRUE(names.count(n)) << n << " is not in the pack";
        for (const std::string& n : names) EXPECT_TRUE(finds(*index_, n, n)) << n;
        // Without accents, in other cases, by prefix, by another language's name.
        EXPECT_TRUE(finds(*index_, "березовка", "Берёзовка"));
        EXPECT_TRUE(finds(*index_, "БЕРЕЗ", "Берёзовка"));
        EXPECT_TRUE(finds(*index_, "κατω μυλος", "Κάτω Μύλος"));
        EXPECT_TRUE(finds(*index_, "ΚΑΤΩ ΜΥΛ", "Κάτω Μύλος"));
        EXPECT_TRUE(finds(*index_, "улица мира", "Улица Мира"));
        EXPECT_TRUE(finds(*index_, "high str", "High Street"));
        EXPECT_TRUE(finds(*index_, "lakeFORD", "Lakeford"));
        EXPECT_FALSE(finds(*index_, "High Road", "High Street"));
        EXPECT_TRUE(index_->search("Nowhere Boulevard", std::nullopt, 10).empty());
        EXPECT_TRUE(index_->search("\"*) OR (", std::nullopt, 10).empty());
        // The town's node is at 47.5030, 10.0065: the place is put within a few metres of it, and a
        // street cut by tile borders is one result.
        const auto town = index_->search("Lakeford", LatLon{47.5, 10.0}, 10);
        ASSERT_FALSE(town.empty());
        EXPECT_EQ(town.front().place.name, "Lakeford");
        EXPECT_EQ(town.front().place.kind, "place/town");
        EXPECT_NEAR(town.front().place.lat, 47.5030, 1e-4);
        EXPECT_NEAR(town.front().place.lon, 10.0065, 1e-4);
        EXPECT_NEAR(town.front().distance_m, 592, 10);
        EXPECT_EQ(index_->search("High Street", std::nullopt, 10).size(), 1U);
        // A street's place is on it near its middle (Church Road runs from 47.4995 to 47.5085,
        // halfway at 47.5040), not at its middle vertex, the crossing with High Street (47.5020).
        const auto church = index_->search("Church Road", std::nullopt, 10);
        ASSERT_EQ(church.size(), 1U);
        EXPECT_NEAR(church.front().place.lat, 47.5040, 0.0015);
        EXPECT_NEAR(church.front().place.lon, 10.0062, 0.0002);
        EXPECT_TRUE(index_is_current(pack, index_path_));
    }
}

TEST(PlaceIndex, RanksExactNamesFirstThenTheNearest) {
    test::TempDir dir;
    const std::string path = (dir / "places.search.sqlite").string();
    std::string error;
    auto writer = IndexWriter::create(path, error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->add({"Mill Lane", {}, "transportation_name/minor", 51.0, 0.0}));
    ASSERT_TRUE(writer->add({"Mill Lane", {}, "transportation_name/minor", 48.0, 2.0}));
    ASSERT_TRUE(writer->add({"Millbrook Lane", {}, "transportation_name/minor", 48.0, 2.0}));
    ASSERT_TRUE(writer->add({"Old Mill Lane", {}, "transportation_name/minor", 48.0, 2.0}));
    ASSERT_TRUE(writer->add({"Straße der Einheit", {"Unity Street"}, "transportation_name/minor", 52, 13}));
    ASSERT_TRUE(writer->finish(error)) << error;
    auto index = PlaceIndex::open(path, error);
    ASSERT_TRUE(index) << error;
    EXPECT_EQ(index->size(), 5U);
    const auto near_paris = index->search("mill lane", LatLon{48.0, 2.0}, 10);
    // Every name holding both words' prefixes; the exact name here first, the partial ones here
    // before the exact one 364 km away.
    ASSERT_EQ(near_paris.size(), 4U);
    EXPECT_EQ(near_paris[0].place.lat, 48.0);
    EXPECT_EQ(near_paris[0].place.name, "Mill Lane");
    EXPECT_EQ(near_paris[3].place.name, "Mill Lane");
    EXPECT_NEAR(near_paris[3].distance_m, 364e3, 1e3);
    EXPECT_EQ(index->search("mill lane", LatLon{51.0, 0.0}, 1).at(0).place.lat, 51.0);
    EXPECT_EQ(index->search("strasse einheit", std::nullopt, 5).size(), 1U);
    EXPECT_EQ(index->search("unity", std::nullopt, 5).at(0).place.also, std::vector<std::string>{"Unity Street"});

    // Not an index: refused with the reason; a missing pack makes every index stale.
    test::write_file((dir / "junk.search.sqlite").string(), "not a database");
    EXPECT_FALSE(PlaceIndex::open((dir / "junk.search.sqlite").string(), error));
    EXPECT_NE(error.find("junk.search.sqlite"), std::string::npos);
    EXPECT_FALSE(index_is_current((dir / "gone.mbtiles").string(), path));
}

TEST(PlaceIndex, FoldingLeavesNoAccentOrCaseInAnyScript) {
    EXPECT_EQ(fold_for_search("Κάτω Μύλος"), "κατω μυλοσ");
    EXPECT_EQ(fold_for_search("БЕРЁЗОВКА"), "березовка");
    EXPECT_EQ(fold_for_search("Straße"), "Strasse");  // ASCII case is left to FTS5
    EXPECT_EQ(fold_for_search("E\xCC\x81"), "E");  // decomposed accent dropped (case left to FTS5)
    EXPECT_EQ(fold_for_search("a\xFF\xC3z"), "a  z");
    EXPECT_EQ(match_expression("  High-Street \"x\" "), "\"High\"* \"Street\"* \"x\"*");
    EXPECT_EQ(match_expression("*()"), "");
}

}  // namespace
}  // namespace vg::search
