// vortool setting and vortool state, run as the real program in a scratch working directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

// Runs vortool with `args` in `dir` and collects its exit status and output.
test::RunResult run_vortool(const std::filesystem::path& dir, const std::vector<std::string>& args) {
    return test::run_program(test::vortool_path().string(), args, dir);
}

TEST(SettingCli, GetPrintsTheValueOrFails) {
    TempDir dir;
    write_file(dir / "vor_ini.txt", "maps=/srv/file maps \r\nZone=-5 EST\r\nzoom\r\n");
    auto r = run_vortool(dir.path(), {"setting", "get", "vor_ini.txt", "file"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "/srv/file maps \n");
    r = run_vortool(dir.path(), {"setting", "get", "vor_ini.txt", "zone"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "-5 EST\n");
    r = run_vortool(dir.path(), {"setting", "get", (dir / "vor_ini.txt").string(), "plot"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    r = run_vortool(dir.path(), {"setting", "get", "vor_ini.txt", "zoom"});  // no "=": no value
    EXPECT_EQ(r.status, 1);
    r = run_vortool(dir.path(), {"setting", "get", "vor_set.txt", "site"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    r = run_vortool(dir.path(), {"setting", "get", "vor_ini.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}

TEST(SettingCli, SetRewritesVorSetInTheWorkingDirectory) {
    TempDir dir;
    auto r = run_vortool(dir.path(), {"setting", "set", "size", "large"});
    EXPECT_EQ(r.status, 1);  // created, not rewritten
    EXPECT_EQ(read_file(dir / "vor_set.txt"), "size=large\r\n");
    write_file(dir / "vor_set.txt", "site=VirtualEarth\r\nsize=small\r\nunit=NMEA\r\nport=COM1\r\n");
    r = run_vortool(dir.path(), {"setting", "set", "unit", "USB EarthMate"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(dir / "vor_set.txt"), "site=VirtualEarth\r\nsize=small\r\nunit=USB EarthMate\r\nport=COM1\r\n");
    r = run_vortool(dir.path(), {"setting", "get", "vor_set.txt", "unit"});
    EXPECT_EQ(r.out, "USB EarthMate\n");
    r = run_vortool(dir.path(), {"setting", "set", "", "x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "vor_set.txt"), "site=VirtualEarth\r\nsize=small\r\nunit=USB EarthMate\r\nport=COM1\r\n");
}

TEST(StateCli, PrintsTheWindowStateAsJson) {
    TempDir dir;
    auto r = run_vortool(dir.path(), {"state"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"map_source\":4,\"device_type\":3,\"port_number\":1,\"baud_rate\":9600,\"byte_size\":8,"
              "\"parity\":0,\"stop_bits\":0,\"flow_control\":0,\"big_maps\":0,\"hair\":0,\"dash\":\"\",\"stale\":3,"
              "\"maps_dir\":\".\\\\Maps\",\"track_file\":\"\",\"plot\":0,\"base_enabled\":0,\"base_host\":\"\","
              "\"base_port\":0}\n");
    EXPECT_TRUE(r.err.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "vor_set.txt"));  // nothing written
    EXPECT_FALSE(std::filesystem::exists(dir / "vor_ini.txt"));

    write_file(dir / "vor_set.txt", "site=Etopo2\r\nsize=large\r\nunit=Garmin\r\nport=COM3,7200,x,7,3\r\n");
    write_file(dir / "vor_ini.txt",
               "maps=C:\\maps \"new\"\r\nhair=3\r\ndash=m\r\nfile=/tmp/track\ttab\r\nplot=yes\r\n"
               "base=http://base.lan:8080\r\nstale=5 s\r\n");
    r = run_vortool(dir.path(), {"state"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"map_source\":1,\"device_type\":5,\"port_number\":3,\"baud_rate\":9600,\"byte_size\":7,"
              "\"parity\":0,\"stop_bits\":0,\"flow_control\":0,\"big_maps\":1,\"hair\":3,\"dash\":\"m\",\"stale\":3,"
              "\"maps_dir\":\"C:\\\\maps \\\"new\\\"\",\"track_file\":\"/tmp/track\\u0009tab\",\"plot\":1,"
              "\"base_enabled\":1,\"base_host\":\"base.lan\",\"base_port\":8080}\n");
    EXPECT_EQ(run_vortool(dir.path(), {"state", "extra"}).status, 2);
}

}  // namespace
}  // namespace vg
