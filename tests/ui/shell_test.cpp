// The window joined to the real application logic, offscreen: what the client area shows, where its
// clicks and keys go, the client size for both map sizes, the clipboard, and the program's options.
// Tiles come from a loopback server that answers every request with a real map tile (a loopback TLS
// server for the built-in https source).

#include "ui/shell.h"

#include "app/toolbar_layout.h"
#include "resources/menu_resource.h"
#ifndef VG_NO_CURL
#include "support/https_source_contract.h"
#endif
#include "support/loopback_http_server.h"
#include "support/test_paths.h"
#include "support/view_fill_contract.h"
#include "support/view_places.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "ui/main_window.h"
#include "ui/map_view.h"
#include "ui/qt_window.h"
#include "ui/status_panel.h"
#include "ui/qt_test_util.h"

namespace vg {
namespace {

using test::wait_until;

using namespace std::chrono_literals;

const std::filesystem::path kTile = test::shared_testdata() / "images/bench/map256-rgb.png";

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<test::LoopbackHttpServer>(
            test::ScriptedReply::make(200, "image/png", test::read_file(kTile), true));
        tile = QImage(QString::fromStdString(kTile.string())).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(tile.isNull());
    }
    void TearDown() override {
        app.reset();
        services.reset();
        window.reset();
        while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
    }

    // `com1`: the device COM1 stands for; without one no receiver port is configured. The view
    // starts on a tile corner (the classic cells) unless `pos` says otherwise.
    // `adjust` changes the options before the App is made.
    void start(const std::string& size = "small", const std::string& com1 = "", std::string pos = "",
               const std::function<void(AppOptions&)>& adjust = {}) {
        test::write_file(dir / "vor_set.txt", "site=OpenStreetMap\r\nsize=" + size + "\r\nunit=NMEA\r\nport=" +
                                                  (com1.empty() ? "COM0" : "COM1") + "\r\n");
        test::write_file(dir / "vor_ini.txt", "maps=./Maps\r\nzoom=2\r\nhair=1\r\nzone=\r\ndash=\r\nfile=\r\ncom1=" +
                                                  com1 + "\r\n" + extra_ini);
        if (pos.empty()) pos = test::tile_corner_position(60.0 + 10.0 / 60 + 30.0 / 3600, 24.0 + 55.0 / 60, 2);
        test::write_file(dir / "vor_pos.txt", pos);
        AppOptions options;
        options.start_probe = false;
        // Each view is whole when its command returns (background filling is tested with the App).
        options.background_tiles = false;
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
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(app->view_loaded());
        // The first view's cells are composed by the window's first paints.
        ASSERT_TRUE(wait_until([&] { return app->layer().cells_to_compose() == 0; }));
    }

