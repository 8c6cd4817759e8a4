// The COM settings, GPS monitor, Keys and About dialogs on the offscreen platform: their texts, what
// OK and Cancel leave behind, the monitor's refresh timing, and the same dialogs reached through the
// window services. Modal dialogs are closed from a timer so nothing waits for a user.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QComboBox>
#include <QScrollBar>
#include <QShortcut>
#include <QSet>
#include <QTableWidget>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QImage>
#include <QMouseEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/gps_monitor_texts.h"
#include "ui/dialog_profile.h"
#include "ui/dialog_region.h"
#include "ui/dialog_ntrip.h"
#include "ui/dialog_route.h"
#include "ui/dialog_trip.h"
#include "gps/receiver_parser.h"
#include "support/nmea_capture.h"
#include "support/test_paths.h"
#include "ui/dialog_about.h"
#include "ui/dialog_com_settings.h"
#include "ui/dialog_common.h"
#include "ui/dialog_gps_monitor.h"
#include "ui/dialog_keys.h"
#include "ui/main_window.h"
#include "ui/qt_test_util.h"
#include "ui/qt_window.h"

namespace vg {
namespace {

using test::act_on_next_modal;

template <typename T = QWidget>
T* child(const QWidget& parent, const QString& name) {
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name.toStdString();
    return found;
}

void click(const QWidget& dialog, const QString& name) {
    auto* button = child<QAbstractButton>(dialog, name);
    if (button != nullptr) QTest::mouseClick(button, Qt::LeftButton);
}

QStringList texts_of(const QComboBox& combo) {
    QStringList texts;
    for (int i = 0; i < combo.count(); ++i) texts << combo.itemText(i);
    return texts;
}

QString label_text(const QWidget& parent, const QString& name) {
    auto* label = child<QLabel>(parent, name);
    return label == nullptr ? QString() : label->text();
}

TEST(ComSettingsDialog, ControlsTextsAndListsAsTheUserSeesThem) {
    ComSettings current;
    current.line.port_number = 3;
    current.line.baud_rate = 4800;
    current.line.byte_size = 8;
    current.line.parity = 2;
    current.line.flow_control = 1 | 4;
    ComSettingsDialog dialog(current);
    EXPECT_EQ(dialog.windowTitle(), "VOR Settings...");
    ASSERT_NE(dialog.findChild<QGroupBox*>(), nullptr);
    EXPECT_EQ(dialog.findChild<QGroupBox*>()->title(), "&COM Options:");

    struct Expected {
        int id;
        QString label;
        QStringList texts;
        QList<qlonglong> values;
        QString selected;
    };
    const std::vector<Expected> lists = {
        {2040, "&Port:", {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"},
         {1, 2, 3, 4, 5, 6, 7, 8, 9}, "COM3"},
        {2041, "&Baud Rate:", {"1200", "2400", "4800", "9600", "14.4k", "19.2k", "38.4k", "57.6k", "115.2k"},
         {1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200}, "4800"},
        {2042, "&Data Bits:", {"5", "6", "7", "8"}, {5, 6, 7, 8}, "8"},
        {2043, "P&arity:", {"None", "Even", "Odd", "Mark", "Space"}, {0, 2, 1, 3, 4}, "Even"},
        {2044, "&Stop Bits:", {"1"}, {0}, "1"},
    };
    const auto labels = dialog.findChildren<QLabel*>();
    for (const Expected& expected : lists) {
        auto* combo = child<QComboBox>(dialog, control_name(expected.id));
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(texts_of(*combo), expected.texts) << expected.id;
        for (int i = 0; i < combo->count(); ++i) EXPECT_EQ(combo->itemData(i).toLongLong(), expected.values[i]);
        EXPECT_EQ(combo->currentText(), expected.selected);
        EXPECT_TRUE(combo->isEnabled());
        // The label with its mnemonic moves the focus to its list.
        const bool labelled = std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
            return label->text() == expected.label && label->buddy() == combo;
        });
        EXPECT_TRUE(labelled) << expected.label.toStdString();
    }
    const std::vector<std::pair<int, QString>> boxes = {{2045, "DTR/DSR"}, {2046, "RTS/CTS"}, {2047, "XON/XOFF"}};
    for (const auto& [id, text] : boxes) {
        auto* box = child<QCheckBox>(dialog, control_name(id));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), text);
        EXPECT_EQ(box->isChecked(), id != 2046) << id;
    }
    const bool flow_labelled = std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
        return label->text() == "F&low:" && label->buddy() == dialog.findChild<QCheckBox*>("ctl2045");
    });
    EXPECT_TRUE(flow_labelled);
    EXPECT_EQ(child<QPushButton>(dialog, "ctl888")->text(), "Ok");
    EXPECT_EQ(child<QPushButton>(dialog, "ctl999")->text(), "Cancel");
}

