// Remote vector sources in the window's map layer: the test town's tiles served on the loopback
// address as a .pbf template, through a TileJSON and as a PMTiles archive read by ranges. The view
// fills with cells drawn from the fetched raw tiles (water where the town's lake is), night draws
// them again without a request, and off line the cached raw tiles still draw. vortool's path (the
// kind's synchronous fill) fetches and draws the same.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "app/map_layer.h"
#include "atlas/local_tiles.h"
#include "support/loopback_http_server.h"
#include "support/range_file.h"
#include "support/test_paths.h"
#include "support/town_pmtiles.h"
#include "support/vector_town.h"
#include "tiles/remote_vector.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_pack.h"

namespace vg {
namespace {

namespace fs = std::filesystem;

constexpr double kLake[2] = {47.5062, 10.0037};  // Mirror Lake (tests/data/vector/town.osm)
constexpr int kLevel = 4;                        // zoom 16, drawn from the zoom-14 tiles

// Serves the town: /t/Z/X/Y.pbf (plain protocol buffers), /town.json and /town.pmtiles (ranges).
class TownServer {
public:
    TownServer(const std::string& mbtiles, const std::string& pmtiles)
        : archive_(test::read_file(pmtiles)), server_([this](const std::string& r) { return answer(r); }) {
        std::string error;
        pack_ = open_tile_pack_shared(mbtiles, error);
    }
    std::string url(const std::string& path) const { return server_.url(path); }
    std::size_t requests() const { return server_.requests().size(); }
    // Requests after the first `from` for anything but a tile the town lacks.
    std::size_t served_since(std::size_t from) const {
        const auto all = server_.requests();
        const std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (std::size_t i = from; i < all.size(); ++i) n += missing_.count(path_of(all[i])) == 0;
        return n;
    }

private:
    static std::string path_of(const std::string& request) { return request.substr(4, request.find(' ', 4) - 4); }
    test::ScriptedReply answer(const std::string& request) {
        const std::string path = path_of(request);
        if (path == "/town.pmtiles") return archive_.answer(request);
        if (path == "/town.json")
            return reply(200, "application/json",
                         R"({"tilejson":"3.0.0","tiles":[")" + server_.url("/t/{z}/{x}/{y}.pbf") +
                             R"("],"minzoom":0,"maxzoom":14,"bounds":[9.9,47.4,10.1,47.6]})");
        int z = 0, x = 0, y = 0;
        if (pack_ && std::sscanf(path.c_str(), "/t/%d/%d/%d.pbf", &z, &x, &y) == 3)
            if (const auto bytes = pack_->tile(z, x, y))
                return reply(200, "application/x-protobuf", std::string(bytes->begin(), bytes->end()));
        const std::lock_guard lock(mutex_);
        missing_.insert(path);
        return reply(404, "text/plain", "no such tile");
    }
    static test::ScriptedReply reply(int status, const std::string& type, const std::string& body) {
        test::ScriptedReply r = test::ScriptedReply::make(status, type, body, true);
        r.keep_alive = true;
        return r;
    }
    mutable std::mutex mutex_;
    std::set<std::string> missing_;  // paths answered 404
    std::shared_ptr<const TilePack> pack_;
    test::RangeFile archive_;
    test::LoopbackHttpServer server_;
};

class RemoteVector : public ::testing::Test {
protected:
    void SetUp() override {
        atlas::install_local_tile_maker();
        set_vector_night_style(false);
    }
    void TearDown() override { set_vector_night_style(false); }

