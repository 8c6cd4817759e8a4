// The non-modal NTRIP Casters dialog (Gps → NTRIP Casters...): a caster (http://user@host:port) and
// its password, "Get List" fetches its mountpoints (through NtripDialogData::fetch, polled while it
// runs), the table shows them nearest first (mountpoint, identifier, format, network, country,
// distance), and "Use" (or a double-click) makes the selected one the corrections' source. Window
// thread only; closing it deletes it. Controls are named "caster", "password", "get", "mountpoints"
// (table), "use", "status", "close".
#pragma once

#include <QDialog>

#include "platform/window.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace vg {

class NtripDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPollPeriodMs = 200;

    explicit NtripDialog(NtripDialogData data, QWidget* parent = nullptr);

    // Reads the fetch's state into the table and the status line (the timer calls it while it runs).
    void poll();

private:
    void use_selected();

    NtripDialogData data_;
    QLineEdit* caster_ = nullptr;
    QLineEdit* password_ = nullptr;
    QPushButton* get_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* timer_ = nullptr;
    std::string listed_caster_;  // the caster whose table is shown
};

// Opens the dialog over `parent`, or raises the one already open there.
NtripDialog* open_ntrip_dialog(QWidget* parent, NtripDialogData data);

}  // namespace vg
