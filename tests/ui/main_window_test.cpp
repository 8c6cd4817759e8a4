// The Qt main window and its window services, run on the offscreen platform.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QPushButton>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/paint_frame.h"
#include "app/toolbar_layout.h"
#include "platform/fix_notice.h"
#include "resources/menu_resource.h"
#include "resources/strings.h"
#include "support/test_paths.h"
#include "ui/main_window.h"
#include "ui/map_view.h"
#include "ui/qt_window.h"
#include "ui/qt_test_util.h"

namespace vg {
namespace {

using test::wait_until;

using namespace std::chrono_literals;

// A top-down 24-bit bitmap, bytes blue, green, red, rows padded to a multiple of 4 bytes.
struct Bitmap {
    Bitmap(int w, int h) : width(w), height(h), stride((w * 3 + 3) & ~3), bytes(std::size_t(stride) * h, 0) {}
    void set(int x, int y, QRgb rgb) {
        std::uint8_t* p = &bytes[std::size_t(y) * stride + std::size_t(x) * 3];
        p[0] = std::uint8_t(qBlue(rgb));
        p[1] = std::uint8_t(qGreen(rgb));
        p[2] = std::uint8_t(qRed(rgb));
    }
    int width, height, stride;
    std::vector<std::uint8_t> bytes;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>();
        services = std::make_unique<QtWindow>(*window);
        QObject::connect(window.get(), &MainWindow::command_chosen, [this](Command id) { commands.push_back(id); });
        services->set_warning_function([this](QWidget*, const QString& caption, const QString& text) {
            boxes.push_back(caption + ": " + text);
            return int(QMessageBox::Ok);
        });
    }
    void TearDown() override {
        services.reset();
        window.reset();
        while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
    }
    void show() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    MapView* view() const { return window->map_view(); }

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QtWindow> services;
    std::vector<Command> commands;
    QStringList boxes;
};

// The menu bar as text: one line per popup, items separated by " | ", "-" for a separator, an id after
// each text and "*" for a check mark.
std::string describe_menu(QMenuBar* bar) {
    std::string out;
    for (QAction* popup : bar->actions()) {
        out += popup->text().toStdString() + ":";
        for (QAction* item : popup->menu()->actions()) {
            if (item->isSeparator()) {
                out += " -";
                continue;
            }
            out += " " + item->text().toStdString() + " " + std::to_string(item->data().toInt());
            if (item->isChecked()) out += "*";
        }
        out += "\n";
    }
    return out;
}

TEST_F(MainWindowTest, MenuHasEveryPopupItemAndIdInOrder) {
    EXPECT_EQ(describe_menu(window->menuBar()),
              "&Gps: &Reload Map 1001 &Find... 1017 - On&line 1002 O&ffline 1003 - &Connect 1004 &Disconnect 1005 - Open Map &Pack... 1007 "
              "Open &GPX... 1008 &Export Track... 1009 Pro&file... 1014 Download &Region... 1012 Tr&ip... 1013 &NTRIP Casters... 1015 &AIS Targets... 1016 Flee&t... 1018 Routi&ng Data... 1019 R&oute... 1020 - De&tect Receiver... 1010 - E&xit 1006\n"
              "&Edit: &Copy 1011\n"
              "Maps: Etopo2 1021 &OpenStreetMap 1022 &GoogleMaps 1023 &VirtualEarth 1024 &MapQuest 1025\n"
              "&Device: &NMEA 1031 EarthMate &USB 1032 &EarthMate 1033 &TripMate 1034 &Garmin 1035 &Remote 1036 gps&d 1038 NMEA ne&twork 1039"
              " - Settings &COM 1048 GPS &Monitor 1037\n"
              "&Options: &Auto Pan 1041* Auto &Zoom 1042 &Track 1043 &Big Maps 1044 &Map Coordinates 1045"
              " &Night 1046 &Hillshade 1050 - Aerial &Photo 1047 - &Preferences... 1049\n"
              "&View: &Status Bar 1061\n"
              "&Help: &Keys 1051 &About 1053\n");
    // Every item starts enabled and is found by its id; separators and gaps in the ids are not items.
    // The sources, receivers and options show their check box from the start, the others none.
    for (QAction* popup : window->menuBar()->actions())
        for (QAction* item : popup->menu()->actions())
            if (!item->isSeparator()) {
                EXPECT_TRUE(item->isEnabled()) << item->data().toInt();
                const QString menu = popup->text();
                const bool markable = menu == "Maps" || menu == "&View" ||
                                      (menu == "&Options" && item->data().toInt() != command_id(Command::Preferences)) ||
                                      (menu == "&Device" && item->data().toInt() != command_id(Command::SettingsCom) &&
                                       item->data().toInt() != command_id(Command::GpsMonitor));
                EXPECT_EQ(item->isCheckable(), markable) << item->data().toInt();
                EXPECT_EQ(window->menu_action(static_cast<Command>(item->data().toInt())), item);
            }
    EXPECT_EQ(window->menu_action(Command::CatalogueLast), nullptr);
}

TEST_F(MainWindowTest, ItemsRouteTheirIdsAndOnlyCommandsChangeMarksAndGreying) {
    std::vector<Command> expected;
    for (const res::MenuPopup& popup : res::kMainMenu)
        for (const res::MenuItem& item : popup.items)
            if (item.id) {
                window->menu_action(*item.id)->trigger();
                expected.push_back(*item.id);
            }
    EXPECT_EQ(commands, expected);
    // Choosing a marked or unmarked item leaves its mark alone.
    EXPECT_TRUE(window->menu_action(Command::AutoPan)->isChecked());
    EXPECT_FALSE(window->menu_action(Command::Track)->isChecked());

    services->check_menu_item(Command::AutoPan, false);
    services->check_menu_item(Command::VirtualEarth, true);
    services->check_menu_item(Command::Track, true);
    EXPECT_FALSE(window->menu_action(Command::AutoPan)->isChecked());
    EXPECT_TRUE(window->menu_action(Command::VirtualEarth)->isChecked());
    commands.clear();
    window->menu_action(Command::Track)->trigger();
    EXPECT_TRUE(window->menu_action(Command::Track)->isChecked());
    EXPECT_EQ(commands, std::vector<Command>{Command::Track});

    // A greyed item delivers nothing until it is enabled again.
    services->enable_menu_item(Command::Nmea, false);
    EXPECT_FALSE(window->menu_action(Command::Nmea)->isEnabled());
    EXPECT_TRUE(window->menu_action(Command::EarthMate)->isEnabled());
    commands.clear();
    window->menu_action(Command::Nmea)->trigger();
    EXPECT_TRUE(commands.empty());
    services->enable_menu_item(Command::Nmea, true);
    window->menu_action(Command::Nmea)->trigger();
    EXPECT_EQ(commands, std::vector<Command>{Command::Nmea});

    // Commands the menu does not have are ignored, as are script ids that name no command.
    const std::string menu_before = describe_menu(window->menuBar());
    services->enable_menu_item(Command::CatalogueLast, false);
    services->check_menu_item(Command::CatalogueLast, true);
    EXPECT_EQ(describe_menu(window->menuBar()), menu_before);
    commands.clear();
    window->on_command_id(1029);
    window->on_command_id(1041);
    EXPECT_EQ(commands, std::vector<Command>{Command::AutoPan});
}

TEST_F(MainWindowTest, MapsAndDeviceItemsAreExclusiveGroupsWhoseMarksOnlyCommandsChange) {
    auto commands_of = [](const QActionGroup* group) {
        std::vector<int> ids;
        for (const QAction* action : group->actions()) ids.push_back(action->data().toInt());
        return ids;
    };
    window->add_source_item("OpenTopoMap", Command::OpenTopoMap);
    EXPECT_EQ(commands_of(window->maps_group()), (std::vector<int>{1021, 1022, 1023, 1024, 1025, 1026}));
    EXPECT_EQ(commands_of(window->device_group()), (std::vector<int>{1031, 1032, 1033, 1034, 1035, 1036, 1038, 1039}));

    // One source carries the mark: checking another clears the first.
    services->check_menu_item(Command::VirtualEarth, true);
    services->check_menu_item(Command::OpenTopoMap, true);
    EXPECT_EQ(window->maps_group()->checkedAction(), window->menu_action(Command::OpenTopoMap));
    EXPECT_FALSE(window->menu_action(Command::VirtualEarth)->isChecked());
    // Choosing another source or the marked one leaves the marks as the program set them.
    for (Command chosen : {Command::GoogleMaps, Command::VirtualEarth, Command::OpenTopoMap}) {
        window->menu_action(chosen)->trigger();
        EXPECT_EQ(window->maps_group()->checkedAction(), window->menu_action(Command::OpenTopoMap));
        EXPECT_EQ(commands.back(), chosen);
    }
    // The program may also clear every mark.
    services->check_menu_item(Command::OpenTopoMap, false);
    EXPECT_EQ(window->maps_group()->checkedAction(), nullptr);
    window->menu_action(Command::Etopo2)->trigger();
    EXPECT_EQ(window->maps_group()->checkedAction(), nullptr);

    // The current receiver is the greyed one; the others stay enabled and deliver their commands.
    services->enable_menu_item(Command::Garmin, false);
    commands.clear();
    for (QAction* action : window->device_group()->actions()) action->trigger();
    EXPECT_EQ(commands.size(), 7u);
    EXPECT_EQ(window->device_group()->checkedAction(), nullptr);
}

TEST_F(MainWindowTest, ToolbarButtonsHaveTooltipsStatusTipsAndAccessibleNames) {
    show();
    // Status tips travel up to the main window (which has no status bar to show them in).
    struct TipRecorder : QObject {
        QStringList tips;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::StatusTip) tips << static_cast<QStatusTipEvent*>(event)->tip();
            return false;
        }
    } recorder;
    window->installEventFilter(&recorder);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(view());
    ASSERT_NE(accessible, nullptr);
    ASSERT_EQ(accessible->childCount(), toolbar::kButtonCount);
    std::vector<QPoint> pressed;
    QObject::connect(view(), &MapView::mouse_pressed,
                     [&](MapView::MouseButton, int x, int y) { pressed.emplace_back(x, y); });
    QStringList names;
    for (int b = 0; b < toolbar::kButtonCount; ++b) {
        const auto i = static_cast<std::size_t>(b);
        const QPoint middle((toolbar::kHitLeft[i] + toolbar::kHitRight[i]) / 2, (toolbar::kHitTop + toolbar::kHitBottom) / 2);
        // The tooltip names the button under the pointer.
        QHelpEvent help(QEvent::ToolTip, middle, view()->mapToGlobal(middle));
        QApplication::sendEvent(view(), &help);
        EXPECT_TRUE(QToolTip::isVisible()) << b;
        EXPECT_EQ(QToolTip::text(), MapView::button_name(b));
        names << QToolTip::text();
        QTest::mouseMove(view(), middle);
        ASSERT_TRUE(wait_until([&] { return !recorder.tips.isEmpty(); })) << b;
        EXPECT_EQ(recorder.tips.takeLast(), MapView::button_status_tip(b));
        recorder.tips.clear();

        QAccessibleInterface* button = accessible->child(b);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->role(), QAccessible::Button);
        EXPECT_EQ(button->text(QAccessible::Name), MapView::button_name(b));
        EXPECT_EQ(button->text(QAccessible::Description), MapView::button_status_tip(b));
        EXPECT_EQ(accessible->indexOfChild(button), b);
        EXPECT_EQ(accessible->childAt(view()->mapToGlobal(middle).x(), view()->mapToGlobal(middle).y()), button);
        EXPECT_EQ(button->rect().center(), view()->mapToGlobal(QRect(QPoint(toolbar::kHitLeft[i], toolbar::kHitTop),
                                                                     QPoint(toolbar::kHitRight[i], toolbar::kHitBottom)).center()));
        // Its press action clicks the button.
        button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        ASSERT_FALSE(pressed.empty());
        EXPECT_EQ(toolbar::hit_button(pressed.back().x(), pressed.back().y()), b);
    }
    // Eleven different names, none empty.
    names.removeDuplicates();
    EXPECT_EQ(names.size(), toolbar::kButtonCount);
    EXPECT_FALSE(names.contains(QString()));
    // Between the buttons and over the map: no tooltip, and the status tip is cleared.
    for (QPoint nowhere : {QPoint(50, 20), QPoint(200, 200)}) {
        QHelpEvent help(QEvent::ToolTip, nowhere, view()->mapToGlobal(nowhere));
        QApplication::sendEvent(view(), &help);
        EXPECT_TRUE(wait_until([] { return !QToolTip::isVisible(); }));
        EXPECT_EQ(accessible->childAt(view()->mapToGlobal(nowhere).x(), view()->mapToGlobal(nowhere).y()), nullptr);
    }
    QTest::mouseMove(view(), QPoint(200, 200));
    ASSERT_TRUE(wait_until([&] { return !recorder.tips.isEmpty(); }));
    EXPECT_EQ(recorder.tips.last(), QString());
}

