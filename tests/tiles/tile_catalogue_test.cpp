// The tile source catalogue: the built-in list, vor_src.txt lines over it, and template expansion.
#include "tiles/tile_catalogue.h"

#include <gtest/gtest.h>

#include "support/test_paths.h"
#include "tiles/local_source.h"
#include "tiles/source_kind.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

TEST(TileCatalogue, BuiltInSourcesKeepTheirPlacesAndOpenStreetMapGoesOverHttps) {
    const Catalogue c = builtin_catalogue();
    EXPECT_EQ(c.names(), (std::vector<std::string>{"Etopo2", "OpenStreetMap", "GoogleMaps", "VirtualEarth", "MapQuest",
                                                   "OpenTopoMap", "Atlas", "OpenFreeMap"}));
    const auto* osm = c.find("OpenStreetMap", false);
    ASSERT_NE(osm, nullptr);
    EXPECT_EQ(osm->tmpl, "https://tile.openstreetmap.org/{z}/{x}/{y}.png");
    EXPECT_EQ(osm->menu_id, Command::OpenStreetMap);
    EXPECT_EQ(osm->attribution, "© OpenStreetMap contributors");
    EXPECT_TRUE(osm->nobulk);
    EXPECT_EQ(osm->conn, 2);
    EXPECT_EQ(osm->fresh_days, 7);
    EXPECT_TRUE(osm->uses_fetcher());
    EXPECT_EQ(osm->cache_folder(), "OS");
    EXPECT_EQ(*expand_template(*osm, 0, 5, 3), "https://tile.openstreetmap.org/4/3/5.png");
    for (const char* name : {"Etopo2", "GoogleMaps", "VirtualEarth", "MapQuest"}) {
        EXPECT_EQ(c.find(name, false)->kind, SourceKind::legacy) << name;
        EXPECT_FALSE(c.find(name, false)->uses_fetcher()) << name;
    }
    EXPECT_EQ(c.find("VirtualEarth", true)->cache_folder(), "VE");
    EXPECT_EQ(c.find("VirtualEarth", true)->extension(), "jpg");
    EXPECT_EQ(c.find("OpenTopoMap", false)->menu_id, Command::OpenTopoMap);
    EXPECT_FALSE(c.find("OpenTopoMap", false)->attribution.empty());
    EXPECT_EQ(c.find_menu_id(Command::VirtualEarth)->name, "VirtualEarth");
    EXPECT_FALSE(c.find_menu_id(Command::VirtualEarth)->aerial);
    EXPECT_EQ(c.find_menu_id(Command::Atlas)->name, "Atlas");
}

