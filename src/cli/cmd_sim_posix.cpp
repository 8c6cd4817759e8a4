// vortool sim: a receiver simulator on a pseudo-terminal, for demonstrations and tests. It prints the
// terminal's path as the first line of standard output and then plays a receiver of the given device
// type on it until interrupted.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/sim_ais.h"
#include "geo/geodesy.h"
#include "gps/device_type.h"
#include "gps/garmin.h"
#include "gps/rtcm3.h"
#include "gps/startup_commands.h"
#include "gps/zodiac.h"
#include "platform/c_number.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace vg::cli {

namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_stop_signal(int) { g_stop = 1; }

int usage_error(const char* what, const char* arg) { return vg::cli::usage_error("sim", what, arg); }

struct Point {
    double latitude;
    double longitude;
};

// "latitude longitude ..." per line, as the track log holds them; lines without two numbers are skipped.
std::vector<Point> read_track(const std::string& path, bool& opened) {
    std::vector<Point> points;
    std::ifstream in(path);
    opened = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Point p{};
        if (!(fields >> p.latitude >> p.longitude)) continue;
        if (!std::isfinite(p.latitude) || !std::isfinite(p.longitude) || std::fabs(p.latitude) > 90 ||
            std::fabs(p.longitude) > 180)
            continue;
        points.push_back(p);
    }
    return points;
}

// A loop about 1 km across around the default start position (60°10'30" N, 24°55'00" E), driven
// in five minutes (about 20 knots) whatever the rate.
std::vector<Point> builtin_loop(double rate) {
    std::vector<Point> points;
    const double lat0 = 60 + 10 / 60.0 + 30 / 3600.0, lon0 = 24 + 55 / 60.0;
    const int count = static_cast<int>(std::lround(300 * rate));
    for (int i = 0; i < count; ++i) {
        const double a = 2 * std::numbers::pi * i / count;
        points.push_back({lat0 + 0.0045 * std::sin(a), lon0 + 0.009 * std::cos(a)});
    }
    return points;
}

struct Motion {
    double speed_knots = 0;
    double course = 0;  // degrees from true north
};

// Speed and course from one position to the next, on the ellipsoid.
Motion motion_between(const Point& a, const Point& b, double seconds) {
    const geo::Inverse g = geo::inverse(a.latitude, a.longitude, b.latitude, b.longitude);
    Motion m;
    m.speed_knots = seconds > 0 ? g.distance_m / seconds * 3600 / 1852 : 0;
    m.course = g.distance_m > 0 ? g.bearing_deg : 0;
    return m;
}

std::string sentence(const std::string& body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", nmea_checksum(body) & 0xFF);
    return "$" + body + tail;
}

