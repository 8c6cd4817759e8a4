// The real window on a real display (ctest runs these under xvfb-run with the xcb platform; the
// offscreen run leaves them out): a first start with no settings files, Detect finding a gpsd and
// a receiver on a pseudo-terminal started here, and what the status bar and title say when that
// gpsd is killed; and a drive off line: a street typed in the search field, chosen, routed to
// from the context menu, guided, and routed again when the drive misses its turn.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>

#include "app/app.h"
#include "app/view_text.h"
#include "support/loopback_http_server.h"
#include "support/peers.h"
#include "support/test_paths.h"
#include "support/town_routing.h"
#include "support/vector_town.h"
#include "tiles/local_source.h"
#include "ui/dialog_detect.h"
#include "ui/main_window.h"
#include "ui/map_view.h"
#include "ui/qt_test_util.h"
#include "ui/qt_window.h"
#include "ui/shell.h"
#include "ui/status_panel.h"

namespace vg {
namespace {

using namespace std::chrono_literals;
using test::wait_until;

class RealWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            GTEST_SKIP() << "needs a real display (ctest runs these under xvfb-run)";
        server = std::make_unique<test::LoopbackHttpServer>(test::ScriptedReply::make(
            200, "image/png", test::read_file(test::shared_testdata() / "images/bench/map256-rgb.png"), true));
    }
    void TearDown() override {
        app.reset();
        services.reset();
        window.reset();
    }

    // The program started in an empty folder, as a first start is: no settings files at all.
    void start(const std::function<void(AppOptions&)>& adjust = {}) {
        AppOptions options;
        options.start_probe = false;
        TileHosts hosts;
        const std::string host = "127.0.0.1:" + std::to_string(server->port());
        hosts.etopo2 = hosts.openstreetmap = hosts.google_map = hosts.google_aerial = hosts.mapquest = host;
        hosts.virtual_earth_road.fill(host);
        hosts.virtual_earth_aerial.fill(host);
        options.tile_hosts = hosts;
        if (adjust) adjust(options);
        window = std::make_unique<MainWindow>();
        services = std::make_unique<QtWindow>(*window);
        services->set_warning_function([this](QWidget*, const QString&, const QString& text) {
            boxes.push_back(text);
            return int(QMessageBox::Ok);
        });
        app = std::make_unique<App>(dir.path(), options);
        connect_app(*window, *services, *app);
        app->create(*services);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    test::TempDir dir;
    std::unique_ptr<test::LoopbackHttpServer> server;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QtWindow> services;
    std::unique_ptr<App> app;
    QStringList boxes;
};

TEST_F(RealWindow, FirstStartShowsTheMapNoBoxAndOffersDetect) {
    start();
    MapView* view = window->map_view();
    ASSERT_TRUE(wait_until([&] { return view->message_text() == QString::fromUtf8(kNoReceiverChosenText); }));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(" | ").toStdString();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(app->receiver_chosen());
    EXPECT_FALSE(app->receiver()->active());
    // The defaults name no port: nothing was chosen, and the next start is the same.
    EXPECT_EQ(test::read_file(dir / "vor_set.txt").find("port="), std::string::npos);
    // Detect beside the message; the classic client size keeps its whole map (no status bar).
    auto* detect = view->findChild<QPushButton*>("map_detect");
    ASSERT_NE(detect, nullptr);
    EXPECT_TRUE(detect->isVisible());
    EXPECT_TRUE(view->message_band().right() < detect->geometry().left());
    EXPECT_EQ(view->size(), QSize(MapView::kSmallWidth, MapView::kSmallHeight));
    EXPECT_FALSE(window->status_bar_shown());
    // Pressing it opens Detect's list, which does not hold up the window.
    DetectDialog* list = window->detect_dialog();
    QTest::mouseClick(detect, Qt::LeftButton);
    ASSERT_TRUE(wait_until([&] { return list->isVisible(); }));
    EXPECT_FALSE(list->isModal());
    list->reject();
    EXPECT_TRUE(wait_until([&] { return !app->detecting(); }));
}

TEST_F(RealWindow, DetectFindsGpsdAndAReceiverAndAKilledGpsdShowsAtOnce) {
    if (!test::real_peers_available()) GTEST_SKIP() << "gpsd and vortool sim are Linux programs";
    test::TempDir peers;
    test::Simulator gpsd_feed(peers.path());
    auto gpsd = std::make_unique<test::Gpsd>(peers.path(), gpsd_feed.first_line());
    ASSERT_TRUE(test::eventually([&] { return gpsd->ready(); }));
    test::TempDir other;
    test::Simulator receiver(other.path());
    start([&](AppOptions& o) {
        o.detect.gpsd_port = gpsd->port();
        o.detect.gpsd_ms = 20000;  // a gpsd that has just opened its device answers once it is done probing it
        o.detect.udp_port = 0;
        o.detect.serial_paths = std::vector<std::string>{receiver.first_line()};
    });
    window->on_command(Command::DetectReceiver);
    DetectDialog* list = window->detect_dialog();
    ASSERT_TRUE(wait_until([&] { return list->isVisible() && !app->detecting() && list->lines().size() == 2; }, 30s))
        << list->lines().join(" | ").toStdString();
    EXPECT_TRUE(list->lines()[0].startsWith(QStringLiteral("gpsd on localhost:%1: ").arg(gpsd->port())));
    EXPECT_EQ(list->lines()[1], QString::fromStdString(receiver.first_line() + ": NMEA at 4800 baud"));

    // Choosing gpsd sets the device as the Device menu does and connects.
    Q_EMIT list->chosen(0);
    EXPECT_EQ(app->window_state()->device_type, DeviceType::Gpsd);
    EXPECT_NE(test::read_file(dir / "vor_ini.txt").find("gpsd=127.0.0.1:" + std::to_string(gpsd->port())), std::string::npos);
    EXPECT_TRUE(window->menu_action(Command::Gpsd)->isChecked());
    window->on_command(Command::StatusBar);
    ASSERT_TRUE(window->status_bar_shown());
    EXPECT_TRUE(window->menu_action(Command::StatusBar)->isChecked());
    // The bar is added below: the map keeps its classic size.
    EXPECT_TRUE(wait_until([&] { return window->map_view()->size() == QSize(MapView::kSmallWidth, MapView::kSmallHeight); }))
        << window->map_view()->width() << "x" << window->map_view()->height();
    StatusPanel* status = window->status_panel();
    ASSERT_TRUE(wait_until([&] { return status->receiver_text() == "gpsd: connected" && !app->fix_stale() &&
                                        window->windowTitle().contains(QStringLiteral("N 60")); },
                           60s))
        << status->receiver_text().toStdString();
    EXPECT_TRUE(boxes.isEmpty());

    // gpsd killed outright: the status bar says so within 3 s, and the title marks the fix old.
    ASSERT_EQ(::kill(gpsd->pid(), SIGKILL), 0);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(wait_until([&] { return status->receiver_text() == "gpsd: receiver gone"; }, 10s))
        << status->receiver_text().toStdString();
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 3s);
    ASSERT_TRUE(wait_until([&] { return window->windowTitle().contains(QStringLiteral(" old)")); }, 10s))
        << window->windowTitle().toStdString();
    EXPECT_TRUE(app->fix_stale());
}

