// Soak of the position server: 2000 idle connections and 20 slowloris clients (one header byte every
// half second) are kept connected — each one the server drops is opened again at once — while a base
// posts a position every second. Reports how many posts were taken and their latency (connect to
// reply). The run lasts --soak-seconds=N (default 10; 60 for the full minute).
//
// delayed_phones: the same crowd with 100 slowloris clients (and, for the second run, a flood of new
// connections from the crowd's address besides), while phones on their own addresses connect and
// post only 50 ms to 1 s later. Reports the fraction of phone posts dropped (goal: 0).
//
// fleet_through_http_form: 1,000 phones of a fleet posting once a second (see there).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gps/fix_record.h"
#include "net/position_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int g_soak_seconds = 10;
constexpr int kIdle = 2000;
constexpr int kSlow = 20;

// A connection to the server from 127.0.0.1, or from `from` (another loopback address: another peer).
int connect_to(int port, const char* from = nullptr, bool wait = true) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0) return -1;
    if (from) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && (wait || errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Keeps kIdle silent and `slow_count` dripping clients connected until `stop`.
void pressure(int port, const std::atomic<bool>& stop, std::atomic<long>& reopened, int slow_count = kSlow) {
    struct Client {
        int fd = -1;
        bool slow = false;
        Clock::time_point next_byte{};
    };
    std::vector<Client> clients(static_cast<std::size_t>(kIdle + slow_count));
    for (std::size_t i = 0; i < clients.size(); ++i) {
        clients[i].slow = i >= static_cast<std::size_t>(kIdle);
        clients[i].fd = connect_to(port);
    }
    std::vector<pollfd> polls(clients.size());
    while (!stop.load()) {
        const auto now = Clock::now();
        for (std::size_t i = 0; i < clients.size(); ++i) {
            Client& c = clients[i];
            if (c.fd >= 0 && c.slow && now >= c.next_byte) {
                const char byte = 'X';
                if (::send(c.fd, &byte, 1, MSG_NOSIGNAL) != 1) {
                    ::close(c.fd);
                    c.fd = -1;
                }
                c.next_byte = now + 500ms;
            }
            if (c.fd < 0) {
                c.fd = connect_to(port);
                if (c.fd >= 0 && c.slow) ::send(c.fd, "POST / HTTP/1.1\r\nX-Slow: ", 25, MSG_NOSIGNAL);
                ++reopened;
            }
            polls[i] = {c.fd, POLLIN, 0};
        }
        if (::poll(polls.data(), polls.size(), 100) <= 0) continue;
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (polls[i].fd < 0 || !(polls[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char sink[256];
            if (::recv(clients[i].fd, sink, sizeof sink, MSG_DONTWAIT) <= 0) {  // dropped by the server
                ::close(clients[i].fd);
                clients[i].fd = -1;
            }
        }
    }
    for (const Client& c : clients)
        if (c.fd >= 0) ::close(c.fd);
}

// Reads the reply's head (up to `wait`), closes the connection; true when it was 200 OK.
bool answered_ok(int fd, std::chrono::seconds wait) {
    std::string reply;
    char buffer[512];
    const auto deadline = Clock::now() + wait;
    while (reply.find("\r\n\r\n") == std::string::npos && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply.rfind("HTTP/1.0 200 OK\r\n", 0) == 0;
}

// One base post; true when answered 200 OK within 30 s (the base's own bound).
bool post_position(int port, double latitude) {
    const int fd = connect_to(port);
    if (fd < 0) return false;
    const std::string body = "latitude=" + std::to_string(latitude) + "&longitude=24.950000";
    const std::string request = "POST /vor/sendbase.cgi HTTP/1.1\r\nHost: b\r\nConnection: close\r\nContent-type: "
                                "application/x-www-form-urlencoded\r\nContent-length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return answered_ok(fd, 30s);
}

// Raises the soft limit of open descriptors towards `want` (within the hard limit); the limit now in force.
rlim_t raise_descriptor_limit(rlim_t want) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < want) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? want : std::min(want, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur;
}

void soak(benchmark::State& state) {
    if (raise_descriptor_limit(8192) < 2 * (kIdle + kSlow) + 100) {
        state.SkipWithError("the descriptor limit is too low for 2020 clients and their server ends");
        return;
    }

    for (auto _ : state) {
        vg::SharedFix fix;
        vg::PositionServer server(fix, nullptr);
        vg::PositionServerConfig config;
        config.port = 0;
        config.bind_address = "127.0.0.1";
        if (!server.start(config)) {
            state.SkipWithError("server did not start");
            return;
        }
        std::atomic<bool> stop{false};
        std::atomic<long> reopened{0};
        std::thread load([&] { pressure(server.port(), stop, reopened); });
        std::this_thread::sleep_for(2s);  // let the crowd connect

        std::vector<double> latencies_ms;
        int taken = 0;
        const auto end = Clock::now() + std::chrono::seconds(g_soak_seconds);
        for (int i = 0; Clock::now() < end; ++i) {
            const auto tick = Clock::now();
            const double latitude = 10.0 + i * 0.001;
            const bool ok = post_position(server.port(), latitude);
            latencies_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - tick).count());
            const auto r = fix.snapshot();
            if (ok && std::abs(r.latitude - latitude) < 1e-6 && r.fix_dimension == 3) ++taken;
            std::this_thread::sleep_until(tick + 1s);
        }
        stop = true;
        load.join();
        server.stop();

        std::sort(latencies_ms.begin(), latencies_ms.end());
        const auto at = [&](double q) { return latencies_ms[static_cast<std::size_t>(q * (latencies_ms.size() - 1))]; };
        state.counters["posts"] = static_cast<double>(latencies_ms.size());
        state.counters["taken"] = taken;
        state.counters["p50_ms"] = at(0.5);
        state.counters["p99_ms"] = at(0.99);
        state.counters["max_ms"] = latencies_ms.back();
        state.counters["reconnects"] = static_cast<double>(reopened.load());
    }
}
BENCHMARK(soak)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// New connections from the crowd's address as fast as the server takes them, each left open (the
// last 1000 at most) until the server drops it.
void flood(int port, const std::atomic<bool>& stop, std::atomic<long>& opened) {
    std::vector<int> ring(1000, -1);
    std::size_t next = 0;
    while (!stop.load()) {
        for (int i = 0; i < 20; ++i) {
            if (ring[next] >= 0) ::close(ring[next]);
            ring[next] = connect_to(port, nullptr, false);
            if (ring[next] >= 0) ++opened;
            next = (next + 1) % ring.size();
        }
        std::this_thread::sleep_for(5ms);  // about 4000 a second
    }
    for (int fd : ring)
        if (fd >= 0) ::close(fd);
}

constexpr std::chrono::milliseconds kPhoneDelays[] = {50ms, 100ms, 250ms, 500ms, 1000ms};

// One phone post from `from`, sent `delay` after connecting; 1 when answered 200 OK, 0 when the
// connection was dropped or not answered, -1 when no connection could be made.
int phone_post(int port, const char* from, std::chrono::milliseconds delay) {
    const int fd = connect_to(port, from);
    if (fd < 0) return -1;
    std::this_thread::sleep_for(delay);
    const std::string request = "POST /?id=phone&lat=60.17&lon=24.94 HTTP/1.1\r\nHost: b\r\nContent-Length: 0\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return answered_ok(fd, 10s) ? 1 : 0;
}

void delayed_phones(benchmark::State& state) {
    const bool with_flood = state.range(0) != 0;
    constexpr int kSlowloris = 100;
    constexpr int kPhones = 8;
    if (raise_descriptor_limit(65536) < 2 * (kIdle + kSlowloris) + 1200 + 100) {
        state.SkipWithError("the descriptor limit is too low for the crowd, the flood and their server ends");
        return;
    }

    for (auto _ : state) {
        vg::SharedFix fix;
        vg::PositionServer server(fix, nullptr);
        vg::PositionServerConfig config;
        config.port = 0;
        config.bind_address = "127.0.0.1";  // the phones connect from other loopback addresses
        if (!server.start(config)) {
            state.SkipWithError("server did not start");
            return;
        }
        std::atomic<bool> stop{false};
        std::atomic<long> reopened{0}, flooded{0};
        std::thread load([&] { pressure(server.port(), stop, reopened, kSlowloris); });
        std::this_thread::sleep_for(2s);  // let the crowd connect
        std::thread flooder;
        if (with_flood) flooder = std::thread([&] { flood(server.port(), stop, flooded); });

        std::atomic<long> posts{0}, dropped{0}, unconnected{0}, dropped_50ms{0}, posts_50ms{0};
        const auto end = Clock::now() + std::chrono::seconds(g_soak_seconds);
        std::vector<std::thread> phones;
        for (int i = 0; i < kPhones; ++i) {
            phones.emplace_back([&, i] {
                const std::string from = "127.0.0." + std::to_string(10 + i);
                for (std::size_t n = static_cast<std::size_t>(i); Clock::now() < end; ++n) {
                    const auto delay = kPhoneDelays[n % std::size(kPhoneDelays)];
                    const int r = phone_post(server.port(), from.c_str(), delay);
                    if (r < 0) {
                        ++unconnected;
                        continue;
                    }
                    ++posts;
                    if (delay == 50ms) ++posts_50ms;
                    if (r == 0) {
                        ++dropped;
                        if (delay == 50ms) ++dropped_50ms;
                    }
                }
            });
        }
        for (auto& t : phones) t.join();
        stop = true;
        load.join();
        if (flooder.joinable()) flooder.join();
        server.stop();

        state.counters["posts"] = static_cast<double>(posts.load());
        state.counters["dropped"] = static_cast<double>(dropped.load());
        state.counters["dropped_fraction"] = posts ? static_cast<double>(dropped) / static_cast<double>(posts) : 1.0;
        state.counters["dropped_50ms_fraction"] =
            posts_50ms ? static_cast<double>(dropped_50ms) / static_cast<double>(posts_50ms) : 1.0;
        state.counters["not_connected"] = static_cast<double>(unconnected.load());
        state.counters["flood_connections"] = static_cast<double>(flooded.load());
    }
}
BENCHMARK(delayed_phones)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A fleet of phones through the tracker form: 1,000 devices each post their position once a second
// (spread over the second, from 8 sender threads, a connection per post as phones make them, the
// relay key in every form). Reports the latency from sending a post to its report reaching the fleet
// (on_device, where App takes it): p50 and p99 in ms; the posts taken and refused; and the CPU time of
// the whole process (the senders' share included, so an upper bound of the server's) as a share of one
// core. The run lasts --soak-seconds=N (default 10; 60 for the full minute).
void fleet_through_http_form(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    constexpr int kSenders = 8;
    const std::string key = "fleet-bench-relay-key";
    for (auto _ : state) {
        std::vector<std::atomic<std::int64_t>> sent_ns(static_cast<std::size_t>(devices));
        std::mutex mu;
        std::vector<double> latencies;
        latencies.reserve(static_cast<std::size_t>(devices) * g_soak_seconds + 1000);
        const auto ns_now = [] {
            return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
        };
        vg::SharedFix fix;
        vg::PositionServer server(fix, nullptr);
        vg::PositionServerConfig config;
        config.port = 0;
        config.bind_address = "127.0.0.1";
        config.relay_key = key;
        config.on_notice = [](const std::string&) {};
        config.on_device = [&](const vg::DeviceReport& r) {
            const int device = std::atoi(r.id.c_str() + 4);  // "dev-N"
            if (device < 0 || device >= devices) return;
            const double ms = static_cast<double>(ns_now() - sent_ns[static_cast<std::size_t>(device)].load()) / 1e6;
            std::lock_guard lock(mu);
            latencies.push_back(ms);
        };
        if (!server.start(config)) {
            state.SkipWithError("the position server did not start");
            return;
        }
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        const auto start = Clock::now() + 100ms;
        std::atomic<long> posts{0}, refused{0};
        std::vector<std::thread> senders;
        for (int t = 0; t < kSenders; ++t)
            senders.emplace_back([&, t] {
                for (long tick = t;; tick += kSenders) {
                    const auto due = start + std::chrono::microseconds(tick * 1000000 / devices);
                    if (due - start >= std::chrono::seconds(g_soak_seconds)) break;
                    std::this_thread::sleep_until(due);
                    const int device = static_cast<int>(tick % devices);
                    const int fd = connect_to(server.port());
                    if (fd < 0) {
                        ++refused;
                        continue;
                    }
                    const std::string request = "POST /?id=dev-" + std::to_string(device) + "&lat=" +
                                                std::to_string(60 + device * 1e-4) + "&lon=24.94&speed=11&key=" + key +
                                                " HTTP/1.1\r\nHost: b\r\nContent-Length: 0\r\n\r\n";
                    sent_ns[static_cast<std::size_t>(device)].store(ns_now());
                    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                    ++posts;
                    if (!answered_ok(fd, 10s)) ++refused;
                }
            });
        for (auto& t : senders) t.join();
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        const auto seconds = [](const rusage& u) {
            return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                   static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        };
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        server.stop();
        std::lock_guard lock(mu);
        std::sort(latencies.begin(), latencies.end());
        const auto at = [&](double q) {
            return latencies.empty() ? -1.0 : latencies[static_cast<std::size_t>(q * (latencies.size() - 1))];
        };
        state.counters["posts"] = static_cast<double>(posts.load());
        state.counters["reports"] = static_cast<double>(latencies.size());
        state.counters["refused"] = static_cast<double>(refused.load());
        state.counters["p50_ms"] = at(0.50);
        state.counters["p99_ms"] = at(0.99);
        state.counters["process_cpu_share"] = (seconds(after) - seconds(before)) / wall;
    }
}
BENCHMARK(fleet_through_http_form)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // Our own flag first; the rest goes to the benchmark library.
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--soak-seconds=", 15) == 0) g_soak_seconds = std::max(1, std::atoi(argv[i] + 15));
        else rest.push_back(argv[i]);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
