// RTK corrections end to end: rtklib's str2str serves gpsd's RTCM 3 capture as an NTRIP caster, the
// program (ntrip= set, vortool sim as an RTK receiver on a pseudo-terminal) streams it, and the
// receiver gets exactly the capture's valid frames (a corrupted frame slipped into the stream is dropped). The
// password file's rule and the password's absence from every diagnostic line are checked too, and the NTRIP
// Casters dialog's path: the caster's list fetched, a mountpoint chosen, the corrections streaming.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "app_fixture.h"
#include "gps/pty_pair.h"
#include "net/socket_util.h"
#include "platform/sockets.h"
#include "settings/settings_file.h"
#include "support/captured_diagnostics.h"
#include "support/peers.h"
#include "support/rtcm3_capture.h"
#include "support/run_program.h"

namespace vg {
namespace {

using test::AppFixture;
using test::PtyPair;

class AppNtrip : public AppFixture {
protected:
    void write_password(std::filesystem::perms perms) {
        const auto file = dir / "ntrip_password.txt";
        test::write_file(file, "s3cret-pw\n");
        std::filesystem::permissions(file, perms);
    }
};

constexpr auto kOwnerOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

TEST_F(AppNtrip, CasterFramesReachTheSerialReceiverWhole) {
    if (!test::real_peers_available() || !test::have_tool("str2str")) GTEST_SKIP() << "rtklib's str2str is not installed";
    sockets_startup();
    const auto recorded = dir / "receiver.rtcm3";
    test::Simulator receiver(dir.path(), {"--rtcm", recorded.string()});
    ASSERT_FALSE(receiver.first_line().empty());
    const auto capture = test::rtcm3_capture();
    const int input = test::free_loopback_port();
    const int caster = test::free_loopback_port();
    test::ChildProcess str2str({"/usr/bin/str2str", "-in", "tcpsvr://:" + std::to_string(input), "-out",
                                "ntripc://alice:s3cret-pw@:" + std::to_string(caster) + "/GPSD"},
                               dir / "str2str.log");
    ASSERT_TRUE(test::eventually([&] { return test::loopback_port_accepts(caster); }));
    // The caster's input: str2str listens, the test connects and writes once the program streams.
    Socket feed = make_tcp_socket();
    ASSERT_EQ(connect_with_timeout(feed, htonl(INADDR_LOOPBACK), input, std::chrono::seconds(5)), 0);

    test::CapturedDiagnostics diagnostics;
    write_password(kOwnerOnly);
    write_settings("port=COM1\r\n", "com1=" + receiver.first_line() + "\r\nntrip=http://alice@127.0.0.1:" +
                                        std::to_string(caster) + "/GPSD\r\nntrip_version=1\r\n");
    App& a = start();
    ASSERT_TRUE(a.link()->link_active());
    ASSERT_TRUE(test::eventually([&] { return a.ntrip_monitor_text().starts_with("NTRIP streaming"); }))
        << a.ntrip_monitor_text();

    // The capture (a cut frame first) with a copy of its third frame, one bit flipped, after the second.
    const auto& frames = capture.frames;
    ASSERT_EQ(frames.size(), 192u);
    const auto msm = std::find_if(frames.begin(), frames.end(), [](const auto& f) { return f.type == 1077; });
    ASSERT_NE(msm, frames.end());
    const int capture_station = ((msm->bytes[4] & 0x0F) << 8) | msm->bytes[5];
    std::string stream = capture.bytes.substr(0, 344);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        stream.append(frames[i].bytes.begin(), frames[i].bytes.end());
        if (i == 1) {
            auto bad = frames[2].bytes;
            bad[8] ^= 0x10;
            stream.append(bad.begin(), bad.end());
        }
    }
    ASSERT_EQ(send_all(feed, stream, std::chrono::seconds(5)), 0);
    EXPECT_TRUE(test::eventually([&] { return test::read_file(recorded).size() >= capture.valid.size(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // anything after it would show now
    const std::string received = test::read_file(recorded);
    EXPECT_EQ(received.size(), capture.valid.size());
    EXPECT_TRUE(received == capture.valid);
    const std::string monitor = a.ntrip_monitor_text();
    EXPECT_NE(monitor.find("1077\u00d7"), std::string::npos) << monitor;
    EXPECT_NE(monitor.find("last frame"), std::string::npos) << monitor;
    // The receiver, fed, goes from RTK float to RTK fixed with its centimetre error and the station's id.
    EXPECT_TRUE(test::eventually([&] { return a.fix().snapshot().quality == 5; })) << a.fix().snapshot().quality;
    ASSERT_TRUE(test::eventually([&] { return a.fix().snapshot().quality == 4; }));
    const FixRecord fixed = a.fix().snapshot();
    EXPECT_STREQ(fix_quality_name(fixed), "RTK fixed");
    EXPECT_NEAR(fixed.h_error_m, 0.014, 0.001);
    EXPECT_EQ(fixed.station_id, capture_station);
    EXPECT_GE(fixed.correction_age, 0.0);

    a.on_command(Command::Disconnect);
    EXPECT_EQ(a.ntrip_monitor_text(), "");
    for (const auto& line : diagnostics.lines()) EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
}

TEST_F(AppNtrip, APasswordFileOthersMayReadIsRefusedAndNothingIsSent) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files have no group or others bits";
#endif
    PtyPair pty;
    VG_REQUIRE_SERIAL_PEER(pty);
    test::CapturedDiagnostics diagnostics;
    write_password(kOwnerOnly | std::filesystem::perms::group_read);
    write_settings("port=COM1\r\n", "com1=" + pty.slave_path() + "\r\nntrip=http://alice@127.0.0.1:1/M\r\n");
    App& a = start();
    ASSERT_TRUE(a.link()->link_active());
    EXPECT_EQ(a.ntrip_monitor_text(), "");
    bool named = false;
    for (const auto& line : diagnostics.lines()) {
        named = named || (line.find("ntrip_password.txt") != std::string::npos &&
                          line.find("chmod 600") != std::string::npos);
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
    }
    EXPECT_TRUE(named);
}

TEST_F(AppNtrip, AMountpointChosenFromTheCastersListStartsTheCorrections) {
    if (!test::real_peers_available() || !test::have_tool("str2str")) GTEST_SKIP() << "rtklib's str2str is not installed";
    sockets_startup();
    test::Simulator receiver(dir.path(), {"--rtcm", (dir / "receiver.rtcm3").string()});
    ASSERT_FALSE(receiver.first_line().empty());
    const int input = test::free_loopback_port();
    const int port = test::free_loopback_port();
    test::ChildProcess str2str({"/usr/bin/str2str", "-in", "tcpsvr://:" + std::to_string(input), "-out",
                                "ntripc://alice:s3cret-pw@:" + std::to_string(port) + "/GPSD"},
                               dir / "str2str.log");
    ASSERT_TRUE(test::eventually([&] { return test::loopback_port_accepts(port); }));
    test::CapturedDiagnostics diagnostics;
    write_settings("port=COM1\r\n", "com1=" + receiver.first_line() + "\r\n");
    App& a = start();
    ASSERT_TRUE(a.link()->link_active());
    a.on_command(Command::NtripCasters);
    ASSERT_EQ(window.ntrips.size(), 1u);
    NtripDialogData& dialog = window.ntrips[0];
    EXPECT_EQ(dialog.caster, "");  // no ntrip= line yet

    // What the user gets wrong is said at once; an unreachable caster is said after the attempt.
    EXPECT_NE(dialog.fetch("ftp://127.0.0.1/", "pw"), "");
    EXPECT_EQ(dialog.choose("http://alice@127.0.0.1:" + std::to_string(port), "", "pw"),
              "Choose a mountpoint of the list first");
    const auto fetched = [&] {
        NtripCasterTexts texts;
        EXPECT_TRUE(test::eventually([&] { return !(texts = dialog.poll()).busy; }));
        return texts;
    };
    ASSERT_EQ(dialog.fetch("http://127.0.0.1:" + std::to_string(test::free_loopback_port()), "pw"), "");
    EXPECT_NE(fetched().message.find("could not be read"), std::string::npos);

    const std::string caster = "http://alice@127.0.0.1:" + std::to_string(port);
    ASSERT_EQ(dialog.fetch(caster, "s3cret-pw"), "");
    const NtripCasterTexts texts = fetched();
    ASSERT_EQ(texts.rows.size(), 1u) << texts.message;
    EXPECT_EQ(texts.rows[0].mountpoint, "GPSD");

    const std::string said = dialog.choose(caster, "GPSD", "s3cret-pw");
    EXPECT_NE(said.find("corrections are starting"), std::string::npos) << said;
    EXPECT_EQ(setting_value(dir / "vor_ini.txt", "ntrip").value_or(""), caster + "/GPSD");
    const auto password_file = dir / "ntrip_password.txt";
    EXPECT_EQ(test::read_file(password_file), "s3cret-pw\n");
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(password_file).permissions() & std::filesystem::perms::all, kOwnerOnly);
#endif
    EXPECT_TRUE(test::eventually([&] { return a.ntrip_monitor_text().starts_with("NTRIP streaming"); }))
        << a.ntrip_monitor_text();
    for (const auto& line : diagnostics.lines()) EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
}

}  // namespace
}  // namespace vg
