// The non-modal Fleet dialog (Gps → Fleet...): one row a device (name, age, speed, distance and
// bearing from the own position), refreshed from FleetDialogData::rows once a second; a double-click
// centres the map on the device, Follow follows the selected one (Own position: the own position
// again), and the history slider shows the fleet at a past moment (Live: now). Window thread only;
// closing it deletes it and ends a replay. Controls are named "devices" (table), "follow", "own",
// "history" (slider), "live", "close".
#pragma once

#include <QDialog>

#include "platform/window.h"

class QLabel;
class QSlider;
class QTableWidget;

namespace vg {

class FleetDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPollPeriodMs = 1000;

    explicit FleetDialog(FleetDialogData data, QWidget* parent = nullptr);
    ~FleetDialog() override;

    // Reads the rows into the table (the timer calls it).
    void poll();

private:
    FleetDialogData data_;
    QTableWidget* table_ = nullptr;
    QSlider* history_ = nullptr;
    QLabel* moment_ = nullptr;
    std::optional<std::pair<std::int64_t, std::int64_t>> span_;
};

// Opens the dialog over `parent`, or raises the one already open there.
FleetDialog* open_fleet_dialog(QWidget* parent, FleetDialogData data);

}  // namespace vg