    MapView* view() const { return window->map_view(); }
    QImage shot() const { return view()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QAction* action(Command id) const { return window->menu_action(id); }

    std::string extra_ini;  // vor_ini.txt lines after the ones start() writes
    test::TempDir dir;
    std::unique_ptr<test::LoopbackHttpServer> server;
    QImage tile;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QtWindow> services;
    std::unique_ptr<App> app;
    QStringList boxes;
};

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;

TEST_F(ShellTest, ClientAreaShowsToolbarFrameAndMap) {
    start();
    const QImage image = shot();
    ASSERT_EQ(image.size(), QSize(514, 435));
    // The band's lines run across the whole width.
    for (int x : {0, 200, 513}) {
        EXPECT_EQ(image.pixel(x, 0), MapView::kBackground) << x;
        EXPECT_EQ(image.pixel(x, 1), kBlack) << x;
        EXPECT_EQ(image.pixel(x, 2), kWhite) << x;
        EXPECT_EQ(image.pixel(x, 42), kBlack) << x;
        EXPECT_EQ(image.pixel(x, 43), kWhite) << x;
    }
    for (int x : toolbar::kSeparatorX) {
        EXPECT_EQ(image.pixel(x, 5), kBlack) << x;
        EXPECT_EQ(image.pixel(x, 39), kBlack) << x;
        EXPECT_EQ(image.pixel(x + 1, 20), kWhite) << x;
        EXPECT_EQ(image.pixel(x, 40), MapView::kBackground) << x;
    }
    // Buttons: Auto Pan is on (greyed GPS), level 2 is current, the map layer is shown.
    const int expected[] = {702, 721, 722, 723, 724, 730, 731, 742, 733, 734, 751};
    for (int b = 0; b < toolbar::kButtonCount; ++b) {
        const QImage button = image.copy(toolbar::kButtonX[b], toolbar::kButtonTop, 32, 32);
        EXPECT_EQ(button, MapView::toolbar_picture(expected[b])) << "button " << b;
    }
    EXPECT_NE(MapView::toolbar_picture(702), MapView::toolbar_picture(701));
    EXPECT_TRUE(MapView::toolbar_picture(700).isNull());
    // The sunken frame: black top and left, white bottom and right.
    EXPECT_EQ(image.pixel(0, 48), kBlack);
    EXPECT_EQ(image.pixel(300, 48), kBlack);
    EXPECT_EQ(image.pixel(0, 432), kBlack);
    EXPECT_EQ(image.pixel(0, 433), kWhite);
    EXPECT_EQ(image.pixel(300, 433), kWhite);
    EXPECT_EQ(image.pixel(513, 48), kWhite);
    EXPECT_EQ(image.pixel(513, 400), kWhite);
    // The map area starts with bitmap row 64 (W/8): every view cell holds the same tile, so client row
    // 49 is the tile's row 64 and the last client row of the map, 432 (bitmap row 447), its row 191.
    for (int x : {0, 77, 255, 300, 511}) {
        EXPECT_EQ(image.pixel(1 + x, 49), tile.pixel(x % 256, 64)) << x;
        EXPECT_EQ(image.pixel(1 + x, 432), tile.pixel(x % 256, 191)) << x;
    }
}

// A frame of the small view over an all-black map in `bitmap`, with the speed text.
PaintFrame black_map_frame(DisplayBitmap& bitmap) {
    PaintFrame frame;
    frame.draw_toolbar = true;
    Mosaic mosaic;
    mosaic.width = mosaic.height = 512;
    mosaic.pixels.assign(512 * 512 * 3, 0);  // a black map shows the white outline
    EXPECT_TRUE(build_display_bitmap(false, mosaic, bitmap));
    frame.bitmap = &bitmap;
    frame.map_width = 512;
    frame.map_height = 384;
    frame.visible_first_row = 64;
    frame.speed = {true, "88 km/h NE", 24, 512 - 11 * 10, 384 + 48 - 24};
    return frame;
}

// The client area of the small view as MapView draws `frame`.
QImage drawn(const PaintFrame& frame) {
    QImage image(514, 435, QImage::Format_RGB32);
    image.fill(MapView::kBackground);
    QPainter painter(&image);
    MapView::draw_frame(painter, frame, 514);
    return image;
}

// The smallest rectangle holding every pixel where `a` and `b` differ.
QRect changed(const QImage& a, const QImage& b) {
    QRect box;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) box |= QRect(x, y, 1, 1);
    return box;
}

TEST_F(ShellTest, SpeedTextIsDarkBlueOutlinedInWhite) {
    DisplayBitmap bitmap;
    PaintFrame frame = black_map_frame(bitmap);
    QImage image = drawn(frame);
    int blue = 0, white = 0;
    const QRect box(frame.speed.x - 2, frame.speed.y - 2, 11 * 10 + 4, 24 + 4);
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= std::min(box.right(), 512); ++x) {
            if (image.pixel(x, y) == MapView::kSpeedText) ++blue;
            if (image.pixel(x, y) == MapView::kSpeedOutline) ++white;
        }
    EXPECT_GT(blue, 100);
    EXPECT_GT(white, 100);
    // Nothing of the text above its box, the map elsewhere stays black, and a text wider than the
    // room its length allows still ends inside the map area.
    EXPECT_EQ(image.pixel(100, 200), kBlack);
    for (int x = box.left(); x < 512; ++x) EXPECT_EQ(image.pixel(x, box.top() - 1), kBlack) << x;
    for (int y = box.top(); y <= 432; ++y) EXPECT_EQ(image.pixel(512, y), kBlack) << y;

    // Without a bitmap only the toolbar is drawn; a failed composition draws nothing at all.
    frame.bitmap = nullptr;
    image = drawn(frame);
    EXPECT_EQ(image.pixel(5, 1), kBlack);
    EXPECT_EQ(image.pixel(0, 48), MapView::kBackground);
    frame.draw_toolbar = false;
    EXPECT_EQ(drawn(frame).pixel(5, 1), MapView::kBackground);
}

