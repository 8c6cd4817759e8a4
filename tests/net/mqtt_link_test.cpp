// The MQTT link: its address, password file and message form, and two or more clients through a real
// Mosquitto broker on 127.0.0.1 (TLS with a throw-away CA, a password file and an access list).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "net/mqtt_link.h"
#include "support/captured_diagnostics.h"
#include "support/mosquitto_broker.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace vg {
namespace {

TEST(MqttMessage, AddressesPasswordFilesAndMessagesAreCheckedWhole) {
    const auto a = parse_mqtt_address("mqtts://alice@broker.example:8884/teams/red/");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->tls);
    EXPECT_EQ(a->user, "alice");
    EXPECT_EQ(a->host, "broker.example");
    EXPECT_EQ(a->port, 8884);
    EXPECT_EQ(a->prefix, "teams/red");
    const auto plain = parse_mqtt_address("mqtt://host/fleet");
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->tls);
    EXPECT_EQ(plain->port, 1883);
    std::string why;
    for (const char* bad : {"http://h/f", "mqtts://h", "mqtts://h:0/f", "mqtts://h:99999/f", "mqtts://h/f/#",
                            "mqtts://u:secret@h/f", "mqtts://@/f", "mqtts://h /f"}) {
        EXPECT_FALSE(parse_mqtt_address(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }

    const MqttSettings s = parse_mqtt_settings(
        "username=x\r\nmqtt=mqtts://bob@h/fleet\r\nmqttrate=5\r\ncafile=/etc/ca.pem\r\n", "/home/u/vor");
    EXPECT_EQ(s.url, "mqtts://bob@h/fleet");
    EXPECT_EQ(s.name, "bob");  // no name= line: the user
    EXPECT_EQ(s.interval_s, 5);
    EXPECT_EQ(s.cafile, "/etc/ca.pem");
    EXPECT_EQ(s.password_file, std::filesystem::path("/home/u/vor/mqtt_password"));
    EXPECT_EQ(parse_mqtt_settings("name=Van 3\nmqtt=mqtt://h/f\n", "/d").name, "Van 3");

    test::TempDir dir;
    test::write_file(dir / "pw", "s3cret\n");
    std::filesystem::permissions(dir / "pw", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(read_mqtt_password(dir / "pw").password, "s3cret");
    std::filesystem::permissions(dir / "pw", std::filesystem::perms::group_read, std::filesystem::perm_options::add);
    const MqttPassword shared = read_mqtt_password(dir / "pw");
    EXPECT_TRUE(shared.password.empty());
    EXPECT_NE(shared.failure.find("read by others"), std::string::npos);
    EXPECT_NE(read_mqtt_password(dir / "none").failure.find("missing"), std::string::npos);
    EXPECT_EQ(shared.failure.find("s3cret"), std::string::npos);

    DeviceReport p;
    p.lat = 51.5;
    p.lon = -0.125;
    p.time_ms = 1765000000123;
    p.speed_kmh = 42.5;
    p.battery_pct = 80;
    DeviceReport r;
    ASSERT_EQ(parse_mqtt_message("fleet", "fleet/van-3", mqtt_position_json(p), r), MqttMessageKind::position);
    EXPECT_EQ(r.id, "van-3");
    EXPECT_EQ(r.via, "mqtt");
    EXPECT_EQ(r.lat, 51.5);
    EXPECT_EQ(r.lon, -0.125);
    EXPECT_EQ(r.time_ms, 1765000000123);
    EXPECT_EQ(r.speed_kmh, 42.5);
    EXPECT_EQ(r.battery_pct, 80);
    EXPECT_FALSE(r.course_deg);
    EXPECT_EQ(parse_mqtt_message("fleet", "fleet/van-3", "offline", r), MqttMessageKind::offline);
    const std::string ok = R"({"lat":1,"lon":2})";
    for (const auto& [topic, payload] : std::vector<std::pair<std::string, std::string>>{
             {"fleet/a", "not json"}, {"fleet/a", "[1,2]"}, {"fleet/a", R"({"lat":91,"lon":2})"},
             {"fleet/a", R"({"lat":"1","lon":2})"}, {"fleet/a", R"({"lon":2})"}, {"fleet/a", R"({"lat":1,"lon":2,"speed":"x"})"},
             {"fleet/a", R"({"lat":1,"lon":2,"time":-5})"}, {"fleet/a", "{\"lat\":1,\"lon\":2,\"x\":\"" +
                                                                         std::string(kMqttMessageMax, 'y') + "\"}"},
             {"fleet/" + std::string(kDeviceIdMax + 1, 'i'), ok}, {"fleet/a/b", ok}, {"fleetx/a", ok},
             {"fleet/", ok}, {"other/a", ok}, {"fleet/a\x01", ok}})
        EXPECT_EQ(parse_mqtt_message("fleet", topic, payload, r), MqttMessageKind::malformed) << topic << " " << payload.substr(0, 40);
}

// Reports received by one client.
struct Inbox {
    std::mutex mu;
    std::vector<DeviceReport> got;
    std::function<void(const DeviceReport&)> sink() {
        return [this](const DeviceReport& r) {
            std::lock_guard lock(mu);
            got.push_back(r);
        };
    }
    bool has(const std::string& id, double lat) {
        std::lock_guard lock(mu);
        for (const auto& r : got)
            if (r.id == id && r.lat == lat) return true;
        return false;
    }
};

template <class F>
bool eventually(F&& done, int seconds = 10) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

class MqttBroker : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = test::MosquittoBroker::missing(); !why.empty()) GTEST_SKIP() << why;
        broker_ = std::make_unique<test::MosquittoBroker>();
        ASSERT_TRUE(broker_->ok()) << "the broker did not start; see " << broker_->dir();
    }
    std::unique_ptr<MqttLink> link(const std::string& user, const std::string& password, Inbox* inbox,
                                   bool trust_ca = true) {
        MqttOptions o;
        o.address = *parse_mqtt_address(broker_->url(user));
        o.password = password;
        o.name = user;
        if (trust_ca) o.cafile = broker_->ca_file().string();
        if (inbox) o.on_report = inbox->sink();
        auto l = std::make_unique<MqttLink>(o);
        EXPECT_TRUE(l->start());
        return l;
    }
    static DeviceReport at(double lat) {
        DeviceReport p;
        p.lat = lat;
        p.lon = 10;
        return p;
    }
    std::unique_ptr<test::MosquittoBroker> broker_;
};