// Each kind of source answers the questions about its tiles in one place.
TEST(TileCatalogue, EachKindAnswersForItsOwnTiles) {
    Catalogue c = builtin_catalogue();
    read_sources_text("MapQuest|map|https://mq.example/{z}/{x}/{y}.png||a|\n", c);
    CatalogueEntry pack;
    pack.name = "Lake";
    pack.kind = SourceKind::pack;
    const CatalogueEntry& osm = *c.find("OpenStreetMap", false);
    const CatalogueEntry& google = *c.find("GoogleMaps", false);
    const CatalogueEntry& etopo = *c.find("Etopo2", false);
    const CatalogueEntry& atlas = *c.find("Atlas", false);
    const CatalogueEntry& plain_osm = original_form(MapSource::OpenStreetMap, false);
    const FetchContext context;
    const TileKey key{MapSource::OpenStreetMap, false, 0, 5, 3};
    auto address = [&](const CatalogueEntry& e, const TileKey& k) { return tile_source_kind(e).address(e, k, context); };

    EXPECT_STREQ(tile_source_kind(osm).name(), "remote");
    EXPECT_EQ(address(osm, key), "https://tile.openstreetmap.org/4/3/5.png");
    EXPECT_TRUE(tile_source_kind(osm).uses_fetcher());
    EXPECT_TRUE(tile_source_kind(osm).has_fine_tiles(osm));
    EXPECT_FALSE(tile_source_kind(osm).made_here(osm));
    // Its old plain-http form keeps the same folder.
    EXPECT_STREQ(tile_source_kind(plain_osm).name(), "original");
    EXPECT_EQ(address(plain_osm, key), "http://tile.openstreetmap.org/4/3/5.png");
    EXPECT_EQ(tile_source_kind(plain_osm).cached_at(plain_osm, key, "/m").full_path,
              tile_source_kind(osm).cached_at(osm, key, "/m").full_path);
    EXPECT_FALSE(tile_source_kind(plain_osm).uses_fetcher());
    EXPECT_FALSE(tile_source_kind(plain_osm).has_fine_tiles(plain_osm));
    // Hosts given explicitly keep a built-in original on that form; a user's line stays itself.
    EXPECT_EQ(&fetched_form(osm, true), &plain_osm);
    EXPECT_EQ(&fetched_form(osm, false), &osm);
    EXPECT_EQ(&fetched_form(atlas, true), &atlas);
    EXPECT_EQ(&fetched_form(*c.find("MapQuest", false), true), c.find("MapQuest", false));

    EXPECT_EQ(address(google, {MapSource::GoogleMaps, false, 0, 5, 3}), "http://mt0.google.com/vt/x=3&y=5&z=4");
    // A template over MapQuest's geometry (rows from the south) has no next web zoom to refine with.
    const CatalogueEntry& mapquest = *c.find("MapQuest", false);
    EXPECT_TRUE(tile_source_kind(mapquest).uses_fetcher());
    EXPECT_FALSE(tile_source_kind(mapquest).has_fine_tiles(mapquest));

    // Etopo2's relief is made here only while a program has installed the local maker.
    set_local_tile_maker(nullptr);
    EXPECT_TRUE(tile_source_kind(etopo).drawn_by_maker(etopo));
    EXPECT_FALSE(tile_source_kind(etopo).made_here(etopo));
    EXPECT_EQ(address(etopo, {MapSource::Etopo2, false, 0, 1, 1}), std::nullopt);
    set_local_tile_maker(+[](const LocalTileRequest&, const std::string&) { return false; });
    EXPECT_TRUE(tile_source_kind(etopo).made_here(etopo));
    EXPECT_FALSE(tile_source_kind(google).made_here(google));
    set_local_tile_maker(nullptr);

    for (const CatalogueEntry* e : {&atlas, static_cast<const CatalogueEntry*>(&pack)}) {
        const TileSourceKind& kind = tile_source_kind(*e);
        EXPECT_TRUE(kind.made_here(*e)) << e->name;
        EXPECT_FALSE(kind.uses_fetcher()) << e->name;
        EXPECT_FALSE(kind.has_fine_tiles(*e)) << e->name;
        EXPECT_EQ(address(*e, key), std::nullopt) << e->name;
    }
    EXPECT_STREQ(tile_source_kind(atlas).name(), "local");
    EXPECT_TRUE(tile_source_kind(atlas).drawn_by_maker(atlas));
    EXPECT_STREQ(tile_source_kind(pack).name(), "pack");
    EXPECT_FALSE(tile_source_kind(pack).drawn_by_maker(pack));
}