// The devices list under the port list: the current one selected, the chosen one returned by OK,
// the first item (none) leaving the port's device as it is; disabled while the link is open.
TEST(ComSettingsDialog, DeviceListOffersTheSerialDevices) {
    ComSettings settings;
    settings.devices = {{"/dev/serial/by-id/usb-u-blox_GNSS-if00", "u-blox GNSS receiver (USB 1546:01a8, cdc_acm)"},
                        {"/dev/ttyUSB0", "usb; no access: join the dialout group"}};
    settings.device = "/dev/ttyUSB0";
    act_on_next_modal([&](QDialog& d) {
        auto* devices = child<QComboBox>(d, "ctl2048");
        EXPECT_EQ(texts_of(*devices), (QStringList{"(as vor_ini.txt names the port)",
                                                   "/dev/serial/by-id/usb-u-blox_GNSS-if00  (u-blox GNSS receiver "
                                                   "(USB 1546:01a8, cdc_acm))",
                                                   "/dev/ttyUSB0  (usb; no access: join the dialout group)"}));
        EXPECT_EQ(devices->currentIndex(), 2);
        EXPECT_TRUE(devices->isEnabled());
        devices->setCurrentIndex(1);
        click(d, "ctl888");
    });
    EXPECT_TRUE(run_com_settings_dialog(nullptr, settings));
    EXPECT_EQ(settings.device, "/dev/serial/by-id/usb-u-blox_GNSS-if00");
    act_on_next_modal([&](QDialog& d) {
        child<QComboBox>(d, "ctl2048")->setCurrentIndex(0);
        click(d, "ctl888");
    });
    EXPECT_TRUE(run_com_settings_dialog(nullptr, settings));
    EXPECT_EQ(settings.device, "");
    settings.port_locked = true;
    ComSettingsDialog locked(settings);
    EXPECT_FALSE(child<QComboBox>(locked, "ctl2048")->isEnabled());
}

