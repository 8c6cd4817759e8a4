// The modeless GPS monitor ("GPS Monitor"): UTC time, position, last message and the satellite table,
// refreshed on its own timer: each tick signals refresh_due() and whoever opened it answers with
// show_texts() (open_gps_monitor() joins the two through a poll function). Each open monitor is independent; closing one (OK,
// the close box, Escape) deletes it and its timer. Controls are named by id: "ctl2020" (icon),
// "ctl2060" (time), "ctl2061" (position), "ctl2062" (message), "ctl2070" (table header),
// "ctl2071".."ctl2082" (table rows), "ctl2090" (every system's satellites: a scrolling table with a
// system column), "ctl888" (OK).
#pragma once

#include <QDialog>

#include <array>
#include <functional>

#include "platform/window.h"

class QLabel;
class QTableWidget;
class QTimer;

namespace vg {

class GpsMonitorDialog : public QDialog {
    Q_OBJECT
public:
    // First refresh 100 ms after creation, then every 200 ms.
    static constexpr int kFirstRefreshMs = 100;
    static constexpr int kRefreshPeriodMs = 200;
    // The all-systems table shows up to this many satellites without scrolling.
    static constexpr int kSkyRowsShown = 32;

    explicit GpsMonitorDialog(QWidget* parent = nullptr);

    // The refresh timer (a child of the dialog).
    QTimer* refresh_timer() const { return timer_; }
    // How many times show_texts() ran.
    int refresh_count() const { return refreshes_; }

public Q_SLOTS:
    // Every control takes its new text; a table row given as nullopt keeps its text.
    void show_texts(const vg::MonitorTexts& texts);

Q_SIGNALS:
    // The timer ticked: the texts are due again.
    void refresh_due();

private:
    void fit_sky();

    QTimer* timer_ = nullptr;
    int refreshes_ = 0;
    QLabel* time_ = nullptr;
    QLabel* position_ = nullptr;
    QLabel* receiver_ = nullptr;  // the receiver's state and cause
    QLabel* quality_ = nullptr;  // how good the fix is, hidden when nothing is known
    QLabel* corrections_ = nullptr;  // the NTRIP client's state
    QLabel* fleet_ = nullptr;        // the MQTT broker's state
    QLabel* message_ = nullptr;
    QLabel* header_ = nullptr;
    std::array<QLabel*, 12> rows_{};
    QTableWidget* sky_ = nullptr;
};

// Creates a new monitor owned by `parent`, shows it and returns at once; at each tick `poll` runs on
// the window thread and the monitor shows what it returns (an empty poll leaves the texts as they
// are). The dialog deletes itself when closed.
GpsMonitorDialog* open_gps_monitor(QWidget* parent, std::function<MonitorTexts()> poll);

}  // namespace vg