TEST_F(ShellTest, ScaleBarStandsAboveTheNotesAndClearOfTheSpeed) {
    DisplayBitmap bitmap;
    PaintFrame frame = black_map_frame(bitmap);
    const QImage map_only = drawn(frame);
    frame.attribution = "\u00a9 OpenStreetMap contributors";
    frame.message = "The tile server does not answer";
    const QImage notes = drawn(frame);
    frame.scale_bar = {true, 66, "5 km"};
    const QImage with_bar = drawn(frame);
    PaintFrame without_speed = frame;
    without_speed.speed.show = false;
    const QRect notes_box = changed(map_only, notes), bar_box = changed(notes, with_bar),
                speed_box = changed(drawn(without_speed), with_bar);
    ASSERT_FALSE(bar_box.isEmpty());
    ASSERT_FALSE(speed_box.isEmpty());
    // In the map's bottom-left corner, over neither the attribution and message nor the speed (which
    // leaves the notes' font as it was).
    EXPECT_EQ(bar_box.left(), MapView::kMapLeft);
    EXPECT_EQ(bar_box.bottom() + 1, notes_box.top());
    EXPECT_FALSE(bar_box.intersects(speed_box));
    // The bar itself: one row of 66 dark pixels, as long as the frame says.
    int longest = 0;
    for (int y = bar_box.top(); y <= bar_box.bottom(); ++y)
        for (int x = bar_box.left(), run = 0; x <= bar_box.right(); ++x) {
            run = with_bar.pixel(x, y) == MapView::kScaleBarInk ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    EXPECT_EQ(longest, 66);
    // No bar when the frame has none.
    frame.scale_bar.show = false;
    EXPECT_EQ(drawn(frame), notes);
    // A credit longer than the map is wide is cut short before the speed text, never drawn over it.
    frame.attribution = "\u00a9 OpenStreetMap contributors \u00b7 Atlas stand-ins \u00b7 " + std::string(80, 'x');
    const QRect long_box = changed(map_only, drawn(frame));
    EXPECT_LT(long_box.right(), speed_box.left());
    frame.speed.show = false;  // without it the credit takes the whole width
    PaintFrame no_notes = frame;
    no_notes.attribution.clear();
    no_notes.message.clear();
    EXPECT_GT(changed(drawn(no_notes), drawn(frame)).right(), speed_box.left());
}

TEST_F(ShellTest, ClicksAndKeysReachTheirHandlers) {
    start();
    const ViewState& v = app->view();
    const int x0 = v.centre_x, y0 = v.centre_y;
    ASSERT_EQ(v.level, 2);

    // Just below the hit boxes: nothing.
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(70, 38));
    EXPECT_TRUE(action(Command::AutoPan)->isChecked());
    EXPECT_EQ(v.centre_x, x0);

    // Pan west at the box's left edge turns Auto Pan off and moves one tile.
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(64, 6));
    EXPECT_FALSE(action(Command::AutoPan)->isChecked());
    EXPECT_EQ(v.centre_x, x0 - 256);
    // Pan north, south and east at their boxes' right and bottom edges.
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(134, 37));
    EXPECT_EQ(v.centre_y, y0 - 256);
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(174, 20));
    EXPECT_EQ(v.centre_y, y0);
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(214, 20));
    EXPECT_EQ(v.centre_x, x0);
    // Between two buttons: nothing.
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(99, 20));
    EXPECT_EQ(v.centre_x, x0);

    // Keys pan on release.
    QTest::keyRelease(view(), Qt::Key_Left);
    EXPECT_EQ(v.centre_x, x0 - 256);
    QTest::keyRelease(view(), Qt::Key_Right);
    QTest::keyRelease(view(), Qt::Key_Up);
    QTest::keyRelease(view(), Qt::Key_Down);
    QTest::keyRelease(view(), Qt::Key_A);
    EXPECT_EQ(v.centre_x, x0);
    EXPECT_EQ(v.centre_y, y0);

    // Level buttons: level 0 .. 4 at their boxes; the current level's picture is the greyed one.
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(239, 20));
    EXPECT_EQ(v.level, 0);
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(441, 20));
    EXPECT_EQ(v.level, 4);
    EXPECT_EQ(shot().copy(410, 6, 32, 32), MapView::toolbar_picture(744));
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(312, 20));
    EXPECT_EQ(v.level, 1);

    // The map: a right click zooms out, a left click zooms in, both at the map area's edges.
    QTest::mouseClick(view(), Qt::RightButton, {}, QPoint(1, 49));
    EXPECT_EQ(v.level, 0);
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(512, 432));
    EXPECT_EQ(v.level, 1);
    // Outside the map on the frame: nothing.
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(0, 200));
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(200, 433));
    EXPECT_EQ(v.level, 1);

    // The Auto Pan button turns it back on; the Aerial button asks for photos.
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(30, 20));
    EXPECT_TRUE(action(Command::AutoPan)->isChecked());
    QTest::mouseClick(view(), Qt::LeftButton, {}, QPoint(498, 20));  // OpenStreetMap has no photos
    EXPECT_FALSE(action(Command::AerialPhoto)->isChecked());

    // Mouse moves reach the handler: with Map Coordinates the title follows the pointer.
    action(Command::MapCoordinates)->trigger();
    EXPECT_TRUE(action(Command::MapCoordinates)->isChecked());
    QTest::mouseMove(view(), QPoint(10, 60));
    ASSERT_TRUE(wait_until([&] { return window->windowTitle().startsWith("Vor OpenStreetMap - N "); }));
    const QString first = window->windowTitle();
    QTest::mouseMove(view(), QPoint(500, 420));
    ASSERT_TRUE(wait_until([&] { return window->windowTitle() != first; }));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("; ").toStdString();
}