// A script names a source by its menu id: the id follows the name, whatever the lines around it.
TEST(TileCatalogue, MenuIdsFollowTheNamesNotTheOrderOfTheLines) {
    const std::string topo = "MyTopo|map|https://tiles.example.org/{z}/{x}/{y}.png||a|\n";
    const std::string sat = "MyTopo|aerial|https://sat.example.org/{z}/{x}/{y}.jpg||a|\n";
    const std::string local = "Local|map|http://127.0.0.1:8080/{z}/{x}/{y}.png||a|\n";
    Catalogue before = builtin_catalogue();
    read_sources_text(topo + local + sat, before);
    Catalogue after = builtin_catalogue();
    read_sources_text("New|map|https://new.example/{z}/{x}/{y}.png||a|\n" + sat + local + topo +
                          "SatOnly|aerial|https://s.example/{z}/{x}/{y}.jpg||a|\n",
                      after);
    ASSERT_TRUE(before.problems.empty() && after.problems.empty());
    // The ids of this scheme are part of users' scripts: pinned.
    EXPECT_EQ(command_id(before.find("MyTopo", false)->menu_id), 49295);
    EXPECT_EQ(command_id(before.find("Local", false)->menu_id), 23176);
    for (const Catalogue* c : {&before, &after}) {
        EXPECT_EQ(c->find("MyTopo", false)->menu_id, catalogue_home_id("MyTopo"));
        EXPECT_EQ(c->find("MyTopo", true)->menu_id, catalogue_home_id("MyTopo")) << "both layers share the id";
        EXPECT_EQ(c->find("Local", false)->menu_id, catalogue_home_id("Local"));
        EXPECT_EQ(c->find_menu_id(catalogue_home_id("MyTopo")), c->find("MyTopo", false));
    }
    const auto names = after.names();
    EXPECT_EQ(std::vector<std::string>(names.end() - 4, names.end()),
              (std::vector<std::string>{"New", "MyTopo", "Local", "SatOnly"}))
        << "the menu keeps the order of the lines";
    // A name's source is its map layer, else its only layer.
    EXPECT_EQ(after.source("MyTopo"), after.find("MyTopo", false));
    EXPECT_EQ(after.find_menu_id(catalogue_home_id("SatOnly")), after.find("SatOnly", true));
    EXPECT_EQ(after.sources().back(), after.find("SatOnly", true));

    // Two names of one home id, here the last id of the range: the first in byte order keeps it,
    // the other takes the next free one, wrapping round to the first id of the range, in whichever
    // order the lines come.
    std::vector<std::string> last;
    for (int n = 0; last.size() < 2; ++n)
        if (const std::string name = "n" + std::to_string(n); catalogue_home_id(name) == Command::CatalogueLast)
            last.push_back(name);
    ASSERT_LT(last[0], last[1]);
    auto line = [](const std::string& name) { return name + "|map|https://x.example/{z}/{x}/{y}.png||a|\n"; };
    for (const std::string& text : {line(last[0]) + line(last[1]), line(last[1]) + line(last[0])}) {
        Catalogue c = builtin_catalogue();
        read_sources_text(text, c);
        EXPECT_EQ(c.find(last[0], false)->menu_id, Command::CatalogueLast);
        EXPECT_EQ(c.find(last[1], false)->menu_id, Command::CatalogueFirst);
    }
    // No fixed command lies in the range, and every id of the range is a command.
    for (int id = 0; id < 70000; ++id) {
        const auto command = command_from_id(id);
        const bool in_range = id >= command_id(Command::CatalogueFirst) && id <= command_id(Command::CatalogueLast);
        EXPECT_EQ(command.has_value() && is_catalogue_command(*command), in_range) << id;
        if (command && !in_range) {
            EXPECT_LT(id, command_id(Command::CatalogueFirst)) << id;
        }
    }

    // Past kMaxAddedNames names a line is refused with its line number.
    std::string many;
    for (int n = 0; n <= kMaxAddedNames; ++n) many += line("s" + std::to_string(n));
    Catalogue full = builtin_catalogue();
    read_sources_text(many, full);
    EXPECT_EQ(full.problems, (std::vector<std::string>{"vor_src.txt:" + std::to_string(kMaxAddedNames + 1) +
                                                        ": no menu place left for another source"}));
    EXPECT_EQ(full.find("s" + std::to_string(kMaxAddedNames), false), nullptr);
}

