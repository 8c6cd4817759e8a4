// The real program, end to end: `vortool sim` plays an NMEA receiver on a pseudo-terminal mapped to
// COM1, a loopback server stands in for the network as the proxy of the `prxy` setting (answering
// tile requests with a real map tile), and `vorglobal` runs offscreen in a scratch folder, driven by
// its --script option. The window title must follow the receiver, the tiles of the view must be
// requested by their addresses, the track log must grow, and Disconnect must end the reader promptly.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <thread>

#include <QImage>

#include "gps/pty_pair.h"
#include "support/loopback_http_server.h"
#include "support/peers.h"
#include "support/test_paths.h"
#include "tiles/geometry.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"
#include "tiles/tile_sources.h"
#include "ui/map_view.h"
#include "app/toolbar_layout.h"

namespace vg {
namespace {

using namespace std::chrono_literals;

// A child process with its standard output on a pipe; killed and reaped by the destructor.
class Child {
public:
    // `env`: "NAME=value" entries added to this process's environment for the child.
    Child(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
          const std::vector<std::string>& env = {}) {
        // Everything the child needs is made before the fork: other threads of this process (the
        // loopback server's) may hold the allocator's lock at that moment.
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (char** e = environ; *e; ++e) envp.push_back(*e);
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            if (chdir(cwd.c_str()) != 0) _exit(126);
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0 && out_ >= 0; }