TEST_F(ShellTest, BigMapsSizesTheClientAreaBothWays) {
    start();
    EXPECT_EQ(view()->size(), QSize(514, 435));
    action(Command::BigMaps)->trigger();
    EXPECT_TRUE(action(Command::BigMaps)->isChecked());
    // The next paint resizes the window.
    ASSERT_TRUE(wait_until([&] { return view()->size() == QSize(1026, 819); }));
    EXPECT_NE(test::read_file(dir / "vor_set.txt").find("size=large\r\n"), std::string::npos);
    ASSERT_TRUE(wait_until([&] { return app->view().client_height == 819; }));
    const QImage big = shot();
    EXPECT_EQ(big.pixel(1025, 1), kBlack);
    EXPECT_EQ(big.pixel(0, 816), kBlack);
    EXPECT_EQ(big.pixel(0, 817), kWhite);
    EXPECT_EQ(big.pixel(0, 818), MapView::kBackground);
    EXPECT_EQ(big.pixel(1027 - 2, 500), kWhite);
    // The map area starts with row W/8 = 128 of the 1024-pixel bitmap.
    const DisplayBitmap& bitmap = app->view().display_bitmap;
    ASSERT_EQ(bitmap.side(), 1024);
    for (int x : {0, 300, 600, 1023}) {
        const std::uint8_t* p = bitmap.row(128) + 3 * x;
        EXPECT_EQ(big.pixel(1 + x, 49), qRgb(p[2], p[1], p[0])) << x;
    }
    action(Command::BigMaps)->trigger();
    ASSERT_TRUE(wait_until([&] { return view()->size() == QSize(514, 435); }));
}

TEST_F(ShellTest, LargeSizeSettingOpensTheBigWindow) {
    start("large");
    ASSERT_TRUE(wait_until([&] { return view()->size() == QSize(1026, 819); }));
    EXPECT_TRUE(action(Command::BigMaps)->isChecked());
}

TEST_F(ShellTest, CopyPutsTheWholeMosaicWithoutOverlaysOnTheClipboard) {
    start();
    QGuiApplication::clipboard()->clear();
    action(Command::Copy)->trigger();
    ASSERT_TRUE(wait_until([] { return !QGuiApplication::clipboard()->image().isNull(); }));
    const QImage copied = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(copied.size(), QSize(512, 512));
    // All rows, including those hidden above and below the map area, in true colours.
    for (int y : {0, 63, 64, 300, 511})
        for (int x : {0, 128, 256, 511}) EXPECT_EQ(copied.pixel(x, y), tile.pixel(x % 256, y % 256)) << x << "," << y;
}

// Map pixel (x, y) of the client area multiplied by the night tint, channel by channel.
QRgb night_of(QRgb day) {
    const QRgb t = MapView::kNightTint;
    auto mul = [](int a, int b) { return (a * b + 127) / 255; };
    return qRgb(mul(qRed(day), qRed(t)), mul(qGreen(day), qGreen(t)), mul(qBlue(day), qBlue(t)));
}

