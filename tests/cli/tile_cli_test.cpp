// `vortool tile` and `vortool fetch` run as real processes: the printed objects for known tiles, a
// view fetched through a loopback proxy, and a clear outcome for bad arguments.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "support/loopback_http_server.h"
#include "support/map_pack.h"
#include "support/run_program.h"
#include "support/test_paths.h"
#include "support/tls_test_server.h"

namespace {

using ToolRun = vg::test::RunResult;

ToolRun vortool(const std::string& args, const std::string& command_name = "tile", const std::string& dir = "") {
    std::string command = vg::test::vortool_path().string() + " " + command_name + " " + args + " 2>/dev/null";
    if (!dir.empty()) command = "cd '" + dir + "' && " + command;
    return vg::test::run_shell(command);
}

TEST(TileCli, PrintsPixelKeyPathsAndQuadkey) {
    ToolRun r = vortool("--source OpenStreetMap --level 2 --x 96000 --y 171008");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"x\":96000,\"y\":171008,\"row\":668,\"col\":375,"
              "\"dir\":\"./Maps/OS/120000_050000/123000_056000\","
              "\"path\":\"./Maps/OS/120000_050000/123000_056000/vor_2_123400_056700.png\","
              "\"quadkey\":\"2121132311\"}\n");

    // Source by number, position by degrees, aerial layer, own root; the quadkey of (0°, 0°).
    r = vortool("--source 4 --level 0 --lat 0 --lon 0 --aerial --root /srv/tiles");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"x\":2048,\"y\":2048,\"row\":8,\"col\":8,\"dir\":\"/srv/tiles/VE\","
              "\"path\":\"/srv/tiles/VE/vor_0_100000_100000.jpg\",\"quadkey\":\"3000\"}\n");

    // Etopo2 and MapQuest have no quadkey; the column wraps at the date line.
    r = vortool("--source e --level 0 --lat 89.9 --lon 180");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"x\":4096,\"y\":2046,\"row\":7,\"col\":0,\"dir\":\"./Maps/E2\","
              "\"path\":\"./Maps/E2/vor_0_070000_000000.gif\",\"quadkey\":\"\"}\n");
    r = vortool("--source mapquest --level 1 --lat -90 --lon -180 --aerial");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"x\":0,\"y\":0,\"row\":0,\"col\":0,\"dir\":\"./Maps/MQ/000000_000000\","
              "\"path\":\"./Maps/MQ/000000_000000/vor_1_000000_000000.jpg\",\"quadkey\":\"\"}\n");

    // A row outside the world has no quadkey; a backslash root reads as "/"; JSON escaping holds.
    r = vortool("--source g --level 0 --x 0 --y -5 --root 'C:\\My \"Maps\"'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"x\":0,\"y\":-5,\"row\":-1,\"col\":0,\"dir\":\"C:/My \\\"Maps\\\"/GM\","
              "\"path\":\"C:/My \\\"Maps\\\"/GM/vor_0_377777777770000_000000.png\",\"quadkey\":\"\"}\n");
}

