// The fleet over a real Mosquitto broker in a running App: with the mqtt= line the program publishes its
// own fix under its name and shows another device's messages in the fleet; a wrong password is named on
// the message line, never the password itself.
#include <cmath>
#include <filesystem>
#include <mutex>

#include "app/app_fixture.h"
#include "net/mqtt_link.h"
#include "support/captured_diagnostics.h"
#include "support/mosquitto_broker.h"
#include "support/peers.h"

namespace vg {
namespace {

class AppMqtt : public test::AppFixture {
protected:
    void SetUp() override {
        if (const std::string why = test::MosquittoBroker::missing(); !why.empty()) GTEST_SKIP() << why;
        broker = std::make_unique<test::MosquittoBroker>();
        ASSERT_TRUE(broker->ok()) << "the broker did not start; see " << broker->dir();
    }
    // vor_ini.txt's lines for the broker as `user`, whose password file holds `password`.
    std::string mqtt_lines(const std::string& user, const std::string& password) {
        const auto file = dir / "mqtt_password";
        test::write_file(file, password + "\n");
        std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        return "mqtt=" + broker->url(user) + "\r\ncafile=" + broker->ca_file().string() + "\r\nname=base\r\n";
    }
    std::unique_ptr<test::MosquittoBroker> broker;
};

TEST_F(AppMqtt, PublishesItsFixAndShowsTheOthersDevices) {
    if (!test::real_peers_available()) GTEST_SKIP() << "vortool sim is not available here";
    test::Simulator receiver(dir.path());  // the program's own receiver, on a pseudo-terminal
    ASSERT_FALSE(receiver.first_line().empty());
    write_settings("port=COM1\r\n", "com1=" + receiver.first_line() + "\r\n" + mqtt_lines("bob", "bob-pw"));
    App& a = start();
    ASSERT_TRUE(a.link()->link_active());
    // Another device: a phone's link as alice, which also hears what the program publishes.
    std::mutex mu;
    std::vector<DeviceReport> heard;
    MqttOptions o;
    o.address = *parse_mqtt_address(broker->url("alice"));
    o.password = "alice-pw";
    o.name = "phone";
    o.cafile = broker->ca_file().string();
    o.on_report = [&](const DeviceReport& r) {
        std::lock_guard lock(mu);
        heard.push_back(r);
    };
    MqttLink phone(o);
    ASSERT_TRUE(phone.start());
    ASSERT_TRUE(test::eventually([&] { return phone.status().state == MqttState::connected; }));
    DeviceReport at;
    at.lat = test::kStartLat + 0.01;
    at.lon = test::kStartLon;
    phone.publish(at);
    EXPECT_TRUE(test::eventually([&] { return a.fleet().find("phone").has_value(); }));
    EXPECT_DOUBLE_EQ(a.fleet().find("phone")->last.lat, at.lat);

    // Each new fix is handed to the link by the paint that shows it.
    EXPECT_TRUE(test::eventually([&] {
        const std::string message = a.paint().message;
        EXPECT_EQ(message, "");
        std::lock_guard lock(mu);
        for (const auto& r : heard)
            if (r.id == "base" && std::abs(r.lat - test::kStartLat) < 0.1) return true;
        return false;
    }));
    a.on_command(Command::GpsMonitor);
    ASSERT_EQ(window.monitors.size(), 1u);
    const std::string line = window.monitors[0]().fleet;
    EXPECT_TRUE(line.starts_with("MQTT: connected; ")) << line;
    EXPECT_NE(line.find("fleet of 1 device"), std::string::npos) << line;
    phone.stop();
}

TEST_F(AppMqtt, AWrongPasswordIsNamedOnTheMessageLine) {
    test::CapturedDiagnostics diagnostics;
    write_settings("", mqtt_lines("bob", "not-bobs-pw"));
    App& a = start();
    std::string message;
    EXPECT_TRUE(test::eventually([&] { return (message = a.paint().message).starts_with("MQTT"); })) << message;
    EXPECT_NE(message.find("password"), std::string::npos) << message;
    for (const auto& line : diagnostics.lines()) EXPECT_EQ(line.find("not-bobs-pw"), std::string::npos) << line;
    EXPECT_EQ(message.find("not-bobs-pw"), std::string::npos);
}

}  // namespace
}  // namespace vg