bool near_colour(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 && std::abs(qBlue(a) - qBlue(b)) <= 2;
}

TEST_F(ShellTest, NightDimsTheMapAndToolbarAtOnceAndLeavesTheCacheAlone) {
    start();
    const QImage day = shot();
    const QColor day_ground = window->menuBar()->palette().color(QPalette::Window);
    // The menu bar and every menu follow: nothing in the window stays bright.
    auto grounds_are = [&](QColor ground) {
        bool all = window->menuBar()->palette().color(QPalette::Window) == ground;
        for (QMenu* menu : window->menuBar()->findChildren<QMenu*>()) all &= menu->palette().color(QPalette::Window) == ground;
        return all;
    };
    const std::string cached = test::read_file(app->tile_paths().slots[0]);
    const std::size_t requests = server->requests().size();
    action(Command::Night)->trigger();
    EXPECT_TRUE(action(Command::Night)->isChecked());
    ASSERT_TRUE(wait_until([&] { return shot() != day; }));
    const QImage night = shot();
    for (QPoint p : {QPoint(1, 49 + 64), QPoint(100, 200), QPoint(300, 400), QPoint(20, 30)})
        EXPECT_TRUE(near_colour(night.pixel(p), night_of(day.pixel(p))))
            << p.x() << "," << p.y() << " " << std::hex << night.pixel(p) << " " << day.pixel(p);
    EXPECT_EQ(night.pixel(0, 440 - 6), MapView::kNightBackground);
    EXPECT_TRUE(grounds_are(QColor::fromRgb(MapView::kNightBackground)));
    EXPECT_LT(window->menuBar()->palette().color(QPalette::WindowText).lightness(), 128);
    EXPECT_NE(test::read_file(dir / "vor_set.txt").find("night=yes\r\n"), std::string::npos);
    // Nothing was fetched or rewritten for it.
    EXPECT_EQ(server->requests().size(), requests);
    EXPECT_EQ(test::read_file(app->tile_paths().slots[0]), cached);
    action(Command::Night)->trigger();
    ASSERT_TRUE(wait_until([&] { return shot() == day; }));
    EXPECT_TRUE(grounds_are(day_ground));
    EXPECT_NE(test::read_file(dir / "vor_set.txt").find("night=no\r\n"), std::string::npos);
}

