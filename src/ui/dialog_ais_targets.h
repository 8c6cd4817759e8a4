// The non-modal AIS target list (Gps → AIS Targets...): one row per target (name, MMSI, distance,
// bearing, SOG, COG, CPA, TCPA), refreshed from the poll once a second; a click on a column heading
// sorts by it (numbers as numbers, unknown values last); dangerous targets are shown red, stale ones
// grey. Window thread only; closing it deletes it. The table is named "targets".
#pragma once

#include <QDialog>

#include <functional>
#include <vector>

#include "platform/window.h"

class QTableWidget;
class QTimer;

namespace vg {

class AisTargetsDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPollPeriodMs = 1000;

    explicit AisTargetsDialog(std::function<std::vector<AisTargetRow>()> poll, QWidget* parent = nullptr);

    // Reads the rows into the table (the timer calls it).
    void poll();

private:
    std::function<std::vector<AisTargetRow>()> poll_;
    QTableWidget* table_ = nullptr;
    QTimer* timer_ = nullptr;
};

// Opens the dialog over `parent`, or raises the one already open there.
AisTargetsDialog* open_ais_targets_dialog(QWidget* parent, std::function<std::vector<AisTargetRow>()> poll);

}  // namespace vg
