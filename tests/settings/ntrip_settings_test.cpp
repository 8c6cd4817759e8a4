// The NTRIP lines of vor_ini.txt: the caster line is never taken from the lines that share its prefix,
// and bad numbers fall back to the defaults.
#include <gtest/gtest.h>

#include "settings/ntrip_settings.h"

namespace vg {
namespace {

TEST(NtripSettings, LinesAndDefaults) {
    const auto s = parse_ntrip_settings("ntrip_gga=5\r\nntrip_version=1\r\nntrip=http://u@c:2101/M \r\n");
    EXPECT_EQ(s.url, "http://u@c:2101/M");
    EXPECT_EQ(s.gga_seconds, 5);
    EXPECT_EQ(s.version, 1);
    const auto off = parse_ntrip_settings("ntrip_gga=-3\r\nntrip_version=9\r\n");
    EXPECT_EQ(off.url, "");  // no caster line: off
    EXPECT_EQ(off.gga_seconds, 10);
    EXPECT_EQ(off.version, 2);
}

}  // namespace
}  // namespace vg