TEST_F(MqttBroker, TwoClientsSeeEachOthersPositionsNotTheirOwn) {
    Inbox a_in, b_in;
    auto alice = link("alice", "alice-pw", &a_in);
    auto bob = link("bob", "bob-pw", &b_in);
    ASSERT_TRUE(eventually([&] { return alice->status().state == MqttState::connected &&
                                        bob->status().state == MqttState::connected; }))
        << mqtt_status_text(alice->status()) << " / " << mqtt_status_text(bob->status());
    EXPECT_TRUE(alice->publish(at(1.5)));
    EXPECT_FALSE(alice->publish(at(1.75)));  // within the interval: not taken
    EXPECT_TRUE(bob->publish(at(2.5)));
    EXPECT_TRUE(eventually([&] { return b_in.has("alice", 1.5) && a_in.has("bob", 2.5); }));
    EXPECT_FALSE(a_in.has("alice", 1.5));
    EXPECT_FALSE(b_in.has("alice", 1.75));
    EXPECT_EQ(alice->status().published, 1u);
    const auto started = std::chrono::steady_clock::now();
    alice->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(alice->status().state, MqttState::off);
}

TEST_F(MqttBroker, AnotherClientsMessagesAreTakenOrDroppedAndCounted) {
    if (!test::have_tool("mosquitto_pub")) GTEST_SKIP() << "mosquitto_pub is not installed";
    Inbox in;
    auto alice = link("alice", "alice-pw", &in);
    ASSERT_TRUE(eventually([&] { return alice->status().state == MqttState::connected; }));
    const auto pub = [&](const std::string& topic, const std::string& message) {
        return test::run_program("mosquitto_pub", {"-h", "127.0.0.1", "-p", std::to_string(broker_->port()), "--cafile",
                                                   broker_->ca_file().string(), "-u", "bob", "-P", "bob-pw", "-t",
                                                   topic, "-m", message}).status;
    };
    EXPECT_EQ(pub("fleet/phone", "not json"), 0);
    EXPECT_EQ(pub("fleet/phone", "{\"lat\":1,\"lon\":2,\"pad\":\"" + std::string(kMqttMessageMax, 'x') + "\"}"), 0);
    EXPECT_EQ(pub("fleet/phone", "offline"), 0);
    EXPECT_EQ(pub("fleet/phone", R"({"lat":60.25,"lon":24.5,"speed":12,"batt":55})"), 0);
    ASSERT_TRUE(eventually([&] { return in.has("phone", 60.25); }));
    const MqttStatus st = alice->status();
    EXPECT_EQ(st.dropped_malformed, 2u);
    EXPECT_EQ(st.received, 1u);
    EXPECT_EQ(st.state, MqttState::connected);
}