TEST(TileCatalogue, UserLinesAddAndReplaceSourcesAndMalformedLinesAreReportedAndSkipped) {
    Catalogue c = builtin_catalogue();
    read_sources_text("# my sources\r\n"
                      "\n"
                      "MyTopo|map|https://tiles.example.org/{z}/{x}/{y}.png|4,7,10,13,16|© Example contributors|conn=2,nobulk,fresh=7\n"
                      "Local|map|http://127.0.0.1:8080/tms/{z}/{x}/{-y}.jpg|4,7,10||conn=6,fresh=0\r\n"
                      "OpenStreetMap|map|https://osm.example.net/{z}/{x}/{y}.png||© OpenStreetMap contributors|\n"
                      "Bad|map|https://x.example/{z}/{x}/{y}.png|4|a\n"
                      "Bad|road|https://x.example/{z}/{x}/{y}.png||a|\n"
                      "Bad|map|ftp://x.example/{z}.png||a|\n"
                      "Bad|map|https://x.example/{zoom}/{x}.png||a|\n"
                      "Bad|map|https://x.example/{z}/{x}/{y}.png|4,8|a|\n"
                      "Bad|map|https://x.example/{z}/{x}/{y}.png||a|conn=0\n"
                      "Bad|map|https://x.example/{z}/{x}/{y}.png||a|fast\n"
                      "../etc|map|https://x.example/{z}/{x}/{y}.png||a|\n"
                      "MyTopo|aerial|https://sat.example.org/{q}.jpg?key={key}||© Sat|servers=s1,s2\n",
                      c);
    EXPECT_EQ(c.problems, (std::vector<std::string>{
                              "vor_src.txt:6: expected 6 fields separated by |, found 5",
                              "vor_src.txt:7: layer must be map or aerial",
                              "vor_src.txt:8: template must start with http:// or https://",
                              "vor_src.txt:9: unknown placeholder {zoom}",
                              "vor_src.txt:10: zoom of level 1 must be 7",
                              "vor_src.txt:11: conn must be 1 to 16",
                              "vor_src.txt:12: unknown flag fast",
                              "vor_src.txt:13: name must be 1 to 40 letters, digits, '-', '_' or '.'",
                          }));
    EXPECT_EQ(c.names(), (std::vector<std::string>{"Etopo2", "OpenStreetMap", "GoogleMaps", "VirtualEarth", "MapQuest",
                                                   "OpenTopoMap", "Atlas", "OpenFreeMap", "MyTopo", "Local"}));
    const auto* topo = c.find("MyTopo", false);
    ASSERT_NE(topo, nullptr);
    EXPECT_EQ(topo->menu_id, catalogue_home_id("MyTopo"));
    EXPECT_EQ(topo->attribution, "© Example contributors");
    EXPECT_TRUE(topo->nobulk);
    EXPECT_EQ(topo->cache_folder(), "MyTopo");
    const auto* sat = c.find("MyTopo", true);
    ASSERT_NE(sat, nullptr);
    EXPECT_EQ(sat->menu_id, topo->menu_id);
    EXPECT_EQ(sat->servers, (std::vector<std::string>{"s1", "s2"}));
    EXPECT_EQ(sat->extension(), "jpg");
    const auto* local = c.find("Local", false);
    EXPECT_EQ(local->menu_id, catalogue_home_id("Local"));
    EXPECT_EQ(local->conn, 6);
    EXPECT_EQ(local->fresh_days, 0);
    EXPECT_TRUE(local->has_level(2));
    EXPECT_FALSE(local->has_level(3));
    const auto* osm = c.find("OpenStreetMap", false);
    EXPECT_EQ(osm->menu_id, Command::OpenStreetMap);
    EXPECT_EQ(osm->cache_folder(), "OS");
    EXPECT_TRUE(osm->from_user_file);
    EXPECT_FALSE(osm->nobulk) << "the user line replaces the built-in one whole";
}

TEST(TileCatalogue, ElevationSourcesAreReadButAreNoMapsToChoose) {
    Catalogue c = builtin_catalogue();
    read_sources_text("Terrain|map|https://t.example/terrarium/{z}/{x}/{y}.png|4,7,10,13|Terrain Tiles|kind=dem,maxzoom=15\n"
                      "Rgb|map|https://r.example/{z}/{x}/{y}.png?key={key}||MapTiler|dem=terrainrgb,kind=dem,nobulk\n"
                      "Bad|map|https://x.example/{z}/{x}/{y}.png||a|dem=terrainrgb\n"
                      "Bad|map|https://x.example/{z}/{x}/{y}.png||a|kind=dem,dem=lerc\n"
                      "Bad|aerial|https://x.example/{z}/{x}/{y}.png||a|kind=dem\n"
                      "Bad|map|https://x.example/{z}/{x}/{y}.jpg||a|kind=dem\n",
                      c);
    EXPECT_EQ(c.problems, (std::vector<std::string>{
                              "vor_src.txt:3: dem= is a flag of elevation sources (kind=dem)",
                              "vor_src.txt:4: dem must be terrarium or terrainrgb",
                              "vor_src.txt:5: an elevation source (kind=dem) is a map layer of PNG tiles",
                              "vor_src.txt:6: an elevation source (kind=dem) is a map layer of PNG tiles",
                          }));
    const auto* terrain = c.find("Terrain", false);
    ASSERT_NE(terrain, nullptr);
    EXPECT_EQ(terrain->dem, DemEncoding::terrarium);
    EXPECT_EQ(terrain->menu_id, Command{});  // no Maps menu item
    EXPECT_EQ(terrain->max_zoom(), 13);
    EXPECT_TRUE(terrain->uses_fetcher());
    EXPECT_EQ(c.elevation_source(), terrain);  // the first one is the one used
    const auto* rgb = c.find("Rgb", false);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(rgb->dem, DemEncoding::terrain_rgb);
    EXPECT_TRUE(rgb->nobulk);
    EXPECT_EQ(c.find("OpenTopoMap", false)->dem, DemEncoding::none);
    EXPECT_EQ(builtin_catalogue().elevation_source(), nullptr);
}

