// The test town's routing database: tests/data/vector/town.osm (one-way Station Road, the Mill Path
// footpath, Bridge Street over Silver River) through Routino's planetsplitter, made once per test
// binary in a temporary maps folder (removed when the binary ends). Linux only.
#pragma once

#include <filesystem>
#include <string>

namespace vg::test {

// The maps folder holding `routing/town/`, or "" when it cannot be made (town_routing_problem() says
// why: planetsplitter missing or failing, Windows).
std::filesystem::path town_routing_maps();
std::string town_routing_problem();

}  // namespace vg::test

// Starts a test that needs the town's routing database: `var` is the maps folder; the test is
// skipped with the reason when it cannot be made.
#define VG_TOWN_ROUTING(var)                                                \
    const std::filesystem::path var = ::vg::test::town_routing_maps();      \
    if (var.empty()) GTEST_SKIP() << ::vg::test::town_routing_problem()