    // The next line of output; false at the end of the output or when the backstop ran out.
    bool read_line(std::string& line, std::chrono::milliseconds backstop) {
        const auto end = std::chrono::steady_clock::now() + backstop;
        for (;;) {
            if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
                line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[4096];
            const ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Stops the process with `signal` and returns its exit status (-1 when it did not exit normally).
    int stop(int signal) {
        if (pid_ <= 0) return -1;
        if (signal != 0) kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// "title Vor OpenStreetMap - N 60°mm'ss" / E 2d°mm'ss" - hh:mm:ss [GMT+2]": a title with a position
// near the start and the receiver's time in the zone.
bool is_followed_title(const std::string& line) {
    const std::string head = "title Vor OpenStreetMap - N 60\xC2\xB0";
    const std::string tail = " [GMT+2]";
    if (line.rfind(head, 0) != 0 || line.size() < head.size() + tail.size()) return false;
    if (line.compare(line.size() - tail.size(), tail.size(), tail) != 0) return false;
    const std::size_t east = line.find("\" / E 2");
    const std::size_t time = line.rfind(" - ");
    return east != std::string::npos && time != std::string::npos && time > east &&
           line.size() - time == 3 + 8 + tail.size() && line[time + 5] == ':' && line[time + 8] == ':';
}

TEST(EndToEndTest, ProgramFollowsASimulatedReceiverThroughAProxy) {
    const std::filesystem::path vortool = test::vortool_path();
    const std::filesystem::path vorglobal = vortool.parent_path() / "vorglobal";
    ASSERT_TRUE(std::filesystem::exists(vorglobal)) << vorglobal;
    test::TempDir dir;

    // The proxy: tile addresses get a real PNG tile, anything else (the reachability checks) an
    // empty page.
    const std::string tile = test::read_file(test::shared_testdata() / "images/bench/map256-rgb.png");
    test::LoopbackHttpServer proxy([&tile](const std::string& request) {
        const std::string first = request.substr(0, request.find('\r'));
        if (first.find(".png ") != std::string::npos) return test::ScriptedReply::make(200, "image/png", tile, true);
        return test::ScriptedReply::make(200, "text/html", "<html></html>", true);
    });

    // A journey east along the 60.175th parallel in steps of about a kilometre, so that the marker
    // moves by whole pixels at level 2.
    std::string journey;
    for (int i = 0; i < 20; ++i) journey += "60.175000 " + std::to_string(24.9 + 0.02 * i) + " - step\n";
    test::write_file(dir / "journey.txt", journey);
    Child sim({vortool.string(), "sim", "--device", "NMEA", "--rate", "2", "--track", "journey.txt"}, dir.path());
    ASSERT_TRUE(sim.started());
    std::string pty;
    ASSERT_TRUE(sim.read_line(pty, 20s));
    ASSERT_EQ(pty.rfind("/dev/", 0), 0u) << pty;

    test::write_file(dir / "vor_set.txt", "site=OpenStreetMap\r\nsize=small\r\nunit=NMEA\r\nport=COM1\r\n");
    test::write_file(dir / "vor_ini.txt", "maps=./Maps\r\nzoom=2\r\nhair=1\r\nzone=2\r\ndash=k\r\nfile=track.txt\r\n"
                                          "plot=no\r\nprxy=127.0.0.1:" + std::to_string(proxy.port()) +
                                              "\r\nbase=\r\ncom1=" + pty + "\r\n");
    test::write_file(dir / "script.txt", "# Disconnect after a few fixes.\n6000 command 1005\n");

    Child program({vorglobal.string(), "--print-titles", "--script", "script.txt", "--screenshot", "shot.png",
                   "--exit-after", "7500"},
                  dir.path());
    ASSERT_TRUE(program.started());
    std::vector<std::string> output;
    for (std::string line; program.read_line(line, 60s);) output.push_back(line);
    EXPECT_EQ(program.stop(0), 0);
    sim.stop(SIGTERM);

    // The title followed the receiver: several different positions (east of 24 or 25 degrees: the
    // journey crosses the 25th meridian), each with the time and zone.
    std::set<std::string> positions;
    for (const std::string& line : output)
        if (is_followed_title(line)) positions.insert(line.substr(0, line.rfind(" - ")));
    EXPECT_GE(positions.size(), 2u) << testing::PrintToString(output);

    // Disconnect returned well within the reader's 5-second stop wait, and the fix went with it.
    const std::string done_suffix = " 6000 command 1005";
    bool disconnected = false;
    std::size_t done_index = 0;
    for (std::size_t i = 0; i < output.size(); ++i) {
        const std::string& line = output[i];
        if (line.rfind("done ", 0) != 0 || line.size() < done_suffix.size() + 5 ||
            line.compare(line.size() - done_suffix.size(), done_suffix.size(), done_suffix) != 0)
            continue;
        disconnected = true;
        done_index = i;
        EXPECT_LT(std::stol(line.substr(5)) - 6000, 3000) << line;
    }
    ASSERT_TRUE(disconnected) << testing::PrintToString(output);
    bool title_without_position = false;
    for (std::size_t i = done_index; i < output.size(); ++i)
        if (output[i].rfind("title Vor OpenStreetMap - ", 0) == 0 && output[i].find(" / E ") == std::string::npos &&
            output[i].find(" s old)") != std::string::npos)  // the last fix's time, said to be old
            title_without_position = true;
    EXPECT_TRUE(title_without_position) << testing::PrintToString(output);

    // OpenStreetMap is asked over https only: through the proxy that is a CONNECT to its port 443
    // (the stand-in proxy cannot complete it, so no plain-http tile request is ever made).
    bool connected = false;
    for (const std::string& request : proxy.requests()) {
        const std::string first = request.substr(0, request.find('\r'));
        if (first == "CONNECT tile.openstreetmap.org:443 HTTP/1.1") connected = true;
        EXPECT_EQ(first.find("GET http://tile.openstreetmap.org/"), std::string::npos) << first;
    }
    EXPECT_TRUE(connected);
    EXPECT_TRUE(std::filesystem::exists(dir / "Maps"));

    // The track log grew by one line per marker move: "latitude longitude - calendar time".
    const std::vector<std::string> track = lines_of(test::read_file(dir / "track.txt"));
    EXPECT_GE(track.size(), 2u);
    for (const std::string& line : track) {
        double lat = 0, lon = 0;
        int consumed = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf - %n", &lat, &lon, &consumed), 2) << line;
        EXPECT_NEAR(lat, 60.175, 0.01) << line;
        EXPECT_GT(lon, 24.8) << line;
        EXPECT_LT(lon, 25.4) << line;
        // Six decimals each, then the 24-character calendar text, as "Mon Dec  7 05:09:35 2026".
        EXPECT_EQ(line.find('.', 0), 2u) << line;
        ASSERT_GT(consumed, 0);
        const std::string when = line.substr(static_cast<std::size_t>(consumed));
        EXPECT_EQ(when.size(), 24u) << line;
        EXPECT_EQ(when.substr(13, 1) + when.substr(16, 1), "::") << line;
    }
    // The first fix became the next start position.
    EXPECT_EQ(test::read_file(dir / "vor_pos.txt").rfind("N  60 ", 0), 0u);

    // The screenshot of the client area after the first map paint.
    EXPECT_NE(std::find(output.begin(), output.end(), "screenshot shot.png"), output.end());
    const std::string png = test::read_file(dir / "shot.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto be32 = [&png](std::size_t at) {
        return (unsigned(std::uint8_t(png[at])) << 24) | (unsigned(std::uint8_t(png[at + 1])) << 16) |
               (unsigned(std::uint8_t(png[at + 2])) << 8) | unsigned(std::uint8_t(png[at + 3]));
    };
    EXPECT_EQ(be32(16), 514u);
    EXPECT_EQ(be32(20), 435u);
}

// ---- Receivers of every kind move the marker ---------------------------------------------------

// The program run for a few seconds in `dir` with the receiver `unit` (plus `ini_extra` lines of
// vor_ini.txt), while `feed` (when given) plays the receiver on a thread of the test until told to
// stop. Returns the program's output and the distinct positions its titles followed.
struct FollowRun {
    std::vector<std::string> output;
    std::set<std::string> positions;
};

FollowRun follow(const test::TempDir& dir, const std::string& unit, const std::string& ini_extra,
                 const std::function<void(const std::atomic<bool>& stop)>& feed = {}) {
    const std::filesystem::path vorglobal = test::vortool_path().parent_path() / "vorglobal";
    // Tiles and reachability checks all get an empty page: only the receiver matters here.
    test::LoopbackHttpServer proxy(
        [](const std::string&) { return test::ScriptedReply::make(200, "text/html", "<html></html>", true); });
    test::write_file(dir / "vor_set.txt", "site=OpenStreetMap\r\nsize=small\r\nunit=" + unit + "\r\nport=COM1\r\n");
    test::write_file(dir / "vor_ini.txt", "maps=./Maps\r\nzoom=2\r\nhair=1\r\nzone=2\r\ndash=k\r\nfile=\r\nplot=no\r\n"
                                          "prxy=127.0.0.1:" + std::to_string(proxy.port()) + "\r\n" + ini_extra);
    FollowRun run;
    std::atomic<bool> stop{false};
    std::thread feeder;
    {
        Child program({vorglobal.string(), "--print-titles", "--exit-after", "9000"}, dir.path());
        if (!program.started()) return run;
        if (feed) feeder = std::thread([&] { feed(stop); });
        // Two positions are all a test asks for: the program is stopped then, rather than at its
        // backstop, which keeps these tests short.
        for (std::string line; run.positions.size() < 2 && program.read_line(line, 60s);) {
            run.output.push_back(line);
            if (is_followed_title(line)) run.positions.insert(line.substr(0, line.rfind(" - ")));
        }
        program.stop(run.positions.size() < 2 ? 0 : SIGTERM);
    }
    stop = true;
    if (feeder.joinable()) feeder.join();
    return run;
}

// A journey east along the 60.175th parallel, about a kilometre a step, for the simulator.
std::string write_journey(const test::TempDir& dir) {
    std::string journey;
    for (int i = 0; i < 20; ++i) journey += "60.175000 " + std::to_string(24.9 + 0.02 * i) + " - step\n";
    test::write_file(dir / "journey.txt", journey);
    return (dir / "journey.txt").string();  // the simulator runs in the test's folder
}

std::string nmea_sentence(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char cs[4];
    std::snprintf(cs, sizeof cs, "%02X", sum);
    return "$" + body + "*" + cs + "\r\n";
}

// A multi-system receiver (GN position sentences, a GPS and a GLONASS sky) on a pseudo-terminal.
TEST(EndToEndReceivers, AGnReceiverMovesTheMarker) {
    test::TempDir dir;
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const FollowRun run = follow(dir, "NMEA", "com1=" + pty.slave_path() + "\r\n", [&](const std::atomic<bool>& stop) {
        for (int i = 0; !stop; ++i) {
            char lon[16], time[16];
            std::snprintf(lon, sizeof lon, "%09.3f", 2454.0 + 0.6 * (i % 40));  // 24°54' east and on
            std::snprintf(time, sizeof time, "1200%02d.00", i % 60);
            pty.send(nmea_sentence(std::string("GNRMC,") + time + ",A,6010.500,N," + lon + ",E,12.0,90.0,071226,,,A,V") +
                     nmea_sentence(std::string("GNGGA,") + time + ",6010.500,N," + lon + ",E,1,12,0.8,20.0,M,17.0,M,,") +
                     nmea_sentence("GPGSV,1,1,02,05,40,120,38,12,60,200,41,1") +
                     nmea_sentence("GLGSV,1,1,02,70,30,045,33,71,55,300,36,1"));
            std::this_thread::sleep_for(300ms);
        }
    });
    EXPECT_GE(run.positions.size(), 2u) << testing::PrintToString(run.output);
}

TEST(EndToEndReceivers, TcpAndUdpNmeaSourcesMoveTheMarker) {
    {
        test::TempDir dir;
        const int port = test::free_loopback_port(false);
        test::Simulator sim(dir.path(), {"--tcp", std::to_string(port), "--rate", "4", "--track", write_journey(dir)});
        const FollowRun run = follow(dir, "network", "nmea=tcp://127.0.0.1:" + std::to_string(port) + "\r\n");
        EXPECT_GE(run.positions.size(), 2u) << testing::PrintToString(run.output);
    }
    {
        test::TempDir dir;
        const int port = test::free_loopback_port(true);
        test::Simulator sim(dir.path(),
                            {"--udp", "127.0.0.1:" + std::to_string(port), "--rate", "4", "--track", write_journey(dir)});
        const FollowRun run = follow(dir, "network", "nmea=udp://127.0.0.1:" + std::to_string(port) + "\r\n");
        EXPECT_GE(run.positions.size(), 2u) << testing::PrintToString(run.output);
    }
}

TEST(EndToEndReceivers, GpsdMovesTheMarker) {
    if (!std::filesystem::exists("/usr/sbin/gpsd")) GTEST_SKIP() << "gpsd not installed";
    test::TempDir dir;
    test::Simulator sim(dir.path(), {"--rate", "4", "--track", write_journey(dir)});
    ASSERT_EQ(sim.first_line().rfind("/dev/", 0), 0u) << sim.first_line();
    test::Gpsd gpsd(dir.path(), sim.first_line());
    ASSERT_TRUE(test::eventually([&] { return gpsd.ready(); }));
    const FollowRun run = follow(dir, "gpsd", "gpsd=127.0.0.1:" + std::to_string(gpsd.port()) + "\r\n");
    EXPECT_GE(run.positions.size(), 2u) << testing::PrintToString(run.output);
}

// A phone tracking app sending the phone-tracker form to the Remote device's position server.
TEST(EndToEndReceivers, APhoneMovesTheMarkerThroughThePositionServer) {
    test::TempDir dir;
    const int port = test::free_loopback_port(false);
    const FollowRun run = follow(
        dir, "remote", "base=127.0.0.1:" + std::to_string(port) + "\r\nbind=127.0.0.1\r\n",
        [&](const std::atomic<bool>& stop) {
            for (int i = 0; !stop; ++i) {
                const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in addr{};
                addr.sin_family = AF_INET;
                addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                addr.sin_port = htons(static_cast<std::uint16_t>(port));
                if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                    const std::string request = "GET /?id=phone&lat=60.175&lon=" + std::to_string(24.9 + 0.02 * (i % 20)) +
                                                "&timestamp=" + std::to_string(1796644800 + i) +
                                                "&speed=20&bearing=90 HTTP/1.1\r\nHost: x\r\n\r\n";
                    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                    char reply[512];
                    pollfd p{fd, POLLIN, 0};
                    if (::poll(&p, 1, 5000) > 0) (void)!::recv(fd, reply, sizeof reply, 0);
                }
                ::close(fd);
                std::this_thread::sleep_for(300ms);
            }
        });
    EXPECT_GE(run.positions.size(), 2u) << testing::PrintToString(run.output);
}

// At a device pixel ratio of 2 the window keeps its logical size, and its screenshot has twice the
// pixels each way, the toolbar drawn from the pictures made at twice the size, and the map cells
// from the cached tiles of the next web zoom, one of their pixels for each device pixel.
TEST(EndToEndTest, ScaleTwoKeepsTheLogicalSizeWithSharpToolbarPicturesAndMapCells) {
    const std::filesystem::path vorglobal = test::vortool_path().parent_path() / "vorglobal";
    ASSERT_TRUE(std::filesystem::exists(vorglobal)) << vorglobal;
    test::TempDir dir;
    test::write_file(dir / "vor_set.txt", "site=OpenStreetMap\r\nsize=small\r\nunit=NMEA\r\nport=COM0\r\n");
    // Nothing leaves the machine: every request goes to a loopback proxy that refuses it.
    test::LoopbackHttpServer proxy(test::ScriptedReply::make(503, "text/plain", "no", true));
    test::write_file(dir / "vor_ini.txt", "maps=./Maps\r\nzoom=2\r\nhair=1\r\nbase=\r\nprxy=127.0.0.1:" +
                                              std::to_string(proxy.port()) + "\r\n");
    // A start position and the cache around it: the 1x tiles one picture, the four next-zoom tiles of
    // each another.
    const double lat = 60.175, lon = 24.9375;  // N 60 10 30, E 24 56 15
    test::write_file(dir / "vor_pos.txt", "N  60 10 30\nE  24 56 15\n");
    const std::filesystem::path coarse = test::shared_testdata() / "images/bench/map256-rgb.png";
    const std::filesystem::path fine_tile = test::shared_testdata() / "images/bench/map256-palette.png";
    const Catalogue catalogue = builtin_catalogue();
    const CatalogueEntry* osm = catalogue.find("OpenStreetMap", false);
    ASSERT_NE(osm, nullptr);
    const WorldPixel centre = geo_to_pixel(lat, lon, MapSource::OpenStreetMap, 2);
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            const TileKey key = catalogue_tile_key(*osm, centre.x + 256 * dx, centre.y + 256 * dy, 2);
            const std::string root = (dir / "Maps").string();
            const std::string one = catalogue_tile_paths(*osm, key, root).full_path;
            std::filesystem::create_directories(std::filesystem::path(one).parent_path());
            std::filesystem::copy_file(coarse, one, std::filesystem::copy_options::overwrite_existing);
            for (int q = 0; q < 4; ++q) {
                const std::string quarter = fine_tile_path(*osm, key, root, q);
                std::filesystem::create_directories(std::filesystem::path(quarter).parent_path());
                std::filesystem::copy_file(fine_tile, quarter, std::filesystem::copy_options::overwrite_existing);
            }
        }
    Child program({vorglobal.string(), "--screenshot", "shot.png", "--exit-after", "3000"}, dir.path(),
                  {"QT_SCALE_FACTOR=2", "QT_QPA_PLATFORM=offscreen"});
    ASSERT_TRUE(program.started());
    std::vector<std::string> output;
    for (std::string line; program.read_line(line, 60s);) output.push_back(line);
    EXPECT_EQ(program.stop(0), 0);
    ASSERT_NE(std::find(output.begin(), output.end(), "screenshot shot.png"), output.end())
        << testing::PrintToString(output);
    QImage shot(QString::fromStdString((dir / "shot.png").string()));
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.width(), 1028);
    EXPECT_EQ(shot.height(), 870);
    // Every toolbar button is one of the 64 x 64 pictures, pixel for pixel.
    shot = shot.convertToFormat(QImage::Format_RGB32);
    std::vector<QImage> fine;
    for (int id = 700; id < 800; ++id) {
        QImage picture = MapView::toolbar_picture(id, 2.0);
        if (picture.isNull()) continue;
        picture.setDevicePixelRatio(1.0);
        fine.push_back(picture);
    }
    ASSERT_FALSE(fine.empty());
    EXPECT_EQ(fine.front().width(), 2 * toolbar::kButtonSize);
    for (int b = 0; b < toolbar::kButtonCount; ++b) {
        const QImage button = shot.copy(2 * toolbar::kButtonX[static_cast<std::size_t>(b)], 2 * toolbar::kButtonTop,
                                        2 * toolbar::kButtonSize, 2 * toolbar::kButtonSize);
        EXPECT_NE(std::find(fine.begin(), fine.end(), button), fine.end()) << "button " << b;
    }
    // A stretch of the map area away from the notes: the view is centred on the start position's
    // pixel (logical map pixel 256, 192), and every cell is a whole tile, so device pixel (X, Y) shows
    // pixel (2u + X mod 2, 2v + Y mod 2) of its quarter's tile (taken mod 256), where (u, v) is the
    // logical pixel's place in its tile.
    const QImage quarter = QImage(QString::fromStdString(fine_tile.string())).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(quarter.width(), 256);
    int differ = 0, compared = 0;
    for (int y = 2 * 80; y < 2 * 200; ++y)
        for (int x = 2 * 20; x < 2 * 240; ++x) {
            const int u = (x / 2 - 1 - 256 + centre.x) % 256, v = (y / 2 - 49 - 192 + centre.y) % 256;
            differ += shot.pixel(x, y) != quarter.pixel((2 * u + x % 2) % 256, (2 * v + y % 2) % 256);
            ++compared;
        }
    EXPECT_EQ(differ, 0) << "of " << compared;
}

}  // namespace
}  // namespace vg