TEST_F(MainWindowTest, MenuWorksWithTheMouse) {
    show();
    QMenuBar* bar = window->menuBar();
    QAction* gps = bar->actions().at(0);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(gps).center());
    ASSERT_TRUE(wait_until([&] { return gps->menu()->isVisible(); }));
    QAction* connect = window->menu_action(Command::Connect);
    QTest::mouseClick(gps->menu(), Qt::LeftButton, {}, gps->menu()->actionGeometry(connect).center());
    ASSERT_TRUE(wait_until([&] { return !commands.empty(); }));
    EXPECT_EQ(commands, std::vector<Command>{Command::Connect});
}

TEST_F(MainWindowTest, ShiftPageUpConnectsShiftPageDownDisconnects) {
    show();
    QTest::keyClick(window.get(), Qt::Key_PageUp, Qt::ShiftModifier);
    QTest::keyClick(window.get(), Qt::Key_PageDown, Qt::ShiftModifier);
    // Without Shift, or with Control, the keys are no accelerators.
    QTest::keyClick(window.get(), Qt::Key_PageUp);
    QTest::keyClick(window.get(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(commands, (std::vector<Command>{Command::Connect, Command::Disconnect}));
    // A greyed item's accelerator does nothing, as the item itself.
    commands.clear();
    services->enable_menu_item(Command::Disconnect, false);
    QTest::keyClick(window.get(), Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_TRUE(commands.empty());
    services->enable_menu_item(Command::Disconnect, true);
    QTest::keyClick(view(), Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(commands, std::vector<Command>{Command::Disconnect});
    // The menu texts carry no key names.
    EXPECT_EQ(window->menu_action(Command::Connect)->text(), "&Connect");
    EXPECT_TRUE(window->menu_action(Command::Connect)->shortcut().isEmpty());
}

TEST_F(MainWindowTest, ClientAreaIsTheMapViewAtItsExactSize) {
    show();
    const int menu_height = window->menuBar()->height();
    EXPECT_GT(menu_height, 0);
    EXPECT_EQ(window->centralWidget(), view());
    EXPECT_EQ(view()->size(), QSize(514, 435));
    EXPECT_EQ(view()->mapTo(window.get(), QPoint(0, 0)), QPoint(0, menu_height));
    EXPECT_EQ(window->size(), QSize(514, 435 + menu_height));

    services->set_client_size(1026, 819);
    EXPECT_EQ(view()->size(), QSize(1026, 819));
    EXPECT_EQ(window->size(), QSize(1026, 819 + menu_height));
    services->set_client_size(0, 819);
    services->set_client_size(1026, -1);
    EXPECT_EQ(view()->size(), QSize(1026, 819));
    services->set_client_size(514, 435);
    EXPECT_EQ(window->size(), QSize(514, 435 + menu_height));

    MainWindow big(true);
    big.show();
    EXPECT_EQ(big.map_view()->size(), QSize(1026, 819));
    EXPECT_EQ(big.size(), QSize(1026, 819 + big.menuBar()->height()));
}

TEST_F(MainWindowTest, TitleClassAndIcon) {
    EXPECT_EQ(window->windowTitle(), "Vor Global");
    EXPECT_EQ(window->objectName(), "VORGLOBAL");
    const QImage icon = window->windowIcon().pixmap(32, 32).toImage();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixelColor(15, 13), QColor(0xFF, 0xE0, 0x00));  // the marker disc

    // The title is UTF-8; a lone byte 176 (Latin-1) is a degree sign as well.
    services->set_title("Vor VirtualEarth - N 60\xC2\xB0" "10'30\"");
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Vor VirtualEarth - N 60\u00B010'30\""));
    services->set_title("Vor VirtualEarth - N 60\xB0" "10'30\"");
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Vor VirtualEarth - N 60\u00B010'30\""));
}

TEST_F(MainWindowTest, WarningBoxesGoThroughTheInjectedFunction) {
    services->warning_box("No GPS connected");
    services->warning_box("Port closed", "Vor Error!");
    EXPECT_EQ(boxes, QStringList({"VorGlobal: No GPS connected", "Vor Error!: Port closed"}));

    // From another thread the box is posted to the window thread; the caller does not wait for it.
    std::thread worker([this] { services->warning_box("No Internet connection"); });
    worker.join();
    EXPECT_EQ(boxes.size(), 2);
    ASSERT_TRUE(wait_until([&] { return boxes.size() == 3; }));
    EXPECT_EQ(boxes.back(), "VorGlobal: No Internet connection");
}

TEST_F(MainWindowTest, DefaultWarningBoxIsAWarningWithTheCaption) {
    services->set_warning_function(nullptr);
    show();
    QString seen_title, seen_text;
    QMessageBox::Icon seen_icon = QMessageBox::NoIcon;
    // Closes the modal box as soon as it shows, so the call cannot block the test.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen_title = box->windowTitle();
            seen_text = box->text();
            seen_icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start(10);
    services->warning_box("Settings failed");
    EXPECT_EQ(seen_title, "VorGlobal");
    EXPECT_EQ(seen_text, "Settings failed");
    EXPECT_EQ(seen_icon, QMessageBox::Warning);
}

TEST_F(MainWindowTest, WaitCursorNestsAndUnmatchedRestoreIsHarmless) {
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    services->set_wait_cursor(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    services->set_wait_cursor(true);
    services->set_wait_cursor(false);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    services->set_wait_cursor(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // An extra "off" does not take away a cursor someone else set.
    QApplication::setOverrideCursor(QCursor(Qt::CrossCursor));
    services->set_wait_cursor(false);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
    QApplication::restoreOverrideCursor();
}

TEST_F(MainWindowTest, AFixNoticeFromAThreadPaintsOnceLaterWithoutWaiting) {
    show();
    // The window thread waits for the worker without running its loop (as while closing the link):
    // the worker's notices return at once, coalesced into one queued paint that follows later.
    FixNotice notice(services.get());
    const int before = view()->paint_count();
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) notice.post();
    });
    worker.join();
    EXPECT_EQ(notice.posts(), 1);
    EXPECT_EQ(view()->paint_count(), before);
    EXPECT_TRUE(wait_until([&] { return view()->paint_count() > before; }));

    // A wake-up asked for later paints once, when it is due; asking again replaces the waiting one.
    services->repaint_after(5000);
    services->repaint_after(30);
    const int woken = view()->paint_count();
    EXPECT_TRUE(wait_until([&] { return view()->paint_count() > woken; }));
    QTest::qWait(100);
    EXPECT_EQ(view()->paint_count(), woken + 1);
}

TEST_F(MainWindowTest, ClipboardGetsACopyOfTheImageInTrueColours) {
    Bitmap bitmap(3, 2);  // stride 12: each row padded by 3 bytes
    bitmap.set(0, 0, qRgb(255, 0, 0));
    bitmap.set(1, 0, qRgb(0, 255, 0));
    bitmap.set(2, 0, qRgb(0, 0, 255));
    bitmap.set(2, 1, qRgb(250, 128, 7));
    services->copy_image_to_clipboard(bitmap.bytes.data(), bitmap.width, bitmap.height, bitmap.stride);
    std::fill(bitmap.bytes.begin(), bitmap.bytes.end(), 0x55);  // the clipboard keeps its own copy

    QImage image = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(2, 0), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(2, 1), qRgb(250, 128, 7));

    // Inconsistent descriptions put nothing on the clipboard.
    services->copy_image_to_clipboard(nullptr, 3, 2, 12);
    services->copy_image_to_clipboard(bitmap.bytes.data(), 3, 2, 8);
    services->copy_image_to_clipboard(bitmap.bytes.data(), 0, 2, 12);
    services->copy_image_to_clipboard(bitmap.bytes.data(), 0x7fffffff, 1, 12);
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), image);

    // From another thread the pixels are taken before the call returns.
    std::thread worker([&] {
        Bitmap small(1, 1);
        small.set(0, 0, qRgb(9, 8, 7));
        services->copy_image_to_clipboard(small.bytes.data(), 1, 1, small.stride);
    });
    worker.join();
    ASSERT_TRUE(wait_until([] { return QGuiApplication::clipboard()->image().size() == QSize(1, 1); }));
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32).pixel(0, 0),
              qRgb(9, 8, 7));
}

