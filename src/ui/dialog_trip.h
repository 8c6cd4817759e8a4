// The non-modal Trip dialog (Gps → Trip...): the live trip's figures (a name and a value per row), the
// lap running and the laps taken, refreshed from TripDialogData::poll once a second; Lap and Reset
// call its hooks and refresh at once. Window thread only; closing it (Close, the close box, Escape)
// deletes it and the trip goes on. Controls are named: "row0".."row8" (values), "lap", "laps" (list),
// "lap_button", "reset", "close".
#pragma once

#include <QDialog>

#include <vector>

#include "platform/window.h"

class QLabel;
class QListWidget;
class QTimer;

namespace vg {

class TripDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPollPeriodMs = 1000;

    explicit TripDialog(TripDialogData data, QWidget* parent = nullptr);

    // Reads the figures into the controls (the timer calls it).
    void poll();

private:
    TripDialogData data_;
    std::vector<QLabel*> names_, values_;
    QLabel* lap_ = nullptr;
    QListWidget* laps_ = nullptr;
    QTimer* timer_ = nullptr;
};

// Opens the dialog over `parent`, or raises the one already open there.
TripDialog* open_trip_dialog(QWidget* parent, TripDialogData data);

}  // namespace vg