TEST(TileCli, BadArgumentsPrintNothingAndFail) {
    const char* bad[] = {
        "",
        "--source q --level 0 --x 1 --y 1",
        "--source 6 --level 0 --x 1 --y 1",
        "--source g --level 5 --x 1 --y 1",
        "--source g --level -1 --x 1 --y 1",
        "--source g --level 1x --x 1 --y 1",
        "--source g --level 1 --x 1",
        "--source g --level 1 --lat 1 --lon 2 --x 1 --y 1",
        "--source g --level 1 --lat nan --lon 2",
        "--source g --level 1 --lat 1e999 --lon 2",
        "--source g --level 1 --x 99999999999 --y 1",
        "--source g --level 1 --x 1 --y 1 --colour red",
        "--source g --level 1 --x 1 --y",
    };
    for (const char* args : bad) {
        const ToolRun r = vortool(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
    }
    // Valid arguments that name no tile.
    EXPECT_EQ(vortool("--source e --level 1 --x 1 --y 1").status, 1);
    EXPECT_EQ(vortool("--source o --level 1 --x 1 --y 1 --aerial").status, 1);
}

// The loopback server stands in for the proxy of ./vor_ini.txt, so no request leaves the machine.
TEST(FetchCli, FetchesTheViewAroundAPosition) {
    std::mutex mutex;
    std::vector<std::string> lines;
    vg::test::LoopbackHttpServer proxy([&](const std::string& request) {
        const std::string line = request.substr(0, request.find('\r'));
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
        // MapQuest's placeholder for every map tile in column 5.
        if (line.find("/map/") != std::string::npos && line.find("/0/5.gif") != std::string::npos)
            return vg::test::ScriptedReply::make(200, "image/gif", std::string(1410, 'p'));
        const std::string type = line.find(".png") != std::string::npos   ? "image/png"
                                 : line.find(".gif") != std::string::npos ? "image/gif"
                                                                          : "image/jpeg";
        return vg::test::ScriptedReply::make(200, type, "tile");
    });
    vg::test::TempDir dir;
    vg::test::write_file(dir / "vor_ini.txt", "maps=.\\Maps\r\nprxy=127.0.0.1:" + std::to_string(proxy.port()) + "\r\n");
    const std::string root = (dir / "cache").string();

    // OpenStreetMap is asked over https only: through the proxy that is a CONNECT to port 443, and the
    // stand-in proxy that answers with a plain reply gives no verified connection, so no tile.
    ToolRun r = vortool("--root " + root + " --source o --level 0 --lat 0 --lon 0", "fetch", dir.path().string());
    EXPECT_EQ(r.status, 0);
    // One diagnostic line for the source's failure, then the cells.
    const std::string cells = "{\"slot\":0,\"path\":\"\",\"ok\":false}\n{\"slot\":1,\"path\":\"\",\"ok\":false}\n"
                              "{\"slot\":2,\"path\":\"\",\"ok\":false}\n{\"slot\":3,\"path\":\"\",\"ok\":false}\n";
    ASSERT_GT(r.out.size(), cells.size());
    EXPECT_EQ(r.out.substr(r.out.size() - cells.size()), cells);
    EXPECT_EQ(r.out.rfind("Error: ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" in https://tile.openstreetmap.org/4/"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5) << r.out;
    EXPECT_FALSE(std::filesystem::exists(root + "/OS/vor_0_100000_100000.png"));
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_FALSE(lines.empty());
        for (const auto& line : lines) EXPECT_EQ(line, "CONNECT tile.openstreetmap.org:443 HTTP/1.1");
        lines.clear();
    }

    // Big Maps MapQuest view near 0°, 0°: columns 4..7, the placeholder column stays empty.
    r = vortool("--root " + root + " --source MapQuest --level 0 --lat 0 --lon 0 --big", "fetch", dir.path().string());
    EXPECT_EQ(r.status, 0);
    int ok = 0, empty = 0;
    for (std::size_t pos = 0; (pos = r.out.find("\"ok\":", pos)) != std::string::npos; ++pos)
        (r.out.compare(pos + 5, 4, "true") == 0 ? ok : empty)++;
    EXPECT_EQ(ok, 12);
    EXPECT_EQ(empty, 4);
    EXPECT_NE(r.out.find("{\"slot\":1,\"path\":\"\",\"ok\":false}"), std::string::npos);

    // Etopo2 has no tiles above level 0; bad arguments fail before anything is fetched.
    const std::size_t asked = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.size();
    }();
    EXPECT_EQ(vortool("--root " + root + " --source e --level 1 --lat 0 --lon 0", "fetch", dir.path().string()).status, 1);
    EXPECT_EQ(vortool("--source o --level 1 --lat 0 --lon 0", "fetch", dir.path().string()).status, 2);
    EXPECT_EQ(vortool("--root x --source o --level 9 --lat 0 --lon 0", "fetch", dir.path().string()).status, 2);
    EXPECT_EQ(vortool("--root x --source o --level 1 --lat 0", "fetch", dir.path().string()).status, 2);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(lines.size(), asked);
}

}  // namespace