// A 512 x 512 mosaic (red, green, blue bytes) of a real map tile repeated 2 x 2, as the small view's.
Mosaic tile_mosaic(QImage& mosaic) {
    const QImage tile((test::shared_testdata() / "images/bench/map256-rgb.png").c_str());
    EXPECT_EQ(tile.size(), QSize(256, 256));
    mosaic = QImage(512, 512, QImage::Format_RGB32);
    QPainter painter(&mosaic);
    for (int i = 0; i < 4; ++i) painter.drawImage(256 * (i % 2), 256 * (i / 2), tile);
    painter.end();
    Mosaic out;
    out.width = out.height = 512;
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x) {
            const QRgb p = mosaic.pixel(x, y);
            out.pixels.insert(out.pixels.end(), {std::uint8_t(qRed(p)), std::uint8_t(qGreen(p)), std::uint8_t(qBlue(p))});
        }
    return out;
}

// The view draws what its frame source answers, as the window does: the visible rows of the display
// bitmap at (1, 49), and bytes drawn into the bitmap (overlays) at the next paint.
TEST_F(MainWindowTest, MapViewShowsTheVisibleRowsOfTheBitmapAt1And49) {
    QImage mosaic;
    DisplayBitmap bitmap;
    ASSERT_TRUE(build_display_bitmap(tile_mosaic(mosaic), bitmap));
    PaintFrame frame;
    frame.draw_toolbar = true;
    frame.bitmap = &bitmap;
    frame.map_width = 512;
    frame.map_height = 384;
    frame.visible_first_row = 64;  // the middle three quarters of the rows: 64 to 447
    view()->set_frame_source([&frame] { return frame; });

    const int before = view()->paint_count();
    const QImage shot = view()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(514, 435));
    EXPECT_EQ(view()->paint_count(), before + 1);
    int wrong = 0;
    for (int y = 0; y < 384; ++y)
        for (int x = 0; x < 512; ++x)
            if (shot.pixel(1 + x, 49 + y) != mosaic.pixel(x, 64 + y)) ++wrong;
    EXPECT_EQ(wrong, 0);
    // Below the map: the light-grey background.
    for (QPoint p : {QPoint(0, 434), QPoint(513, 434)})
        EXPECT_EQ(shot.pixel(p), qRgb(192, 192, 192)) << p.x() << "," << p.y();

    // Overlays drawn into the bytes show at the next paint without handing the bitmap over again.
    std::uint8_t* red = bitmap.row(64) + 3 * 10;
    red[0] = 0;
    red[1] = 0;
    red[2] = 255;
    EXPECT_EQ(view()->grab().toImage().pixel(11, 49), qRgb(255, 0, 0));

    // A frame without a bitmap shows the toolbar over the background only.
    frame.bitmap = nullptr;
    EXPECT_EQ(view()->grab().toImage().pixel(11, 49), qRgb(192, 192, 192));
}