// Off line, with the town's pack and routing data: "Church Road" typed in the field (Ctrl+F) and its
// row clicked; the context menu (Shift+right-click) offers it, and the field's Route button routes
// there while `vortool sim` drives east along High Street, past the left turn into Church Road.
TEST_F(RealWindow, AStreetFoundIsRoutedToGuidedAndRoutedAgainWhenTheTurnIsMissed) {
    VG_TOWN_ROUTING(town_maps);
    VG_TOWN_MBTILES(pack);
    if (!test::real_peers_available()) GTEST_SKIP() << "vortool sim is not available here";
    const auto track = dir / "drive.txt";
    {
        std::ofstream out(track);
        for (int i = 20; i <= 110; ++i) out << "47.50200 " << 10.0000 + i * 1e-4 << "\n";
    }
    test::TempDir peers;
    test::Simulator receiver(peers.path(), {"--track", track.string(), "--rate", "10"});
    const std::filesystem::path maps = dir / "Maps";
    std::filesystem::create_directories(packs_folder(maps.string()));
    std::filesystem::copy_file(pack, packs_folder(maps.string()) / "town.mbtiles");
    std::filesystem::create_directories(maps / "routing");
    std::filesystem::create_directory_symlink(town_maps / "routing" / "town", maps / "routing" / "town");
    test::write_file(dir / "vor_set.txt", "port=COM1\r\nunit=NMEA\r\n");
    test::write_file(dir / "vor_ini.txt", "maps=" + maps.string() + "\r\ncom1=" + receiver.first_line() + "\r\n");
    start();
    MapView* view = window->map_view();

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    QLineEdit* text = nullptr;
    ASSERT_TRUE(wait_until([&] { return (text = view->findChild<QLineEdit*>("text")) && text->isVisible(); }));
    EXPECT_TRUE(text->hasFocus());
    auto* results = view->findChild<QTreeWidget*>("results");
    ASSERT_NE(results, nullptr);
    QTest::keyClicks(text, "church ro");
    QTreeWidgetItem* row = nullptr;
    ASSERT_TRUE(wait_until([&] {
        const auto found = results->findItems(QStringLiteral("Church Road"), Qt::MatchExactly);
        row = found.isEmpty() ? nullptr : found.front();
        return row != nullptr;
    }, 60s));
    results->scrollToItem(row);
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, results->visualItemRect(row).center());
    EXPECT_FALSE(window->menu_action(Command::AutoPan)->isChecked());  // the place stays in view

    // Once a lap of the drive starts, before the crossing: the menu's last item routes to the place.
    ASSERT_TRUE(wait_until([&] {
        const FixRecord fix = app->fix().snapshot();
        return fix.fix_dimension > 0 && !app->fix_stale() && fix.longitude < 10.0035;
    }, 30s));
    QStringList items;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* a : menu->actions()) items << a->text();
        menu->close();
    });
    QTest::mouseClick(view, Qt::RightButton, Qt::ShiftModifier, QPoint(view->width() / 2, view->height() / 2));
    EXPECT_EQ(items.join("|"), "Route from here|Route to here|Route to Church Road");
    auto* route = view->findChild<QPushButton*>("route");
    ASSERT_TRUE(wait_until([&] { return route && route->isVisible(); }));
    QTest::mouseClick(route, Qt::LeftButton);
    EXPECT_TRUE(window->menu_action(Command::AutoPan)->isChecked());  // the map follows the drive again

    QString guided;
    bool left = false;
    ASSERT_TRUE(wait_until([&] {
        const QString message = view->message_text();
        if (message.startsWith("In ") && guided.isEmpty()) guided = message;
        left = left || message == "Off route, routing again";
        return left && !app->routing() && app->current_route() && app->current_route()->line.front().lon > 10.0062;
    }, 60s)) << guided.toStdString() << " / " << view->message_text().toStdString();
    EXPECT_TRUE(guided.contains("turn left onto Church Road")) << guided.toStdString();
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(" | ").toStdString();
}

}  // namespace
}  // namespace vg