TEST(SourcesCli, PrintsTheCatalogueOfTheCurrentFolderAndSkipsMalformedLines) {
    vg::test::TempDir dir;
    vg::test::write_file(dir / "vor_src.txt",
                         "# own sources\n"
                         "MyTopo|map|https://tiles.example.org/{z}/{x}/{y}.png|4,7,10,13,16|© Example \"contributors\"|conn=2,nobulk,fresh=7\n"
                         "MyTopo|map\n");
    const ToolRun r = vortool("", "sources", dir.path().string());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("{\"name\":\"OpenStreetMap\",\"layer\":\"map\",\"template\":\"https://tile.openstreetmap.org/{z}/{x}/{y}.png\","
                         "\"zooms\":[4,7,10,13,16],\"attribution\":\"© OpenStreetMap contributors\",\"conn\":2,\"nobulk\":true,"
                         "\"fresh\":7,\"maxzoom\":19,\"menu_id\":1022,\"kind\":\"remote\"}\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"name\":\"MyTopo\",\"layer\":\"map\",\"template\":\"https://tiles.example.org/{z}/{x}/{y}.png\","
                         "\"zooms\":[4,7,10,13,16],\"attribution\":\"© Example \\\"contributors\\\"\",\"conn\":2,\"nobulk\":true,"
                         "\"fresh\":7,\"maxzoom\":19,\"menu_id\":49295,\"kind\":\"remote\"}\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 12);  // the built-ins with Atlas and OpenFreeMap, and MyTopo
    EXPECT_NE(r.out.find("{\"name\":\"OpenFreeMap\",\"layer\":\"map\",\"template\":\"tilejson=https://tiles.openfreemap.org/planet\","
                         "\"zooms\":[4,7,10,13,16],\"attribution\":\"OpenFreeMap © OpenMapTiles Data from OpenStreetMap\","
                         "\"conn\":2,\"nobulk\":true,\"fresh\":7,\"maxzoom\":19,\"menu_id\":1028,\"kind\":\"remote-vector\"}\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"name\":\"Atlas\",\"layer\":\"map\",\"template\":\"\",\"zooms\":[4,7,10,13,16]"), std::string::npos);
    // The skipped line is named on standard error.
    const std::string command = "cd '" + dir.path().string() + "' && " + vg::test::vortool_path().string() + " sources 2>&1 >/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[512] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
    ::pclose(pipe);
    EXPECT_EQ(std::string(buffer, n), "vortool sources: vor_src.txt:3: expected 6 fields separated by |, found 2\n");
    // With --root, the packs there follow: a vector pack with kind vector.
    std::filesystem::create_directories(dir / "Maps/packs");
    ASSERT_TRUE(vg::test::make_pack(dir / "Maps/packs/v.mbtiles", {{"name", "Vec"}, {"format", "pbf"}, {"json", "{}"}}, {}));
    const ToolRun packs = vortool("--root Maps", "sources", dir.path().string());
    EXPECT_EQ(packs.status, 0);
    EXPECT_NE(packs.out.find("{\"name\":\"Vec\",\"layer\":\"map\",\"template\":\"Maps/packs/v.mbtiles\""), std::string::npos)
        << packs.out;
    EXPECT_NE(packs.out.find("\"kind\":\"vector\"}"), std::string::npos);
}

// A vor_src.txt source served over https by a test server, reached through tinyproxy with the
// authority named by cafile=: vortool fetch by the source's name, then vortool get of one tile.
TEST(FetchCli, FetchesAUserSourceOverHttpsThroughTheProxy) {
    vg::test::TestPki pki;
    const std::string tile = vg::test::read_file(vg::test::shared_testdata() / "images/bench/map256-rgb.png");
    vg::test::TlsTestServer server(pki.good, [&](const std::string&) {
        return vg::test::ScriptedReply::make(200, "image/png", tile, true, "Cache-Control: max-age=3600\r\n");
    });
    vg::test::TinyProxy proxy(server.port());
    if (!proxy.available()) GTEST_SKIP() << "tinyproxy not installed";
    vg::test::TempDir dir;
    vg::test::write_file(dir / "vor_ini.txt", "maps=./Maps\r\nprxy=127.0.0.1:" + std::to_string(proxy.port()) +
                                                  "\r\ncafile=" + pki.ca_file + "\r\ncontact=mailto:cli@example.org\r\n");
    vg::test::write_file(dir / "vor_src.txt", "Local|map|https://127.0.0.1:" + std::to_string(server.port()) +
                                                  "/tiles/{z}/{x}/{-y}.png||© Local|conn=2\n");
    const std::string root = (dir / "cache").string();
    ToolRun r = vortool("--root " + root + " --source local --level 0 --lat 0 --lon 0", "fetch", dir.path().string());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "{\"slot\":0,\"path\":\"" + root + "/Local/vor_0_070000_070000.png\",\"ok\":true}\n"
                     "{\"slot\":1,\"path\":\"" + root + "/Local/vor_0_070000_100000.png\",\"ok\":true}\n"
                     "{\"slot\":2,\"path\":\"" + root + "/Local/vor_0_100000_070000.png\",\"ok\":true}\n"
                     "{\"slot\":3,\"path\":\"" + root + "/Local/vor_0_100000_100000.png\",\"ok\":true}\n");
    EXPECT_EQ(vg::test::read_file(root + "/Local/vor_0_070000_070000.png"), tile);
    std::set<std::string> paths;
    for (const auto& request : server.requests()) {
        paths.insert(request.substr(0, request.find('\r')));
        EXPECT_NE(request.find("\r\nUser-Agent: VorGlobal/" VG_VERSION " (+mailto:cli@example.org)\r\n"), std::string::npos);
    }
    // Rows 7 and 8 of web zoom 4 are TMS rows 8 and 7.
    EXPECT_EQ(paths, (std::set<std::string>{"GET /tiles/4/7/8.png HTTP/1.1", "GET /tiles/4/8/8.png HTTP/1.1",
                                            "GET /tiles/4/7/7.png HTTP/1.1", "GET /tiles/4/8/7.png HTTP/1.1"}));
    EXPECT_NE(proxy.log().find("CONNECT"), std::string::npos);

    EXPECT_EQ(vortool(server.url("/x.png") + " got.png", "get", dir.path().string()).status, 0);
    EXPECT_EQ(vg::test::read_file(dir / "got.png"), tile);
    vg::test::write_file(dir / "vor_ini.txt", "maps=./Maps\r\n");  // the system store alone does not know the authority
    EXPECT_EQ(vortool(server.url("/y.png") + " no.png", "get", dir.path().string()).status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "no.png"));
}
