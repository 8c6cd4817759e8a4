// Many devices through a real Mosquitto broker (TLS, password, access list; tests/support): 1,000
// simulated devices each publish a position to fleet/dev-N once a second (spread over the second,
// from 10 connections), and one MqttLink subscribed to fleet/+ turns them into device reports.
// Reports the latency from publication (the message's time) to the report: p50 and p99 in ms, and
// the reports received and dropped. The run lasts --mqtt-seconds=N (default 10; 60 for a full minute).
#include <benchmark/benchmark.h>

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/mqtt_link.h"
#include "support/mosquitto_broker.h"

namespace {

int g_seconds = 10;

std::int64_t wall_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch()).count();
}

void fleet_through_broker(benchmark::State& state) {
    if (const std::string why = vg::test::MosquittoBroker::missing(); !why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    vg::test::MosquittoBroker broker;
    if (!broker.ok()) {
        state.SkipWithError("the broker did not start");
        return;
    }
    const int devices = static_cast<int>(state.range(0));
    constexpr int kConnections = 10;
    for (auto _ : state) {
        std::mutex mu;
        std::vector<double> latencies;
        latencies.reserve(static_cast<std::size_t>(devices) * g_seconds + 1000);
        vg::MqttOptions o;
        o.address = *vg::parse_mqtt_address(broker.url("bob"));
        o.password = "bob-pw";
        o.cafile = broker.ca_file().string();
        o.on_report = [&](const vg::DeviceReport& r) {
            const double ms = static_cast<double>(wall_ms() - r.time_ms);
            std::lock_guard lock(mu);
            latencies.push_back(ms);
        };
        vg::MqttLink watcher(o);
        watcher.start();
        for (int i = 0; i < 200 && watcher.status().state != vg::MqttState::connected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        mosquitto_lib_init();
        std::vector<mosquitto*> pubs;
        for (int c = 0; c < kConnections; ++c) {
            mosquitto* m = mosquitto_new(nullptr, true, nullptr);
            mosquitto_username_pw_set(m, "alice", "alice-pw");
            mosquitto_tls_set(m, broker.ca_file().c_str(), nullptr, nullptr, nullptr, nullptr);
            mosquitto_connect(m, "127.0.0.1", broker.port(), 30);
            mosquitto_loop_start(m);
            pubs.push_back(m);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto start = std::chrono::steady_clock::now();
        long sent = 0;
        // Each device once a second, spread evenly over the second.
        for (long tick = 0;; ++tick) {
            const auto due = start + std::chrono::microseconds(tick * 1000000 / devices);
            if (due - start >= std::chrono::seconds(g_seconds)) break;
            std::this_thread::sleep_until(due);
            const int device = static_cast<int>(tick % devices);
            vg::DeviceReport p;
            p.lat = 60 + device * 1e-4;
            p.lon = 25;
            p.time_ms = wall_ms();
            p.speed_kmh = 40;
            const std::string payload = vg::mqtt_position_json(p);
            const std::string topic = "fleet/dev-" + std::to_string(device);
            mosquitto_publish(pubs[device % kConnections], nullptr, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 0, false);
            ++sent;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        for (mosquitto* m : pubs) {
            mosquitto_disconnect(m);
            mosquitto_loop_stop(m, false);
            mosquitto_destroy(m);
        }
        const vg::MqttStatus st = watcher.status();
        watcher.stop();
        std::lock_guard lock(mu);
        std::sort(latencies.begin(), latencies.end());
        const auto at = [&](double q) {
            return latencies.empty() ? -1.0 : latencies[static_cast<std::size_t>(q * (latencies.size() - 1))];
        };
        state.counters["sent"] = static_cast<double>(sent);
        state.counters["received"] = static_cast<double>(latencies.size());
        state.counters["malformed"] = static_cast<double>(st.dropped_malformed);
        state.counters["p50_ms"] = at(0.50);
        state.counters["p99_ms"] = at(0.99);
        state.counters["max_ms"] = at(1.0);
    }
}
BENCHMARK(fleet_through_broker)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--mqtt-seconds=", 15) == 0) g_seconds = std::max(1, std::atoi(argv[i] + 15));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