TEST(ComSettingsDialog, OkWritesChoicesCancelAndCloseChangeNothing) {
    ComSettings settings;  // COM1 9600 8N1
    const auto choose = [](QDialog& d) {
        child<QComboBox>(d, "ctl2040")->setCurrentIndex(3);  // COM4
        child<QComboBox>(d, "ctl2041")->setCurrentIndex(6);  // 38.4k
        child<QComboBox>(d, "ctl2042")->setCurrentIndex(2);  // 7
        child<QComboBox>(d, "ctl2043")->setCurrentIndex(2);  // Odd
        QTest::mouseClick(child<QCheckBox>(d, "ctl2046"), Qt::LeftButton);
    };

    act_on_next_modal([&](QDialog& d) {
        choose(d);
        click(d, "ctl999");
    });
    EXPECT_FALSE(run_com_settings_dialog(nullptr, settings));
    EXPECT_EQ(settings.line.port_number, 1);
    EXPECT_EQ(settings.line.baud_rate, 9600u);
    EXPECT_EQ(settings.line.flow_control, 0);

    act_on_next_modal([&](QDialog& d) {
        choose(d);
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    EXPECT_FALSE(run_com_settings_dialog(nullptr, settings));
    EXPECT_EQ(settings.line.parity, 0);

    act_on_next_modal([&](QDialog& d) {
        choose(d);
        click(d, "ctl888");
    });
    EXPECT_TRUE(run_com_settings_dialog(nullptr, settings));
    EXPECT_EQ(settings.line.port_number, 4);
    EXPECT_EQ(settings.line.baud_rate, 38400u);
    EXPECT_EQ(settings.line.byte_size, 7);
    EXPECT_EQ(settings.line.parity, 1);
    EXPECT_EQ(settings.line.stop_bits, 0);
    EXPECT_EQ(settings.line.flow_control, 2);

    // A value no item has opens with nothing selected; OK then keeps it.
    settings.line.baud_rate = 7200;
    act_on_next_modal([&](QDialog& d) {
        EXPECT_EQ(child<QComboBox>(d, "ctl2041")->currentIndex(), -1);
        click(d, "ctl888");
    });
    EXPECT_TRUE(run_com_settings_dialog(nullptr, settings));
    EXPECT_EQ(settings.line.baud_rate, 7200u);

    // With the link open the port list is disabled and the port stays; the rest still applies.
    settings.port_locked = true;
    act_on_next_modal([&](QDialog& d) {
        EXPECT_FALSE(child<QComboBox>(d, "ctl2040")->isEnabled());
        EXPECT_EQ(child<QComboBox>(d, "ctl2040")->currentText(), "COM4");
        child<QComboBox>(d, "ctl2041")->setCurrentIndex(8);  // 115.2k
        QTest::mouseClick(child<QCheckBox>(d, "ctl2045"), Qt::LeftButton);
        click(d, "ctl888");
    });
    EXPECT_TRUE(run_com_settings_dialog(nullptr, settings));
    EXPECT_EQ(settings.line.port_number, 4);
    EXPECT_EQ(settings.line.baud_rate, 115200u);
    EXPECT_EQ(settings.line.flow_control, 1 | 2);
}

MonitorTexts texts_with_rows(int count, const std::string& tag) {
    MonitorTexts texts;
    texts.time = tag + " (UTC)";
    texts.position = "No Fix";
    texts.message = " " + tag;
    texts.header = kMonitorHeader;
    for (int i = 0; i < count; ++i) texts.rows[static_cast<std::size_t>(i)] = tag + " row " + std::to_string(i);
    return texts;
}

TEST(GpsMonitorDialog, TextsAndRowsThatKeepTheirOldText) {
    const std::vector<MonitorTexts> script = {texts_with_rows(8, "first"), texts_with_rows(5, "second")};
    GpsMonitorDialog dialog;
    dialog.refresh_timer()->stop();  // refreshed by hand here
    EXPECT_EQ(dialog.windowTitle(), "GPS Monitor");
    std::vector<QString> groups;
    for (auto* group : dialog.findChildren<QGroupBox*>()) groups.push_back(group->title());
    EXPECT_EQ(groups,
              (std::vector<QString>{"Date / Time", "Lat / Long / Alt", "Satellites", "All systems", "Messages"}));
    EXPECT_EQ(child<QPushButton>(dialog, "ctl888")->text(), "OK");
    EXPECT_FALSE(child<QLabel>(dialog, "ctl2020")->pixmap().isNull());

    // Before the first refresh: blanks in the message and the table.
    EXPECT_EQ(label_text(dialog, "ctl2062"), " ");
    for (int id = 2070; id <= 2082; ++id) EXPECT_EQ(label_text(dialog, control_name(id)), " ") << id;

    dialog.show_texts(script[0]);
    EXPECT_EQ(label_text(dialog, "ctl2060"), "first (UTC)");
    EXPECT_EQ(label_text(dialog, "ctl2061"), "No Fix");
    EXPECT_EQ(label_text(dialog, "ctl2062"), " first");
    EXPECT_EQ(label_text(dialog, "ctl2070"), "PRN\t AZM\tELV\t SS\t USE");
    EXPECT_EQ(label_text(dialog, "ctl2078"), "first row 7");
    EXPECT_EQ(label_text(dialog, "ctl2079"), " ");

    dialog.show_texts(script[1]);  // 8 satellites drop to 5
    EXPECT_EQ(label_text(dialog, "ctl2060"), "second (UTC)");
    EXPECT_EQ(label_text(dialog, "ctl2075"), "second row 4");
    for (int i = 5; i < 8; ++i) EXPECT_EQ(label_text(dialog, control_name(2071 + i)), "first row " + QString::number(i));
    EXPECT_EQ(label_text(dialog, "ctl2082"), " ");

    // Tabs are laid out as tab stops, not dropped: a tab makes the text wider than a blank does.
    auto* header = child<QLabel>(dialog, "ctl2070");
    QLabel with_blank;
    with_blank.setText("PRN  AZM ELV  SS  USE");
    EXPECT_GT(header->sizeHint().width(), with_blank.sizeHint().width());
}

// Satellite data from a real receiver capture, read by the NMEA parser into a shared fix record.
void feed_capture(SharedFix& shared, const std::string& name) {
    const std::string bytes = test::nmea_log_bytes(name);
    auto parser = make_receiver_parser(DeviceType::Nmea, ParserContext{});
    shared.update([&](FixRecord& fix) {
        parser->feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), fix);
    });
}