std::string nmea_angle(double value, int degree_digits) {
    const double a = std::fabs(value);
    int degrees = static_cast<int>(a);
    double minutes = (a - degrees) * 60;
    if (minutes >= 59.99995) {
        minutes = 0;
        ++degrees;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*d", degree_digits, degrees);
    const std::string mm = fixed_text(minutes, 4);  // "%07.4f": minutes below 10 get a leading 0
    return buf + std::string(mm.size() < 7 ? 7 - mm.size() : 0, '0') + mm;
}

struct Satellite {
    int prn, elevation, azimuth, snr;
};
constexpr Satellite kSky[8] = {{3, 64, 120, 45}, {6, 35, 210, 41}, {9, 22, 45, 38}, {12, 71, 300, 47},
                               {17, 15, 90, 33}, {19, 48, 160, 44}, {22, 30, 260, 40}, {28, 10, 20, 30}};

// An RTK receiver's fix as corrections come (--rtcm): a plain fix without them, RTK float for the first
// seconds of a stream of valid frames, then RTK fixed; corrections older than kRtkLostSeconds are lost.
struct RtkSim {
    static constexpr double kFloatSeconds = 5;
    static constexpr double kRtkLostSeconds = 10;
    rtcm3::FrameScanner scanner;
    std::vector<rtcm3::Frame> frames;
    std::chrono::steady_clock::time_point first{}, last{};
    bool streaming = false;
    int station = 0;

    void feed(const std::uint8_t* data, std::size_t size) {
        frames.clear();
        scanner.feed(data, size, frames);
        const auto now = std::chrono::steady_clock::now();
        for (const auto& f : frames) {
            if (!streaming) first = now;
            streaming = true;
            last = now;
            // The reference station's id: the 12 bits after the message number of the station's own
            // messages (observations, station position and description, biases; not ephemerides).
            const bool from_station = (f.type >= 1001 && f.type <= 1012) || f.type == 1033 ||
                                      (f.type >= 1071 && f.type <= 1137) || f.type == 1230;
            if (from_station && f.bytes.size() >= 6) station = ((f.bytes[4] & 0x0F) << 8) | f.bytes[5];
        }
    }
    // GGA quality, age of the corrections (seconds, negative: none) and horizontal error (m).
    struct Fix {
        int quality = 1;
        double age = -1;
        double error_m = 2.5;
    };
    Fix now() {
        const auto t = std::chrono::steady_clock::now();
        const double age = std::chrono::duration<double>(t - last).count();
        if (!streaming || age > kRtkLostSeconds) {
            streaming = false;
            return {};
        }
        if (std::chrono::duration<double>(t - first).count() < kFloatSeconds) return {5, age, 0.3};
        return {4, age, 0.014};
    }
};

std::string nmea_epoch(const Point& p, const Motion& m, const std::tm& utc, RtkSim* rtk = nullptr) {
    char time[48], date[48];
    std::snprintf(time, sizeof time, "%02d%02d%02d.00", utc.tm_hour, utc.tm_min, utc.tm_sec);
    std::snprintf(date, sizeof date, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    const std::string lat = nmea_angle(p.latitude, 2) + (p.latitude < 0 ? ",S" : ",N");
    const std::string lon = nmea_angle(p.longitude, 3) + (p.longitude < 0 ? ",W" : ",E");
    const std::string motion = fixed_text(m.speed_knots, 1) + "," + fixed_text(m.course, 1);
    std::string out;
    out += sentence(std::string("GPRMC,") + time + ",A," + lat + "," + lon + "," + motion + "," + date + ",,");
    if (!rtk) {
        out += sentence(std::string("GPGGA,") + time + "," + lat + "," + lon + ",1,08,0.9,25.0,M,17.0,M,,");
    } else {
        const RtkSim::Fix fix = rtk->now();
        char station[8];
        std::snprintf(station, sizeof station, "%04d", rtk->station);
        const std::string corrections = fix.age < 0 ? "," : fixed_text(fix.age, 1) + "," + station;
        out += sentence(std::string("GPGGA,") + time + "," + lat + "," + lon + "," + std::to_string(fix.quality) +
                        ",08,0.9,25.0,M,17.0,M," + corrections);
        const std::string sigma = fixed_text(fix.error_m / std::numbers::sqrt2, 3);
        out += sentence(std::string("GPGST,") + time + "," + fixed_text(fix.error_m, 3) + ",,,," + sigma + "," + sigma +
                        "," + fixed_text(fix.error_m * 2, 3));
    }
    std::string gsa = "GPGSA,A,3";
    for (int i = 0; i < 12; ++i) gsa += i < 8 ? "," + std::to_string(kSky[i].prn) : std::string(",");
    out += sentence(gsa + ",1.5,0.9,1.2");
    for (int msg = 0; msg < 2; ++msg) {
        std::string gsv = "GPGSV,2," + std::to_string(msg + 1) + ",08";
        for (int k = 0; k < 4; ++k) {
            const auto& s = kSky[msg * 4 + k];
            char buf[64];
            std::snprintf(buf, sizeof buf, ",%02d,%02d,%03d,%02d", s.prn, s.elevation, s.azimuth, s.snr);
            gsv += buf;
        }
        out += sentence(gsv);
    }
    return out;
}

void put_pair(std::vector<std::uint16_t>& w, std::size_t i, std::uint32_t v) {
    w[i] = static_cast<std::uint16_t>(v & 0xFFFF);
    w[i + 1] = static_cast<std::uint16_t>(v >> 16);
}

std::vector<std::uint8_t> zodiac_epoch(const Point& p, const Motion& m, const std::tm& utc) {
    constexpr double kToRad = std::numbers::pi / 180;
    std::vector<std::uint16_t> geo(49, 0);
    geo[4] = 0;  // 3-D fix
    geo[13] = static_cast<std::uint16_t>(utc.tm_mday);
    geo[14] = static_cast<std::uint16_t>(utc.tm_mon + 1);
    geo[15] = static_cast<std::uint16_t>(utc.tm_year + 1900);
    geo[16] = static_cast<std::uint16_t>(utc.tm_hour);
    geo[17] = static_cast<std::uint16_t>(utc.tm_min);
    geo[18] = static_cast<std::uint16_t>(utc.tm_sec);
    put_pair(geo, 21, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(p.latitude * kToRad * 1e8))));
    put_pair(geo, 23, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(p.longitude * kToRad * 1e8))));
    put_pair(geo, 25, static_cast<std::uint32_t>(std::int32_t{2500}));
    put_pair(geo, 28, static_cast<std::uint32_t>(std::lround(m.speed_knots / 1.94387 * 100)));
    geo[30] = static_cast<std::uint16_t>(std::lround(m.course * kToRad * 1000));

    std::vector<std::uint16_t> visible(51, 0);
    visible[8] = 8;
    std::vector<std::uint16_t> channels(51, 0);
    for (std::size_t i = 0; i < 8; ++i) {
        visible[9 + 3 * i] = static_cast<std::uint16_t>(kSky[i].prn);
        visible[10 + 3 * i] = static_cast<std::uint16_t>(std::lround(kSky[i].azimuth * kToRad * 1e4));
        visible[11 + 3 * i] = static_cast<std::uint16_t>(std::lround(kSky[i].elevation * kToRad * 1e4));
        channels[9 + 3 * i] = 1;
        channels[10 + 3 * i] = static_cast<std::uint16_t>(kSky[i].prn);
        channels[11 + 3 * i] = static_cast<std::uint16_t>(kSky[i].snr);
    }
    std::vector<std::uint8_t> out = zodiac_frame(1000, geo);
    // Visible satellites first, so that the channel summary finds them in the table.
    const auto v = zodiac_frame(1003, visible);
    const auto c = zodiac_frame(1002, channels);
    out.insert(out.end(), v.begin(), v.end());
    out.insert(out.end(), c.begin(), c.end());
    return out;
}

