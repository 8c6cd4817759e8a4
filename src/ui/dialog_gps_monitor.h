// The modeless GPS monitor ("GPS Monitor"): UTC time, position, last message and the satellite table,
// refreshed by its own timer from a poll function. Each open monitor is independent; closing one (OK,
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
public:
    // First refresh 100 ms after creation, then every 200 ms.
    static constexpr int kFirstRefreshMs = 100;
    static constexpr int kRefreshPeriodMs = 200;

    // `poll` runs on the window thread at each refresh; an empty one leaves the texts as they are.
    explicit GpsMonitorDialog(std::function<MonitorTexts()> poll, QWidget* parent = nullptr);

    // One refresh now: every control takes its new text; a table row given as nullopt keeps its text.
    void refresh();

    // The refresh timer (a child of the dialog).
    QTimer* refresh_timer() const { return timer_; }
    int refresh_count() const { return refreshes_; }

private:
    void on_timer();

    std::function<MonitorTexts()> poll_;
    QTimer* timer_ = nullptr;
    int refreshes_ = 0;
    QLabel* time_ = nullptr;
    QLabel* position_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* header_ = nullptr;
    std::array<QLabel*, 12> rows_{};
    QTableWidget* sky_ = nullptr;
};

// Creates a new monitor owned by `parent`, shows it and returns at once. The dialog deletes itself
// when closed.
GpsMonitorDialog* open_gps_monitor(QWidget* parent, std::function<MonitorTexts()> poll);

}  // namespace vg