TEST(GpsMonitorDialog, SeveralMonitorsRefreshOnTheirTimersFromTheSharedFix) {
    SharedFix shared;
    MainWindow window;
    QtWindow services(window);
    std::vector<qint64> polled_at_ms;  // of the first monitor
    QElapsedTimer clock;
    clock.start();
    services.open_gps_monitor([&] {
        polled_at_ms.push_back(clock.elapsed());
        return gps_monitor_texts(shared.snapshot());
    });
    services.open_gps_monitor([&] { return gps_monitor_texts(shared.snapshot()); });
    const auto monitors = window.findChildren<GpsMonitorDialog*>();
    ASSERT_EQ(monitors.size(), 2);
    QPointer<GpsMonitorDialog> first = monitors[0];
    QPointer<GpsMonitorDialog> second = monitors[1];
    for (GpsMonitorDialog* monitor : monitors) {
        EXPECT_TRUE(monitor->isVisible());
        EXPECT_FALSE(monitor->isModal());
        EXPECT_TRUE(monitor->testAttribute(Qt::WA_DeleteOnClose));
    }
    EXPECT_TRUE(polled_at_ms.empty());  // nothing before the first tick

    QTRY_VERIFY_WITH_TIMEOUT(polled_at_ms.size() >= 4, 20000);
    // Lower bounds only: timers may run late on a busy machine, never much early.
    EXPECT_GE(polled_at_ms[0], 90);  // 100 ms
    // The timer keeps its 200 ms schedule, so one late tick shortens the next gap: bound the time
    // since the first refresh, not each gap, and allow for coarse timers firing up to 5 % early at
    // each tick (a 100 ms period would still be far below).
    for (std::size_t i = 1; i < polled_at_ms.size(); ++i) {
        EXPECT_GE(polled_at_ms[i] - polled_at_ms[0], static_cast<qint64>(180 * i)) << i;
    }
    QTRY_COMPARE_WITH_TIMEOUT(label_text(*second, "ctl2061"), QString("No Fix"), 20000);
    EXPECT_EQ(label_text(*second, "ctl2060"), " (UTC)");

    feed_capture(shared, "ublox-lea-4h");
    for (GpsMonitorDialog* monitor : monitors) {
        QTRY_COMPARE_WITH_TIMEOUT(label_text(*monitor, "ctl2061"), QString("49.1261 : -122.7102 : 98.50  (3D)"), 20000);
        EXPECT_EQ(label_text(*monitor, "ctl2060"), "2006/08/10 03:15:18 (UTC)");
        EXPECT_EQ(label_text(*monitor, "ctl2071"), "[28]\t  097\t  25\t   26\t   Yes");
        EXPECT_EQ(label_text(*monitor, "ctl2082"), "[35]\t  205\t  31\t   41\t   Yes");
    }

    // OK ends and destroys the first, timer and all; the second goes on refreshing.
    click(*first, "ctl888");
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 10000);
    const std::size_t calls = polled_at_ms.size();
    const int before = second->refresh_count();
    QTRY_VERIFY_WITH_TIMEOUT(second->refresh_count() > before + 1, 20000);
    EXPECT_EQ(polled_at_ms.size(), calls);
}