TEST_F(MainWindowTest, TimerCallsItsHandlerAndInvalidateRepaints) {
    show();
    int ticks = 0;
    QObject::connect(services->timer(), &QTimer::timeout, view(), [&] { ++ticks; });
    services->start_timer(0);  // runs at the shortest period
    EXPECT_TRUE(wait_until([&] { return ticks >= 3; }));
    services->start_timer(5000);  // restarting replaces the period
    const int after_restart = ticks;
    QTest::qWait(50);
    EXPECT_EQ(ticks, after_restart);

    // Invalidation, also from another thread, leads to a paint.
    QTest::qWait(20);  // paints still due from show()
    const int before = view()->paint_count();
    std::thread worker([&] { services->invalidate(false); });
    worker.join();
    EXPECT_TRUE(wait_until([&] { return view()->paint_count() > before; }));
}

}  // namespace
}  // namespace vg

namespace vg {
namespace {

// Ctrl+F opens the field over the map; typing, the list, Down and Enter, the Route button of a chosen
// place, and Escape reach the hooks, and the keys typed there never pan the map below.
TEST_F(MainWindowTest, TheSearchFieldCallsItsHooksAndKeepsItsKeysFromTheMap) {
    show();
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(commands, std::vector<Command>{Command::Find});
    std::vector<std::string> edited, entered;
    std::vector<std::size_t> chosen;
    int cleared = 0, routed = 0, map_keys = 0;
    QObject::connect(view(), &MapView::key_released, [&](int) { ++map_keys; });
    SearchFieldData data;
    data.edited = [&](const std::string& t) { edited.push_back(t); };
    data.entered = [&](const std::string& t) { entered.push_back(t); };
    data.chosen = [&](std::size_t row) { chosen.push_back(row); };
    data.cleared = [&] { ++cleared; };
    data.route = [&] { ++routed; };
    services->open_search_field(data);
    auto* field = view()->findChild<QWidget*>("search_field");
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isVisible());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(view());
    ASSERT_EQ(accessible->childCount(), toolbar::kButtonCount + 1) << "the field after the buttons";
    EXPECT_EQ(accessible->child(toolbar::kButtonCount)->object(), field);
    EXPECT_EQ(accessible->indexOfChild(accessible->child(toolbar::kButtonCount)), toolbar::kButtonCount);
    auto* text = field->findChild<QLineEdit*>("text");
    ASSERT_TRUE(wait_until([&] { return text->hasFocus(); }));
    QTest::keyClicks(text, "Mi");
    QTest::keyClick(text, Qt::Key_Left);
    EXPECT_EQ(edited, (std::vector<std::string>{"M", "Mi"}));
    EXPECT_EQ(map_keys, 0);
    QTest::keyClick(text, Qt::Key_Return);
    EXPECT_EQ(entered, std::vector<std::string>{"Mi"});
    services->show_search_results({{{"Mill Lane", "street", "1.2 km"}, {"Mirror Lake", "water", "900 m"}}, "Indexing town.mbtiles 40 %", ""});
    auto* list = field->findChild<QTreeWidget*>("results");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(2), "900 m");
    EXPECT_EQ(field->findChild<QLabel*>("status")->text(), "Indexing town.mbtiles 40 %");
    EXPECT_GE(field->geometry().top(), MapView::kMapTop) << "over the map, not the toolbar";
    QTest::keyClick(text, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(chosen, std::vector<std::size_t>{1});
    auto* route = field->findChild<QPushButton*>("route");
    EXPECT_FALSE(route->isVisible());
    services->show_search_results({{{"Mill Lane", "street", "1.2 km"}, {"Mirror Lake", "water", "900 m"}}, "", "Mirror Lake"});
    ASSERT_TRUE(route->isVisible());
    EXPECT_EQ(route->text(), "&Route to Mirror Lake");
    QTest::mouseClick(route, Qt::LeftButton);
    EXPECT_EQ(routed, 1);
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_EQ(cleared, 1);
    EXPECT_FALSE(field->isVisible());
    EXPECT_EQ(map_keys, 0);

    // The chosen place's pin: red, its tip on the place, the name beside its head.
    QImage mosaic;
    DisplayBitmap bitmap;
    ASSERT_TRUE(build_display_bitmap(tile_mosaic(mosaic), bitmap));
    PaintFrame frame;
    frame.draw_toolbar = true;
    frame.bitmap = &bitmap;
    frame.map_width = 512;
    frame.map_height = 384;
    frame.pin = {true, 200, 150, "Улица Мира"};
    view()->set_frame_source([&frame] { return frame; });
    const QImage shot = view()->grab().toImage();
    for (const QPoint p : {QPoint(200, 144), QPoint(200, 130)}) {
        const QColor c = shot.pixelColor(QPoint(MapView::kMapLeft, MapView::kMapTop) + p);
        EXPECT_TRUE(c.red() > 180 && c.green() < 80 && c.blue() < 80) << p.x() << "," << p.y() << " " << c.name().toStdString();
    }
}

}  // namespace
}  // namespace vg