// Vector sources: a .pbf/.mvt template, a TileJSON or a PMTiles archive, with a style file; what is
// refused says why.
TEST(TileCatalogue, VectorSourceLinesNameTheirTilesTileJsonOrArchive) {
    Catalogue c = builtin_catalogue();
    read_sources_text("Vec|map|https://x.example/{z}/{x}/{y}.pbf?k={key}||a|maxzoom=15,style=styles/my.json\n"
                      "Mvt|map|http://127.0.0.1:9/t/{z}/{x}/{y}.mvt|||\n"
                      "Tj|map|tilejson=https://x.example/planet||b|fresh=2\n"
                      "Pm|map|pmtiles=https://x.example/a.pmtiles||c|conn=4\n"
                      "Bad|map|tilejson=ftp://x.example/planet|||\n"
                      "Bad|map|pmtiles=https://x.example/{z}.pmtiles|||\n"
                      "Bad|map|https://x.example/{z}/{x}/{y}.png|||style=a.json\n"
                      "Bad|map|https://x.example/{z}/{x}/{y}.pbf|||style=\n"
                      "Bad|map|tilejson=|||\n",
                      c);
    EXPECT_EQ(c.problems, (std::vector<std::string>{
                              "vor_src.txt:5: tilejson address must start with http:// or https://",
                              "vor_src.txt:6: pmtiles address holds a blank, a control character or a placeholder",
                              "vor_src.txt:7: style is for vector sources only",
                              "vor_src.txt:8: style needs a file name",
                              "vor_src.txt:9: tilejson address must start with http:// or https://",
                          }));
    for (const char* name : {"Vec", "Mvt", "Tj", "Pm", "OpenFreeMap"}) {
        const CatalogueEntry* e = c.find(name, false);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_EQ(e->kind, SourceKind::remote_vector) << name;
        EXPECT_STREQ(tile_source_kind(*e).name(), "remote-vector");
        EXPECT_TRUE(e->uses_fetcher());
        EXPECT_EQ(e->extension(), "png") << "cells are drawn as PNG";
        EXPECT_EQ(e->max_zoom(), 19) << "drawn past the tiles' zooms";
        EXPECT_EQ(e->cache_folder(), std::string(name) + "/day");
    }
    const CatalogueEntry* vec = c.find("Vec", false);
    EXPECT_EQ(vec->tiles_max_zoom, 15);
    EXPECT_EQ(vec->style_path, "styles/my.json");
    EXPECT_EQ(c.find("Mvt", false)->tiles_max_zoom, 14);
    EXPECT_EQ(c.find("Tj", false)->tilejson_url, "https://x.example/planet");
    EXPECT_EQ(c.find("Pm", false)->archive_url, "https://x.example/a.pmtiles");
    EXPECT_EQ(c.find("Pm", false)->conn, 4);
    const CatalogueEntry* ofm = c.find_menu_id(Command::OpenFreeMap);
    ASSERT_NE(ofm, nullptr);
    EXPECT_EQ(ofm->name, "OpenFreeMap");
    EXPECT_EQ(ofm->tilejson_url, "https://tiles.openfreemap.org/planet");
    EXPECT_EQ(ofm->attribution, "OpenFreeMap © OpenMapTiles Data from OpenStreetMap");
    EXPECT_EQ(ofm->tiles_max_zoom, 14);

    // A relative style file is the settings folder's.
    test::TempDir dir;
    test::write_file(dir.path() / kSourcesFile, "Vec|map|https://x.example/{z}/{x}/{y}.pbf|||style=my.json\n");
    EXPECT_EQ(load_catalogue(dir.path()).find("Vec", false)->style_path, (dir.path() / "my.json").string());
}