// A GPS + GLONASS receiver: the twelve GPS rows as always, and below them every satellite of every
// system in a table of compact rows that shows them all, scrolling only past its limit.
TEST(GpsMonitorDialog, EverySystemsSatellitesInACompactTable) {
    SharedFix shared;
    feed_capture(shared, "bu353-glonass");
    const FixRecord fix = shared.snapshot();
    ASSERT_GT(fix.sky_count, 12);
    GpsMonitorDialog dialog;
    dialog.refresh_timer()->stop();
    dialog.show_texts(gps_monitor_texts(fix));
    dialog.show();
    auto* sky = child<QTableWidget>(dialog, "ctl2090");
    ASSERT_EQ(sky->rowCount(), fix.sky_count);
    QStringList header;
    for (int c = 0; c < sky->columnCount(); ++c) header << sky->horizontalHeaderItem(c)->text();
    EXPECT_EQ(header, (QStringList{"System", "PRN", "Elev", "Azim", "SNR", "Used"}));
    QSet<QString> systems;
    for (int r = 0; r < sky->rowCount(); ++r) {
        systems.insert(sky->item(r, 0)->text());
        const SkyEntry& e = fix.sky[static_cast<std::size_t>(r)];
        EXPECT_EQ(sky->item(r, 1)->text(), QString::number(e.prn));
        EXPECT_EQ(sky->item(r, 2)->text(), QString::number(e.elevation));
        EXPECT_EQ(sky->item(r, 3)->text(), QString::number(e.azimuth));
        EXPECT_EQ(sky->item(r, 5)->text(), e.used ? "Yes" : "No");
    }
    EXPECT_EQ(systems, (QSet<QString>{"GPS", "GLONASS"}));
    EXPECT_LE(sky->rowHeight(0), sky->fontMetrics().height() + 6);
    QTRY_VERIFY_WITH_TIMEOUT(sky->viewport()->height() >= sky->rowCount() * sky->rowHeight(0), 10000);
    EXPECT_EQ(sky->verticalScrollBar()->maximum(), 0);  // every satellite shown

    // A sky fuller than the table's limit scrolls.
    FixRecord full = fix;
    for (int i = fix.sky_count; i < kSkyEntries; ++i) full.sky[static_cast<std::size_t>(i)] = fix.sky[0];
    full.sky_count = kSkyEntries;
    dialog.show_texts(gps_monitor_texts(full));
    ASSERT_EQ(sky->rowCount(), kSkyEntries);
    QTRY_VERIFY_WITH_TIMEOUT(sky->verticalScrollBar()->maximum() > 0, 10000);
}

TEST(KeysAndAboutDialogs, TextsAndClosing) {
    KeysDialog keys;
    EXPECT_EQ(keys.windowTitle(), "Buttons and Keys");
    EXPECT_EQ(label_text(keys, "caption"), "VorGlobal");
    // Every key the window answers to is named, and the mouse's wheel and drag with the buttons.
    const QString named = label_text(keys, "text2") + label_text(keys, "text3");
    MainWindow keyed;
    QStringList keys_used;
    for (QAction* action : keyed.findChildren<QAction*>())
        for (const QKeySequence& key : action->shortcuts()) keys_used << key.toString(QKeySequence::PortableText);
    for (QShortcut* shortcut : keyed.findChildren<QShortcut*>()) keys_used << shortcut->key().toString(QKeySequence::PortableText);
    EXPECT_GE(keys_used.size(), 7);
    for (const QString& used : keys_used) {
        // + and - zoom with or without Ctrl and on the keypad; = is the + key without Shift.
        const QString bare = QString(used).remove("Ctrl+").remove("Num+");
        EXPECT_TRUE(named.contains(bare == "+" || bare == "-" || bare == "=" ? QString("+ and -") : used)) << used.toStdString();
    }
    for (const char* mouse : {"left button", "right button", "wheel", "drag", "arrow keys"})
        EXPECT_TRUE(named.contains(mouse)) << mouse;
    EXPECT_FALSE(child<QLabel>(keys, "icon")->pixmap().isNull());
    EXPECT_EQ(child<QPushButton>(keys, "ctl888")->text(), "OK");

    AboutDialog about("VorGlobal ver 1.4 - build 2026DEC07", "Linux ver. 6.1");
    EXPECT_EQ(label_text(about, "version"), "VorGlobal ver 1.4 - build 2026DEC07");
    EXPECT_EQ(label_text(about, "system"), "Linux ver. 6.1");

    // Through the window services: each runs modally until OK or the close box.
    MainWindow window;
    QtWindow services(window);
    QString seen;
    act_on_next_modal([&](QDialog& d) {
        seen = d.windowTitle();
        EXPECT_EQ(d.parentWidget(), &window);
        click(d, "ctl888");
    });
    services.run_keys_dialog();
    EXPECT_EQ(seen, "Buttons and Keys");

    act_on_next_modal([&](QDialog& d) {
        seen = label_text(d, "version") + "|" + label_text(d, "system");
        d.close();
    });
    services.run_about_dialog("VorGlobal ver 1.4 - build 2010FEB13", "Linux ver. 6.1");
    EXPECT_EQ(seen, "VorGlobal ver 1.4 - build 2010FEB13|Linux ver. 6.1");

    // The COM settings through the services: OK hands back the edited values.
    ComSettings settings;
    act_on_next_modal([&](QDialog& d) {
        child<QComboBox>(d, "ctl2040")->setCurrentIndex(1);
        click(d, "ctl888");
    });
    EXPECT_TRUE(services.run_com_settings_dialog(settings));
    EXPECT_EQ(settings.line.port_number, 2);
}

}  // namespace
}  // namespace vg