std::vector<std::uint8_t> garmin_position(const Point& p) {
    std::uint8_t data[16];
    const double lat = p.latitude * std::numbers::pi / 180, lon = p.longitude * std::numbers::pi / 180;
    std::uint64_t bits;
    std::memcpy(&bits, &lat, 8);
    for (int i = 0; i < 8; ++i) data[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    std::memcpy(&bits, &lon, 8);
    for (int i = 0; i < 8; ++i) data[8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return garmin_packet(17, data, 16);
}

std::vector<std::uint8_t> garmin_time(const std::tm& utc) {
    const int year = utc.tm_year + 1900;
    const std::uint8_t data[8] = {static_cast<std::uint8_t>(utc.tm_mon + 1), static_cast<std::uint8_t>(utc.tm_mday),
                                  static_cast<std::uint8_t>(year & 0xFF), static_cast<std::uint8_t>(year >> 8),
                                  static_cast<std::uint8_t>(utc.tm_hour), 0, static_cast<std::uint8_t>(utc.tm_min),
                                  static_cast<std::uint8_t>(utc.tm_sec)};
    return garmin_packet(14, data, 8);
}

// Unstuffs DLE-framed requests from the program and reports each complete one.
class GarminRequests {
public:
    // Returns the commands (2 position, 5 time) of the requests completed by `byte`.
    std::optional<int> add(std::uint8_t byte) {
        if (byte == kDle && previous_ == kDle) {
            previous_ = 0;
            return std::nullopt;
        }
        if (packet_.empty() && byte != kDle) return std::nullopt;
        const bool ends = byte == kEtx && previous_ == kDle;
        previous_ = byte;
        if (packet_.size() < 64) packet_.push_back(byte);
        if (!ends) return std::nullopt;
        std::optional<int> command;
        if (packet_.size() >= 6 && packet_[1] == 10) command = packet_[3];
        packet_.clear();
        return command;
    }

private:
    std::vector<std::uint8_t> packet_;
    std::uint8_t previous_ = 0;
};

// The pty master is non-blocking: a write waits for room until the simulator is told to stop.
bool still_running() { return g_stop == 0; }
bool send_bytes(int fd, const std::string& s) { return vg::write_all(fd, s.data(), s.size(), still_running); }
bool send_bytes(int fd, const std::vector<std::uint8_t>& v) { return vg::write_all(fd, v.data(), v.size(), still_running); }

std::tm utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    utc_parts(now, utc);
    return utc;
}

}  // namespace