    // The layer's paints until the view is whole and nothing is on its way (bounded).
    static void settle(MapLayer& layer, const LayerSource& src) {
        DisplayBitmap bitmap;
        bool rebuild = false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            const bool more = layer.take_landed(src, bitmap, rebuild);
            if (!more && layer.tiles_left() == 0 && layer.cells_to_compose() == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ADD_FAILURE() << "the view did not settle";
    }
    // The blue and red of the lake's pixel in the layer's mosaic.
    static std::pair<int, int> lake_blue_red(const MapLayer& layer, const WorldPixel& p) {
        const Mosaic& m = layer.mosaic();
        const std::size_t at = 3 * (static_cast<std::size_t>(layer.mosaic_y(p.y)) * m.width +
                                    static_cast<std::size_t>(layer.mosaic_x(p.x)));
        if (at + 2 >= m.pixels.size()) return {0, 0};
        return {m.pixels[at + 2], m.pixels[at]};
    }

    test::TempDir dir_;
};

TEST_F(RemoteVector, TemplateTileJsonAndArchiveFillTheViewRedrawAtNightAndDrawOffLine) {
    VG_TOWN_MBTILES(town);
    const std::string pmtiles = (dir_.path() / "town.pmtiles").string();
    test::write_town_pmtiles(town, pmtiles);
    TownServer server(town, pmtiles);
    Catalogue catalogue = builtin_catalogue();
    read_sources_text("Tpl|map|" + server.url("/t/{z}/{x}/{y}.pbf") + "|||\n" +
                          "Tj|map|tilejson=" + server.url("/town.json") + "|||\n" +
                          "Pm|map|pmtiles=" + server.url("/town.pmtiles") + "|||\n",
                      catalogue);
    ASSERT_TRUE(catalogue.problems.empty()) << catalogue.problems.front();
    const WorldPixel lake = geo_to_pixel(kLake[0], kLake[1], MapSource::OpenStreetMap, kLevel);

    for (const char* name : {"Tpl", "Tj", "Pm"}) {
        SCOPED_TRACE(name);
        set_vector_night_style(false);
        const CatalogueEntry* entry = catalogue.find(name, false);
        ASSERT_NE(entry, nullptr);
        Fetcher fetcher;
        LayerSource src;
        src.source = MapSource::OpenStreetMap;
        src.root = (dir_.path() / "Maps").string();
        src.shown = src.drawn = src.context.entry = entry;
        src.context.fetcher = &fetcher;
        {
            MapLayer layer;
            layer.set_area(512, 512);
            layer.attach_loader(std::make_unique<TileLoader>(fetcher, [] {}));
            layer.set_notify([] {});
            ASSERT_EQ(layer.show(src, kLevel, lake.x, lake.y, MapLayer::Fetch::Later), MapLayer::Shown::Shown);
            settle(layer, src);
            auto [blue, red] = lake_blue_red(layer, lake);
            EXPECT_GT(blue, red + 30) << "the lake is water";
            EXPECT_TRUE(layer.shows_source_tiles());
            const std::size_t asked = server.requests();

            // Night: drawn again from the cached raw tiles, into a folder of its own, asking nothing.
            set_vector_night_style(true);
            ASSERT_EQ(layer.show(src, kLevel, lake.x, lake.y, MapLayer::Fetch::Later, true), MapLayer::Shown::Shown);
            settle(layer, src);
            const auto [night_blue, night_red] = lake_blue_red(layer, lake);
            EXPECT_LT(night_blue + night_red + 40, blue + red);
            EXPECT_EQ(server.served_since(asked), 0u) << "only the tiles the town lacks are asked again";
            layer.release_loader();
        }
        // Off line, without the drawn cells: the cached raw tiles draw the view.
        fs::remove_all(fs::path(src.root) / entry->own_folder() / "night");
        MapLayer off_line;
        off_line.set_area(512, 512);
        src.off_line = true;
        ASSERT_EQ(off_line.show(src, kLevel, lake.x, lake.y, MapLayer::Fetch::CacheOnly), MapLayer::Shown::Shown);
        settle(off_line, src);
        const auto [blue, red] = lake_blue_red(off_line, lake);
        EXPECT_GT(blue, red + 30);
        EXPECT_TRUE(off_line.shows_source_tiles());

        // vortool's way (fetch and render): the view fetched and drawn before it is used.
        TilePathTable table;
        FetchContext context;
        context.entry = entry;
        context.fetcher = &fetcher;
        const std::string fresh = (dir_.path() / "Fresh").string();
        ASSERT_TRUE(fetch_view_tiles(table, lake.x, lake.y, kLevel, MapSource::OpenStreetMap, fresh, false, false,
                                     context));
        int drawn = 0;
        for (const auto& slot : table.slots) drawn += !slot.empty() && fs::file_size(slot) > 0;
        EXPECT_GE(drawn, 4) << "the cells over the town";
        fs::remove_all(fresh);
    }
}

// A TileJSON is read whole or refused with the reason.
TEST(TileJson, GivesTemplatesZoomsAndBoundsOrIsRefused) {
    std::string error;
    const auto good = parse_tilejson(
        R"({"tiles":["ftp://no","https://a.example/{z}/{x}/{y}.pbf"],"minzoom":2,"maxzoom":14,)"
        R"("attribution":"<a>©</a> OSM","bounds":[-10,40,20,60]})",
        error);
    ASSERT_TRUE(good) << error;
    EXPECT_EQ(good->tiles, std::vector<std::string>{"https://a.example/{z}/{x}/{y}.pbf"});
    EXPECT_EQ(good->min_zoom, 2);
    EXPECT_EQ(good->max_zoom, 14);
    EXPECT_EQ(good->west, -10);
    EXPECT_EQ(good->north, 60);
    EXPECT_EQ(good->attribution, "© OSM");
    for (const char* bad : {"[]", "{", R"({"tiles":[]})", R"({"tiles":["file:///etc"]})",
                            R"({"tiles":["https://a/{z}"],"maxzoom":40})", R"({"tiles":["https://a/{z}"],"minzoom":9,"maxzoom":3})"}) {
        error.clear();
        EXPECT_FALSE(parse_tilejson(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace vg