namespace vg {
namespace {

TEST(RegionDialog, OpensWithTheViewsBoundsAndStartsWithWhatTheControlsHold) {
    RegionDialogData data;
    data.preset = {"https://maps.example.org/planet.pmtiles", 24.5, 60.0, 25.25, 60.375, 9, 14, "/maps/packs/region.pmtiles"};
    std::vector<RegionChoice> started;
    RegionTexts state;
    data.start = [&](const RegionChoice& c) {
        started.push_back(c);
        return started.size() == 1 ? std::string("the zooms must run from the first to the last") : std::string();
    };
    data.poll = [&] { return state; };
    QWidget parent;
    QPointer<RegionDialog> dialog = open_region_dialog(&parent, data);
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(open_region_dialog(&parent, data), dialog.data()) << "one dialog, raised";
    auto spin = [&](const char* name) { return dialog->findChild<QDoubleSpinBox*>(name)->value(); };
    EXPECT_DOUBLE_EQ(spin("west"), 24.5);
    EXPECT_DOUBLE_EQ(spin("south"), 60.0);
    EXPECT_DOUBLE_EQ(spin("east"), 25.25);
    EXPECT_DOUBLE_EQ(spin("north"), 60.375);
    EXPECT_EQ(dialog->findChild<QSpinBox*>("min_zoom")->value(), 9);
    EXPECT_EQ(dialog->findChild<QLineEdit*>("out")->text(), "/maps/packs/region.pmtiles");

    // A refusal is shown; then a running download's texts and bar, Start off and Cancel on.
    dialog->findChild<QDoubleSpinBox*>("west")->setValue(20);
    dialog->findChild<QPushButton*>("start")->click();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_DOUBLE_EQ(started[0].west, 20);
    EXPECT_EQ(started[0].source, "https://maps.example.org/planet.pmtiles");
    EXPECT_EQ(dialog->findChild<QLabel*>("outcome")->text(), "the zooms must run from the first to the last");
    state = {"120 tiles, 3.4 MB to fetch", "60 of 120 tiles", 50, true, ""};
    dialog->findChild<QPushButton*>("start")->click();
    EXPECT_EQ(started.size(), 2u);
    EXPECT_EQ(dialog->findChild<QLabel*>("size")->text(), "120 tiles, 3.4 MB to fetch");
    EXPECT_EQ(dialog->findChild<QProgressBar*>("bar")->value(), 50);
    EXPECT_FALSE(dialog->findChild<QPushButton*>("start")->isEnabled());
    EXPECT_TRUE(dialog->findChild<QPushButton*>("cancel")->isEnabled());
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dialog);
}


TEST(ProfileDialog, HoverNamesThePointUnderThePointerAndExportWrites) {
    auto profile = std::make_shared<Profile>();
    for (int i = 0; i < 5; ++i) {
        ProfilePoint p;
        p.latitude = 60 + i * 0.001;
        p.longitude = 25;
        p.distance_m = i * 100.0;
        p.seconds = i * 60.0;
        p.elevation_m = 10.0 + i;
        p.starts_line = i == 0;
        profile->points.push_back(p);
    }
    std::vector<std::optional<std::pair<double, double>>> marks;
    ProfileDialogData data{profile, "walk.gpx", "mph", [&](auto place) { marks.push_back(place); }};
    QWidget parent;
    QPointer<ProfileDialog> dialog = open_profile_dialog(&parent, data);
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->isModal());
    ProfileView* view = dialog->view();
    ASSERT_TRUE(view->chart());
    EXPECT_EQ(view->options().units, plot::Units::imperial);
    // The pointer over point 3's column (with a pixel to spare), then off the plot to the left.
    const int col = static_cast<int>(view->chart()->column_of(300.0));
    auto move = [&](int x) {
        const QPointF at(x, view->height() / 2);
        QMouseEvent event(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    };
    move(col + 1);
    EXPECT_EQ(view->cursor(), 3u);
    ASSERT_FALSE(marks.empty());
    EXPECT_EQ(marks.back(), (std::pair{60.003, 25.0}));
    move(2);
    EXPECT_FALSE(view->cursor());
    EXPECT_FALSE(marks.back());
    // Against time: the same column names the same point (one a minute, 100 m apart).
    dialog->findChild<QComboBox*>("axis")->setCurrentIndex(1);
    EXPECT_EQ(view->options().axis, ProfileAxis::time);
    EXPECT_EQ(view->chart()->point_at(view->chart()->column_of(180.0)), 3u);

    test::TempDir dir;
    EXPECT_EQ(dialog->export_to((dir.path() / "p.png").string(), {600, 300}), "");
    EXPECT_EQ(QImage(QString::fromStdString((dir.path() / "p.png").string())).size(), QSize(600, 300));
    EXPECT_EQ(dialog->export_to((dir.path() / "p.svg").string(), {600, 300}), "");
    EXPECT_NE(test::read_file(dir.path() / "p.svg").find("walk.gpx"), std::string::npos);
    EXPECT_NE(dialog->export_to((dir.path() / "no" / "p.png").string(), {600, 300}), "");
    dialog->close();
    EXPECT_FALSE(marks.back());  // closing takes the mark off the map
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dialog);
}

}  // namespace
}  // namespace vg