// --tcp PORT: serves the NMEA stream to every client of 127.0.0.1:PORT; --udp HOST:PORT: sends each
// epoch as one datagram. Runs until interrupted.
int serve_network(const std::vector<Point>& points, double rate, int tcp_port, const std::string& udp_target,
                  const SimAisTraffic& traffic) {
    int fd = -1;
    sockaddr_in peer{};
    if (tcp_port > 0) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(tcp_port));
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0) {
            std::fprintf(stderr, "vortool sim: cannot listen on 127.0.0.1:%d: %s\n", tcp_port, std::strerror(errno));
            return 1;
        }
        std::printf("tcp://127.0.0.1:%d\n", tcp_port);
    } else {
        const auto colon = udp_target.rfind(':');
        const std::string host = udp_target.substr(0, colon);
        int port = 0;
        if (colon == std::string::npos || ::inet_pton(AF_INET, host.c_str(), &peer.sin_addr) != 1 ||
            (port = std::atoi(udp_target.c_str() + colon + 1)) < 1 || port > 65535)
            return usage_error("--udp needs an IPv4 HOST:PORT", udp_target.c_str());
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<std::uint16_t>(port));
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            std::fprintf(stderr, "vortool sim: cannot open a socket: %s\n", std::strerror(errno));
            return 1;
        }
        std::printf("udp://%s\n", udp_target.c_str());
    }
    std::fflush(stdout);
    std::vector<int> clients;
    const auto period = std::chrono::duration<double>(1.0 / rate);
    std::size_t index = 0;
    Point current = points[0];
    while (!g_stop) {
        const Point& next = points[index % points.size()];
        const Motion motion = motion_between(current, next, 1.0 / rate);
        current = next;
        ++index;
        const std::string epoch = nmea_epoch(current, motion, utc_now()) + traffic.epoch(index - 1);
        if (tcp_port > 0) {
            for (int c; (c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) clients.push_back(c);
            for (std::size_t i = 0; i < clients.size();) {
                if (::send(clients[i], epoch.data(), epoch.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN) {
                    ::close(clients[i]);
                    clients.erase(clients.begin() + static_cast<long>(i));
                } else {
                    ++i;
                }
            }
        } else {
            (void)::sendto(fd, epoch.data(), epoch.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        }
        std::this_thread::sleep_for(period);
    }
    for (int c : clients) ::close(c);
    ::close(fd);
    return 0;
}

int run_sim(int argc, char** argv) {
    std::string device, track, udp_target, rtcm_file;
    int tcp_port = 0;
    int ais_targets = 0;
    double rate = 1;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--device" || arg == "--track" || arg == "--rate" || arg == "--tcp" || arg == "--udp" ||
            arg == "--rtcm" || arg == "--ais") {
            if (!value) return usage_error("option needs a value", argv[i]);
            ++i;
            if (arg == "--tcp") {
                char* end = nullptr;
                const long port = std::strtol(value, &end, 10);
                if (!end || *end != '\0' || port < 1 || port > 65535) return usage_error("--tcp needs a port from 1 to 65535", value);
                tcp_port = static_cast<int>(port);
            } else if (arg == "--udp") {
                udp_target = value;
            } else if (arg == "--rtcm") {
                rtcm_file = value;
            } else if (arg == "--ais") {
                const auto n = whole_c_number(value);
                if (!n || *n < 0 || *n > SimAisTraffic::kMostTargets || *n != std::floor(*n))
                    return usage_error("--ais needs a number of targets from 0 to 100", value);
                ais_targets = static_cast<int>(*n);
            } else if (arg == "--device") {
                device = value;
            } else if (arg == "--track") {
                track = value;
            } else {
                rate = whole_c_number(value).value_or(0);
                if (!(rate > 0) || rate > 100) return usage_error("rate must be above 0 and at most 100", value);
            }
        } else {
            return usage_error("unknown argument", argv[i]);
        }
    }
    if (device.empty()) return usage_error("--device is required", nullptr);
    const auto type = device_from_unit(device);
    if (!type || *type == DeviceType::Remote || is_network_device(*type)) return usage_error("unknown or non-serial device", device.c_str());

    std::vector<Point> points;
    if (!track.empty()) {
        bool opened = false;
        points = read_track(track, opened);
        if (!opened) {
            std::fprintf(stderr, "vortool sim: cannot read %s\n", track.c_str());
            return 1;
        }
        if (points.empty()) {
            std::fprintf(stderr, "vortool sim: no positions in %s\n", track.c_str());
            return 1;
        }
    } else {
        points = builtin_loop(rate);
    }

    if (ais_targets > 0 && !is_nmea_device(*type)) return usage_error("--ais needs an NMEA device", device.c_str());
    std::vector<std::pair<double, double>> own_track;
    if (ais_targets > 0)
        for (const Point& p : points) own_track.emplace_back(p.latitude, p.longitude);
    const SimAisTraffic traffic(ais_targets, std::move(own_track), rate);

    if (tcp_port > 0 || !udp_target.empty()) {
        if (!is_nmea_device(*type)) return usage_error("--tcp and --udp serve NMEA devices only", device.c_str());
        if (tcp_port > 0 && !udp_target.empty()) return usage_error("--tcp and --udp exclude each other", nullptr);
        struct sigaction stop {};
        stop.sa_handler = on_stop_signal;
        sigemptyset(&stop.sa_mask);
        sigaction(SIGINT, &stop, nullptr);
        sigaction(SIGTERM, &stop, nullptr);
        return serve_network(points, rate, tcp_port, udp_target, traffic);
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !ptsname(master)) {
        std::fprintf(stderr, "vortool sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string slave_path = ptsname(master);
    // Our own descriptor of the slave side, raw, so that nothing is echoed back and the terminal
    // stays usable between the program's connections.
    const int keeper = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keeper < 0) {
        std::fprintf(stderr, "vortool sim: cannot open %s: %s\n", slave_path.c_str(), std::strerror(errno));
        return 1;
    }
    termios tio{};
    tcgetattr(keeper, &tio);
    cfmakeraw(&tio);
    tcsetattr(keeper, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // --rtcm FILE: an RTK receiver hungry for corrections; every byte the program writes to it is kept.
    std::FILE* rtcm = nullptr;
    if (!rtcm_file.empty() && !(rtcm = std::fopen(rtcm_file.c_str(), "wb"))) {
        std::fprintf(stderr, "vortool sim: %s cannot be written\n", rtcm_file.c_str());
        return 1;
    }

    std::printf("%s\n", slave_path.c_str());
    std::fflush(stdout);

    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / rate));
    auto next_tick = clock::now();
    std::size_t index = 0;
    Point current = points[0];
    Motion motion;
    std::string received;          // NMEA and Zodiac: what the program sent, for the handshakes
    int astral_answers = 0;        // TripMate: query answers seen
    bool eartha_answered = false;  // EarthMate: "EARTHA\r\n" came back
    GarminRequests requests;
    RtkSim rtk;

    while (!g_stop) {
        const auto now = clock::now();
        if (now >= next_tick) {
            next_tick += period;
            if (next_tick < now) next_tick = now + period;  // fell behind: do not burst
            const Point& next = points[index % points.size()];
            motion = motion_between(current, next, 1.0 / rate);
            current = next;
            ++index;
            const std::tm utc = utc_now();
            bool ok = true;
            if (*type == DeviceType::TripMate && astral_answers < 2)
                ok = send_bytes(master, std::string("ASTRAL\r\n"));
            else if (is_nmea_device(*type))
                ok = send_bytes(master, nmea_epoch(current, motion, utc, rtcm ? &rtk : nullptr) +
                                            traffic.epoch(index - 1));
            else if (*type == DeviceType::EarthMate)
                ok = eartha_answered ? send_bytes(master, zodiac_epoch(current, motion, utc))
                                     : send_bytes(master, std::string("EARTHA\r\n"));
            // Garmin speaks only when asked.
            (void)ok;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next_tick - clock::now()).count();
        pollfd p{master, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(std::max<long long>(0, std::min<long long>(wait, 1000))));
        if (r <= 0 || !(p.revents & POLLIN)) continue;
        std::uint8_t buf[256];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) continue;
        if (rtcm) {
            std::fwrite(buf, 1, static_cast<std::size_t>(n), rtcm);
            std::fflush(rtcm);
            rtk.feed(buf, static_cast<std::size_t>(n));
        }
        if (*type == DeviceType::Garmin) {
            for (ssize_t i = 0; i < n; ++i) {
                const auto command = requests.add(buf[i]);
                if (!command) continue;
                if (*command == 2)
                    send_bytes(master, garmin_position(current));
                else if (*command == 5)
                    send_bytes(master, garmin_time(utc_now()));
            }
            continue;
        }
        received.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
        for (std::size_t at; (at = received.find(kAstralQuery)) != std::string::npos;) {
            ++astral_answers;
            received.erase(0, at + kAstralQuery.size());
        }
        if (received.find("EARTHA\r\n") != std::string::npos) eartha_answered = true;
        if (received.size() > 4096) received.erase(0, received.size() - 64);
    }
    if (rtcm) std::fclose(rtcm);
    ::close(keeper);
    ::close(master);
    return 0;
}

}  // namespace vg::cli
