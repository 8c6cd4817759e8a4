// A real producer's vector tiles for the tests: tests/data/vector/town.osm (a made-up town: lake,
// river, roads of five classes, numbered buildings, places named in Latin, Cyrillic and Greek) turned
// into an MBTiles pack by osmium-tool and tilemaker with tilemaker's own OpenMapTiles-schema config
// and process script. Made once per test run (reused while newer than town.osm) in the build folder;
// nothing is fetched. Safe to call from several tests and processes at once (the pack is written
// under a name of its own and renamed into place).
#pragma once

#include <string>

namespace vg::test {

// The pack's path (zoom 0 to 14, gzip-compressed tiles with the layers water, waterway,
// transportation, transportation_name, building, housenumber and place), or "" when it cannot be
// made: town_mbtiles_problem() then says why (a tool missing, a tool failing, Windows).
std::string town_mbtiles();
std::string town_mbtiles_problem();

// tests/data/vector/broadwater.osm, a named lake wider than four tiles of zoom 16, by tilemaker with a
// small config of the tests' own: one layer `water` whose polygons keep their `name` (the OpenMapTiles
// config puts names on points instead), zooms 14 to 16, so tiles of every zoom cut the lake (beyond
// tilemaker's wide buffer at zooms 15 and 16). "" when it cannot be made (town_lakes_problem() says
// why).
std::string town_lakes_mbtiles();
std::string town_lakes_problem();

}  // namespace vg::test

// Starts a test that needs the town's pack: `var` is its path; the test is skipped with the reason
// when it cannot be made.
#define VG_TOWN_MBTILES(var)                                                     \
    const std::string var = ::vg::test::town_mbtiles();                          \
    if (var.empty()) GTEST_SKIP() << ::vg::test::town_mbtiles_problem()