TEST_F(MqttBroker, RefusalsAreReportedWithTheirCauseAndNeverThePassword) {
    test::CapturedDiagnostics diagnostics;
    auto wrong = link("alice", "not-the-password", nullptr);
    auto reader = link("carol", "carol-pw", nullptr);    // may read fleet/# only
    auto outsider = link("dave", "dave-pw", nullptr);    // may use other/# only
    auto untrusting = link("bob", "bob-pw", nullptr, false);  // the test CA is not in the system store
    EXPECT_TRUE(eventually([&] { return wrong->status().state == MqttState::refused_password; }))
        << mqtt_status_text(wrong->status());
    ASSERT_TRUE(eventually([&] { return outsider->status().state == MqttState::connected; }));
    outsider->publish(at(3));
    EXPECT_TRUE(eventually([&] { return outsider->status().state == MqttState::not_authorised; }))
        << mqtt_status_text(outsider->status());
    EXPECT_NE(outsider->status().cause.find("fleet/dave"), std::string::npos);
    ASSERT_TRUE(eventually([&] { return reader->status().state == MqttState::connected; }));
    reader->publish(at(3));
    EXPECT_TRUE(eventually([&] { return reader->status().state == MqttState::not_authorised; }))
        << mqtt_status_text(reader->status());
    EXPECT_NE(reader->status().cause.find("publish"), std::string::npos);
    EXPECT_TRUE(eventually([&] { return untrusting->status().state == MqttState::tls_failure; }))
        << mqtt_status_text(untrusting->status());
    wrong.reset();
    for (const auto& line : diagnostics.lines()) EXPECT_EQ(line.find("not-the-password"), std::string::npos) << line;
}

TEST_F(MqttBroker, AfterTheBrokerIsKilledBothReconnectAndTheRetainedPositionComesBack) {
    Inbox b_in;
    auto alice = link("alice", "alice-pw", nullptr);
    auto bob = link("bob", "bob-pw", &b_in);
    ASSERT_TRUE(eventually([&] { return alice->status().state == MqttState::connected; }));
    alice->publish(at(4.5));
    ASSERT_TRUE(eventually([&] { return b_in.has("alice", 4.5); }));
    broker_->kill();
    EXPECT_TRUE(eventually([&] { return alice->status().state == MqttState::lost && bob->status().state == MqttState::lost; }))
        << mqtt_status_text(alice->status()) << " / " << mqtt_status_text(bob->status());
    // Published while the broker is away: the queue keeps it.
    EXPECT_TRUE(alice->publish(at(5.5), true));
    ASSERT_TRUE(broker_->restart());
    EXPECT_TRUE(eventually([&] { return alice->status().state == MqttState::connected &&
                                        bob->status().state == MqttState::connected; }, 20))
        << mqtt_status_text(alice->status()) << " / " << mqtt_status_text(bob->status());
    EXPECT_TRUE(eventually([&] { return b_in.has("alice", 5.5); }));
    // A client that starts now gets alice's last position from the broker's retained message.
    Inbox late_in;
    auto late = link("carol", "carol-pw", &late_in);
    EXPECT_TRUE(eventually([&] { return late_in.has("alice", 5.5); }));
}

}  // namespace
}  // namespace vg
