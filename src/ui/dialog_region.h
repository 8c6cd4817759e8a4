// The non-modal Download Region dialog (Gps → Download Region...): the archive (an https address, a
// .pmtiles file or a source of the Maps menu), the area's bounds W, S, E, N in degrees, the zooms
// from-to and the output file, preset from RegionDialogData; Start and Cancel call its hooks, and a
// timer polls the download's state into the size line, the progress line, the bar and the outcome.
// Window thread only; closing it (Close, the close box, Escape) deletes it and leaves a download
// running (the message line tells when it is done). Controls are named: "source", "west", "south",
// "east", "north", "min_zoom", "max_zoom", "out", "size", "progress", "bar", "outcome", "start",
// "cancel".
#pragma once

#include <QDialog>

#include "platform/window.h"

class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace vg {

class RegionDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPollPeriodMs = 250;

    explicit RegionDialog(RegionDialogData data, QWidget* parent = nullptr);

    // What the controls hold now.
    RegionChoice choice() const;
    // Reads the download's state into the controls (the timer calls it).
    void poll();

private:
    void start();

    RegionDialogData data_;
    QLineEdit* source_ = nullptr;
    QDoubleSpinBox* west_ = nullptr;
    QDoubleSpinBox* south_ = nullptr;
    QDoubleSpinBox* east_ = nullptr;
    QDoubleSpinBox* north_ = nullptr;
    QSpinBox* min_zoom_ = nullptr;
    QSpinBox* max_zoom_ = nullptr;
    QLineEdit* out_ = nullptr;
    QLabel* size_ = nullptr;
    QLabel* progress_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* outcome_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QTimer* timer_ = nullptr;
};

// Opens the dialog over `parent`, or raises the one already open there (keeping its values).
RegionDialog* open_region_dialog(QWidget* parent, RegionDialogData data);

}  // namespace vg