TEST(TileCatalogue, TemplatesExpandRowsQuadkeysServersAndKeys) {
    Catalogue c = builtin_catalogue();
    read_sources_text("Tms|map|http://h/{z}/{x}/{-y}.png||a|\n"
                      "Quad|aerial|https://t{s}.example/a{q}.jpeg?k={key}||b|\n"
                      "Listed|map|https://{s}.example/{z}/{x}/{y}.png||c|servers=a,b,c\n",
                      c);
    ASSERT_TRUE(c.problems.empty());
    // Level 0 is web zoom 4: 16 rows, so TMS row 15 - 5.
    EXPECT_EQ(*expand_template(*c.find("Tms", false), 0, 5, 3), "http://h/4/3/10.png");
    EXPECT_EQ(*expand_template(*c.find("Tms", false), 4, 0, 0), "http://h/16/0/65535.png");
    const auto& quad = *c.find("Quad", true);
    // The quadkey agrees with the geometry's own; the server digit is its last digit.
    const auto expected = make_quadkey(1, 70 * 256, 40 * 256);
    ASSERT_TRUE(expected);
    EXPECT_EQ(*expand_template(quad, 1, 40, 70, "SECRET"),
              "https://t" + std::string(1, expected->back()) + ".example/a" + *expected + ".jpeg?k=SECRET");
    EXPECT_EQ(expand_template(quad, 1, 40, 70), std::nullopt) << "no key, no address";
    const auto& listed = *c.find("Listed", false);
    EXPECT_EQ(*expand_template(listed, 0, 0, 0), "https://a.example/4/0/0.png");
    EXPECT_EQ(*expand_template(listed, 0, 0, 1), "https://b.example/4/1/0.png");
    EXPECT_EQ(*expand_template(listed, 0, 1, 1), "https://c.example/4/1/1.png");
    EXPECT_EQ(expand_template(listed, 0, 16, 0), std::nullopt) << "row outside the world";
    EXPECT_EQ(expand_template(listed, 5, 0, 0), std::nullopt);

    // Sharp tiles for a screen of twice the density: the next zoom's quarters, or {r} as "@2x".
    EXPECT_EQ(*expand_fine_template(listed, 0, 5, 3, 0), "https://b.example/5/6/10.png");
    EXPECT_EQ(*expand_fine_template(listed, 0, 5, 3, 3), "https://a.example/5/7/11.png");
    EXPECT_EQ(*expand_fine_template(*c.find("Tms", false), 0, 5, 3, 1), "http://h/5/7/21.png");
    EXPECT_EQ(expand_fine_template(listed, 0, 5, 3, -1), std::nullopt) << "no {r}: no 512-pixel tiles";
    read_sources_text("Fine|map|https://h/{z}/{x}/{y}{r}.png||d|\n", c);
    ASSERT_TRUE(c.problems.empty());
    const auto& fine = *c.find("Fine", false);
    EXPECT_TRUE(fine.offers_fine_tiles());
    EXPECT_EQ(*expand_template(fine, 0, 5, 3), "https://h/4/3/5.png");
    EXPECT_EQ(*expand_fine_template(fine, 0, 5, 3, -1), "https://h/4/3/5@2x.png");
    EXPECT_EQ(fine.extension(), "png");
    const TileKey key = catalogue_tile_key(fine, 3 * 256, 5 * 256, 0);
    const std::string one = catalogue_tile_paths(fine, key, "R").full_path;
    std::string quarter = one;
    quarter.replace(quarter.find("Fine"), 4, "Fine@2x");
    EXPECT_EQ(fine_tile_path(fine, key, "R", -1), quarter);
    quarter.insert(quarter.rfind('.'), "_q2");
    EXPECT_EQ(fine_tile_path(fine, key, "R", 2), quarter);
}

TEST(TileCatalogue, LoadsVorSrcAndKeysFromTheSettingsFolder) {
    test::TempDir dir;
    test::write_file(dir / "vor_ini.txt", "maps=.\\Maps\r\nkey_MyTopo=abc123 \r\nkey_MyTopo2=zzz\r\n");
    test::write_file(dir / "vor_src.txt", "MyTopo|map|https://t.example/{z}/{x}/{y}.png?api={key}||x|\nbroken\n");
    const Catalogue c = load_catalogue(dir.path());
    ASSERT_NE(c.find("MyTopo", false), nullptr);
    EXPECT_EQ(c.problems, std::vector<std::string>{"vor_src.txt:2: expected 6 fields separated by |, found 1"});
    EXPECT_EQ(read_source_key(dir.path(), "MyTopo"), "abc123");
    EXPECT_EQ(read_source_key(dir.path(), "Other"), "");
    EXPECT_EQ(load_catalogue(dir.path() / "missing").names().size(), 8u);
}

}  // namespace
}  // namespace vg