namespace vg {
namespace {

TEST(TripDialog, ShowsTheFiguresAndItsButtonsCallTheHooks) {
    int laps = 0;
    TripDialogData data;
    data.poll = [&] {
        TripTexts t;
        t.rows = {{"Distance", "1.00 km"}, {"Ascent", "-"}};
        t.lap = "Lap " + std::to_string(laps + 1) + ": ...";
        for (int i = 0; i < laps; ++i) t.laps.push_back("Lap " + std::to_string(i + 1));
        return t;
    };
    data.lap = [&] { ++laps; };
    data.reset = [&] { laps = 0; };
    QWidget parent;
    QPointer<TripDialog> dialog = open_trip_dialog(&parent, data);
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(open_trip_dialog(&parent, data), dialog.data()) << "one dialog, raised";
    EXPECT_EQ(dialog->findChild<QLabel*>("row0")->text(), "1.00 km");
    EXPECT_EQ(dialog->findChild<QLabel*>("row1")->text(), "-");
    EXPECT_EQ(dialog->findChild<QLabel*>("row2")->text(), "");
    auto* list = dialog->findChild<QListWidget*>("laps");
    dialog->findChild<QPushButton*>("lap_button")->click();
    dialog->findChild<QPushButton*>("lap_button")->click();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text(), "Lap 2");
    EXPECT_EQ(dialog->findChild<QLabel*>("lap")->text(), "Lap 3: ...");
    dialog->findChild<QPushButton*>("reset")->click();
    EXPECT_EQ(list->count(), 0);
    dialog->findChild<QPushButton*>("close")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dialog);
}

TEST(NtripDialog, GetsTheListThenUsesTheMountpointChosen) {
    std::string asked, chosen;
    bool busy = true;
    NtripDialogData data;
    data.caster = "http://alice@caster.example:2101";
    data.fetch = [&](const std::string& caster, const std::string& password) {
        asked = caster + " " + password;
        return std::string();
    };
    data.poll = [&] {
        NtripCasterTexts t;
        t.busy = busy;
        t.message = busy ? "Asking" : "2 mountpoints";
        if (!busy) t.rows = {{"NEAR", "Helsinki", "RTCM 3.2", "NLS", "FIN", "1.2 km", true}, {"FAR", "", "", "", "", "", false}};
        return t;
    };
    data.choose = [&](const std::string& caster, const std::string& mountpoint, const std::string& password) {
        chosen = caster + " " + mountpoint + " " + password;
        return std::string("ntrip= is set");
    };
    QWidget parent;
    QPointer<NtripDialog> dialog = open_ntrip_dialog(&parent, data);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(open_ntrip_dialog(&parent, data), dialog.data()) << "one dialog, raised";
    EXPECT_EQ(dialog->findChild<QLineEdit*>("caster")->text(), "http://alice@caster.example:2101");
    dialog->findChild<QLineEdit*>("password")->setText("pw");
    auto* use = dialog->findChild<QPushButton*>("use");
    use->click();
    EXPECT_EQ(dialog->findChild<QLabel*>("status")->text(), "Choose a mountpoint of the list first");
    dialog->findChild<QPushButton*>("get")->click();
    EXPECT_EQ(asked, "http://alice@caster.example:2101 pw");
    EXPECT_FALSE(dialog->findChild<QPushButton*>("get")->isEnabled()) << "one request at a time";
    busy = false;
    auto* table = dialog->findChild<QTableWidget*>("mountpoints");
    EXPECT_TRUE(QTest::qWaitFor([&] { return table->rowCount() == 2; }, 2000));
    EXPECT_EQ(table->item(0, 5)->text(), "1.2 km");
    table->setCurrentCell(0, 0);
    use->click();
    EXPECT_EQ(chosen, "http://alice@caster.example:2101 NEAR pw");
    EXPECT_EQ(dialog->findChild<QLabel*>("status")->text(), "ntrip= is set");
    dialog->findChild<QPushButton*>("close")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dialog);
}