// Options → Preferences: the receiver set to gpsd with its host, a source line added (refused with
// its reason until it is right), OK; the files say what the dialog showed, the user's own line is
// kept, the Device and Maps menus follow.
TEST_F(ShellTest, PreferencesWritesWhatTheDialogShowsAndTakesEffectAtOnce) {
    extra_ini = "my own line = keep me\r\n";
    start();
    const std::string home = "Home|map|http://127.0.0.1:" + std::to_string(server->port()) + "/{z}/{x}/{y}.png||© me|";
    bool acted = false;
    test::act_on_next_modal([&](QDialog& d) {
        acted = true;
        auto* unit = d.findChild<QComboBox*>("pref_unit");
        auto* gpsd = d.findChild<QLineEdit*>("pref_gpsd");
        auto* sources = d.findChild<QListWidget*>("pref_sources");
        auto* add = d.findChild<QPushButton*>("pref_source_add");
        auto* problem = d.findChild<QLabel*>("pref_problem");
        auto* buttons = d.findChild<QDialogButtonBox*>();
        ASSERT_TRUE(unit && gpsd && sources && add && problem && buttons);
        QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
        EXPECT_EQ(unit->currentData().toString(), "NMEA");
        unit->setCurrentIndex(unit->findData("gpsd"));
        gpsd->setText("127.0.0.1:1");
        QTest::mouseClick(add, Qt::LeftButton);
        ASSERT_EQ(sources->count(), 1);
        sources->item(0)->setText("Home|map|ftp://x/{z}/{x}/{y}.png||© me|");
        EXPECT_FALSE(ok->isEnabled());
        EXPECT_TRUE(problem->text().contains("Source line 1")) << problem->text().toStdString();
        sources->item(0)->setText(QString::fromStdString(home));
        gpsd->setText("127.0.0.1");  // no port: refused too
        EXPECT_FALSE(ok->isEnabled());
        EXPECT_TRUE(problem->text().startsWith("gpsd:")) << problem->text().toStdString();
        gpsd->setText("127.0.0.1:1");
        EXPECT_TRUE(ok->isEnabled()) << problem->text().toStdString();
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    action(Command::Preferences)->trigger();
    EXPECT_TRUE(acted);
    const std::string ini = test::read_file(dir / "vor_ini.txt");
    EXPECT_NE(ini.find("\r\ngpsd=127.0.0.1:1\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("\r\nmy own line = keep me\r\n"), std::string::npos) << ini;
    EXPECT_NE(test::read_file(dir / "vor_set.txt").find("\r\nunit=gpsd\r\n"), std::string::npos);
    EXPECT_EQ(test::read_file(dir / "vor_src.txt"), home + "\r\n");
    EXPECT_TRUE(action(Command::Gpsd)->isChecked());
    const CatalogueEntry* added = app->catalogue().find("Home", false);
    ASSERT_NE(added, nullptr);
    ASSERT_NE(action(added->menu_id), nullptr);
    EXPECT_EQ(action(added->menu_id)->text(), "Home");
}

// Preferences → Maps: a cache size limit and Clean up now. The clean-up runs while the dialog stays
// usable, removes the old tile that puts the cache over the limit (not the view's fresh ones), shows
// what it did, and OK writes the limit.
TEST_F(ShellTest, PreferencesCleansTheCacheDownToItsLimitWhileTheDialogStays) {
    start();
    const std::filesystem::path old_tile = dir / "Maps/OS/z3/1/vor_z3_1_1.png";
    std::filesystem::create_directories(old_tile.parent_path());
    test::write_file(old_tile, std::string(2 * 1024 * 1024, 'x'));
    const auto two_days_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
    std::filesystem::last_write_time(old_tile, two_days_ago);
    QString result;
    test::act_on_next_modal([&](QDialog& d) {
        auto* limit = d.findChild<QLineEdit*>("pref_cachemb");
        auto* clean = d.findChild<QPushButton*>("pref_clean_cache");
        auto* shown = d.findChild<QLabel*>("pref_cache_result");
        auto* buttons = d.findChild<QDialogButtonBox*>();
        ASSERT_TRUE(limit && clean && shown && buttons);
        EXPECT_EQ(limit->text(), "0");
        limit->setText("1");
        QTest::mouseClick(clean, Qt::LeftButton);
        EXPECT_TRUE(wait_until([&] { return shown->text().startsWith("Removed"); }))
            << shown->text().toStdString();
        result = shown->text();
        EXPECT_TRUE(clean->isEnabled());
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    action(Command::Preferences)->trigger();
    EXPECT_EQ(result, "Removed 1 tile, 2 MB");
    EXPECT_FALSE(std::filesystem::exists(old_tile));
    for (const std::string& slot : app->tile_paths().slots) {
        if (!slot.empty()) {
            EXPECT_TRUE(std::filesystem::exists(slot)) << slot;
        }
    }
    EXPECT_NE(test::read_file(dir / "vor_ini.txt").find("\r\ncachemb=1\r\n"), std::string::npos);
}

// Night styles the whole program: a dialog opened at night has a dark window colour, and day gives
// the desktop's colours back.
TEST_F(ShellTest, NightDarkensTheDialogsOpenedLater) {
    start();
    const QColor day = QApplication::palette().color(QPalette::Window);
    action(Command::Night)->trigger();
    QColor seen;
    test::act_on_next_modal([&](QDialog& d) {
        seen = d.palette().color(QPalette::Window);
        d.reject();
    });
    action(Command::Preferences)->trigger();
    EXPECT_LT(seen.lightness(), 64) << seen.name().toStdString();
    action(Command::Night)->trigger();
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), day);
}

TEST_F(ShellTest, WheelZoomsAroundThePointerAndDragPansWhileAClickStillZooms) {
    start();
    const ViewState& v = app->view();
    ASSERT_EQ(v.level, 2);
    auto wheel = [&](QPoint at, int delta) {
        QWheelEvent event(at, view()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view(), &event);
    };
    auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, view()->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(view(), &event);
    };
    // Half a notch does nothing yet; the second half completes one step in.
    const int x0 = v.centre_x, y0 = v.centre_y;
    wheel(QPoint(257, 49 + 192), 60);
    EXPECT_EQ(v.level, 2);
    wheel(QPoint(257, 49 + 192), 60);
    EXPECT_EQ(web_zoom(v.level), 11);
    // Zoomed around the pointer, which was at the centre: the same place, one web zoom finer.
    EXPECT_EQ(v.centre_x, x0 * 2);
    EXPECT_EQ(v.centre_y, y0 * 2);
    wheel(QPoint(257, 49 + 192), -120);
    EXPECT_EQ(v.level, 2);
    EXPECT_EQ(v.centre_x, x0);

    // A drag of 300 pixels right and 5 down shows what lies west and north by exactly that.
    mouse(QEvent::MouseButtonPress, QPoint(100, 200), Qt::LeftButton);
    mouse(QEvent::MouseMove, QPoint(250, 200), Qt::LeftButton);
    EXPECT_EQ(view()->drag_offset(), QPoint(150, 0));
    mouse(QEvent::MouseMove, QPoint(400, 205), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, QPoint(400, 205), Qt::NoButton);
    EXPECT_EQ(v.level, 2);
    EXPECT_EQ(v.centre_x, x0 - 300);
    EXPECT_EQ(v.centre_y, y0 - 5);
    EXPECT_EQ(view()->drag_offset(), QPoint());
    EXPECT_FALSE(action(Command::AutoPan)->isChecked());
    // A press and release without movement is still a click: zoom in.
    mouse(QEvent::MouseButtonPress, QPoint(257, 241), Qt::LeftButton);
    EXPECT_EQ(v.level, 2);  // nothing before the release
    mouse(QEvent::MouseButtonRelease, QPoint(258, 241), Qt::NoButton);
    EXPECT_EQ(v.level, 3);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("; ").toStdString();
}

TEST_F(ShellTest, StandardShortcutsCopyReloadZoomAndQuit) {
    start();
    const ViewState& v = app->view();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(window->windowHandle(), Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(wait_until([] { return !QGuiApplication::clipboard()->image().isNull(); }));
    QTest::keyClick(window->windowHandle(), Qt::Key_Plus);
    EXPECT_EQ(web_zoom(v.level), 11);
    QTest::keyClick(window->windowHandle(), Qt::Key_Minus);
    EXPECT_EQ(v.level, 2);
    const std::size_t before = server->requests().size();
    QTest::keyClick(window->windowHandle(), Qt::Key_F5);
    ASSERT_TRUE(wait_until([&] { return server->requests().size() >= before + 4; }));
    QTest::keyClick(window->windowHandle(), Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(wait_until([&] { return !window->isVisible(); }));
}

// A view centred on its own pixel (not a tile corner) fills windows of any size: the map reaches
// every corner of the map area, framed as before.
// A view centred on its own pixel (not a tile corner) fills windows of any size: every cell the map
// area shows holds its own tile (the checks the recording window passes too), the map reaches every
// corner of the map area, framed as before.
TEST_F(ShellTest, ResizedWindowFillsTheMapAreaWithTheViewsCells) {
    start("small", "", "N 60 10 30\r\nE 24 55 00\r\n");
    QSize size;
    auto resize = [&](int w, int h) {
        size = QSize(w, h);
        // Away from the classic sizes the status bar is shown below the map area.
        window->resize(w, h + window->menuBar()->height() + window->status_panel()->sizeHint().height());
    };
    auto settle = [&] {
        return wait_until([&] {
            return view()->size() == size && app->view().map_width == size.width() - 2 &&
                   app->view().map_height == size.height() - 51;
        });
    };
    for (const QSize wanted : {QSize(900, 700), QSize(1600, 1200)}) {
        test::expect_resize_fills(*app, wanted.width(), wanted.height(), resize, settle);
        const int w = wanted.width() - 2, h = wanted.height() - 51;
        // Every cell holds the same tile: map pixel (x, y) is the tile's pixel at the bitmap's.
        const PaintFrame f = app->paint();
        auto expected = [&](int x, int y) { return tile.pixel((f.visible_first_column + x) % 256, (f.visible_first_row + y) % 256); };
        // The window's paints compose the view's cells, a few each.
        ASSERT_TRUE(wait_until([&] {
            return app->layer().cells_to_compose() == 0 && shot().pixel(1 + w - 1, 49 + h - 1) == expected(w - 1, h - 1);
        })) << w;
        const QImage image = shot();
        for (const QPoint at : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w / 2, h / 2)})
            EXPECT_EQ(image.pixel(1 + at.x(), 49 + at.y()), expected(at.x(), at.y())) << w << ": " << at.x() << "," << at.y();
        EXPECT_EQ(image.pixel(w + 1, 300), kWhite);
        EXPECT_EQ(image.pixel(0, 48), kBlack);
    }
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("; ").toStdString();
}

#ifndef VG_NO_CURL
// The built-in https OpenStreetMap with no plain-http hosts given, re-defined at a loopback TLS
// server: the checks the recording window passes, through the Qt window's own paints, keys and menu.
TEST_F(ShellTest, BuiltInHttpsSourceGoesThroughTheWindowsOwnEngine) {
    test::HttpsTilePeer peer;
    test::write_file(dir / "vor_src.txt", peer.sources_line());
    extra_ini = peer.ini_lines();
    start("small", "", "", [](AppOptions& o) {
        o.tile_hosts.reset();
        o.background_tiles = true;
    });
    test::expect_https_source_contract(
        *app, peer,
        {[&] { return wait_until([&] { return app->tiles_left() == 0; }); },
         [&] { QTest::keyClick(window->windowHandle(), Qt::Key_Right); }, [&](Command id) { action(id)->trigger(); }});
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("; ").toStdString();
}
#endif

TEST_F(ShellTest, ExitClosesTheWindow) {
    start();
    action(Command::Exit)->trigger();
    ASSERT_TRUE(wait_until([&] { return !window->isVisible(); }));
}

TEST_F(ShellTest, ClosingTheWindowClosesTheReceiverLink) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);  // the program opens its own end
    start("small", name);
    ASSERT_NE(app->receiver(), nullptr);
    ASSERT_TRUE(app->receiver()->active());
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("; ").toStdString();
    window->close();
    EXPECT_FALSE(app->receiver()->active());
    EXPECT_FALSE(app->window_state()->link_active.load());
    close(master);
}

TEST(RunOptionsTest, OptionsAndScriptsAreReadOrRefusedClearly) {
    QString error;
    auto options = parse_run_options({"--screenshot", "a.png", "--exit-after", "2500", "--print-titles",
                                      "--script", "s.txt"},
                                     &error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->screenshot, "a.png");
    EXPECT_EQ(options->exit_after_ms, 2500);
    EXPECT_EQ(options->script, "s.txt");
    EXPECT_TRUE(options->print_titles);
    EXPECT_EQ(parse_run_options({}, &error)->exit_after_ms, -1);
    EXPECT_FALSE(options->user_folder);
    EXPECT_TRUE(parse_run_options({"--home"}, &error)->user_folder);
    for (const QStringList& bad : {QStringList{"--exit-after"}, QStringList{"--exit-after", "-5"},
                                   QStringList{"--exit-after", "soon"}, QStringList{"--screenshot", ""},
                                   QStringList{"--bogus"}, QStringList{"file.txt"}}) {
        error.clear();
        EXPECT_FALSE(parse_run_options(bad, &error)) << bad.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }

    std::string why;
    auto steps = parse_script("# comment\r\n\n100 command 1005\n250 click 70 20\n300 right 5 60\n400 key left\n500 screenshot a.png\n", &why);
    ASSERT_TRUE(steps) << why;
    ASSERT_EQ(steps->size(), 5u);
    EXPECT_EQ((*steps)[4].kind, ScriptStep::Kind::Screenshot);
    EXPECT_EQ((*steps)[4].path, "a.png");
    EXPECT_EQ((*steps)[0].kind, ScriptStep::Kind::Command);
    EXPECT_EQ((*steps)[0].a, 1005);
    EXPECT_EQ((*steps)[0].text, "100 command 1005");
    EXPECT_EQ((*steps)[1].kind, ScriptStep::Kind::Left);
    EXPECT_EQ((*steps)[1].at_ms, 250);
    EXPECT_EQ((*steps)[2].kind, ScriptStep::Kind::Right);
    EXPECT_EQ((*steps)[2].b, 60);
    EXPECT_EQ((*steps)[3].a, Qt::Key_Left);
    for (const char* bad : {"command 1005", "-1 command 5", "10 command", "10 click 5", "10 key home",
                            "10 jump 1 2", "10 command 1005 extra", "10 screenshot"}) {
        why.clear();
        EXPECT_FALSE(parse_script(bad, &why)) << bad;
        EXPECT_EQ(why.rfind("line 1: ", 0), 0u) << why;
    }
    EXPECT_EQ(key_for(Qt::Key_Down), Key::Down);
    EXPECT_EQ(key_for(Qt::Key_Space), Key::Other);
}

}  // namespace
}  // namespace vg