TEST(RouteDialogs, TheRoutePanelAndRoutingDataShowTheirTextsAndCallTheHooks) {
    std::string profile = "car";
    bool cleared = false;
    RouteDialogData route;
    route.poll = [&] {
        RouteTexts t;
        t.from = "Position";
        t.to = "51.50000, -0.10000";
        t.profile = profile;
        t.summary = cleared ? "" : "1.3 km, 2 min (Fake)";
        t.has_route = !cleared;
        if (!cleared) t.turns = {{"Main Street", "start", "600 m"}, {"High Street", "right", "400 m"}};
        return t;
    };
    route.profile = [&](const std::string& p) { profile = p; };
    route.clear = [&] { cleared = true; };
    QWidget parent;
    QPointer<RouteDialog> panel = open_route_dialog(&parent, route);
    ASSERT_TRUE(panel);
    EXPECT_EQ(open_route_dialog(&parent, route), panel.data()) << "one panel, raised";
    EXPECT_EQ(panel->findChild<QLabel*>("summary")->text(), "1.3 km, 2 min (Fake)");
    auto* turns = panel->findChild<QTreeWidget*>("turns");
    ASSERT_EQ(turns->topLevelItemCount(), 2);
    EXPECT_EQ(turns->topLevelItem(1)->text(0), "High Street");
    EXPECT_EQ(turns->topLevelItem(1)->text(1), "right");
    auto* combo = panel->findChild<QComboBox*>("profile");
    combo->setCurrentIndex(2);
    Q_EMIT combo->activated(2);
    EXPECT_EQ(profile, "foot");
    EXPECT_EQ(combo->currentData().toString(), "foot");
    panel->findChild<QPushButton*>("clear")->click();
    EXPECT_EQ(turns->topLevelItemCount(), 0);
    EXPECT_FALSE(panel->findChild<QPushButton*>("export")->isEnabled());

    bool running = false, cancelled = false;
    std::string downloaded;
    RoutingDataDialogData data;
    data.poll = [&] {
        RoutingDataTexts t;
        t.regions = {"lakeford"};
        t.running = running;
        t.percent = running ? 40 : -1;
        t.progress = running ? "Reading ways" : "";
        t.can_download = true;
        return t;
    };
    data.download = [&](const std::string& name) {
        downloaded = name;
        running = true;
        return std::string();
    };
    data.cancel = [&] { cancelled = true; };
    QPointer<RoutingDataDialog> dialog = open_routing_data_dialog(&parent, data);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->findChild<QListWidget*>("regions")->item(0)->text(), "lakeford");
    EXPECT_FALSE(dialog->findChild<QPushButton*>("cancel")->isEnabled());
    dialog->findChild<QLineEdit*>("region")->setText(" monaco ");
    dialog->findChild<QPushButton*>("download")->click();
    EXPECT_EQ(downloaded, "monaco");
    EXPECT_EQ(dialog->findChild<QProgressBar*>("progress")->value(), 40);
    EXPECT_EQ(dialog->findChild<QLabel*>("stage")->text(), "Reading ways");
    EXPECT_FALSE(dialog->findChild<QPushButton*>("download")->isEnabled());
    dialog->findChild<QPushButton*>("cancel")->click();
    EXPECT_TRUE(cancelled);
    dialog->findChild<QPushButton*>("close")->click();
    panel->findChild<QPushButton*>("close")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dialog);
    EXPECT_FALSE(panel);
}

}  // namespace
}  // namespace vg
