// The Route panel (Gps → Route...) and the Routing Data dialog (Gps → Routing Data...), both
// non-modal, refreshed from their poll hooks once a second. Window thread only; closing either
// deletes it (the route and a build running go on).
// Route panel controls: "from", "to", "summary" (labels), "profile" (combo: car, bicycle, foot),
// "turns" (street, direction, distance), "export", "open", "clear", "close".
// Routing Data controls: "regions" (list), "progress" (bar), "stage", "outcome" (labels), "region"
// (name to download), "from_file", "download", "cancel", "close".
#pragma once

#include <QDialog>

#include "platform/window.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace vg {

class RouteDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPollPeriodMs = 1000;
    explicit RouteDialog(RouteDialogData data, QWidget* parent = nullptr);
    void poll();

private:
    RouteDialogData data_;
    QLabel *from_ = nullptr, *to_ = nullptr, *summary_ = nullptr;
    QComboBox* profile_ = nullptr;
    QTreeWidget* turns_ = nullptr;
    QPushButton* export_ = nullptr;
};

class RoutingDataDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPollPeriodMs = 500;
    explicit RoutingDataDialog(RoutingDataDialogData data, QWidget* parent = nullptr);
    void poll();

private:
    RoutingDataDialogData data_;
    QListWidget* regions_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel *stage_ = nullptr, *outcome_ = nullptr;
    QLineEdit* region_ = nullptr;
    QPushButton *from_file_ = nullptr, *download_ = nullptr, *cancel_ = nullptr;
};

// Open the dialog over `parent`, or raise the one already open there.
RouteDialog* open_route_dialog(QWidget* parent, RouteDialogData data);
RoutingDataDialog* open_routing_data_dialog(QWidget* parent, RoutingDataDialogData data);

}  // namespace vg
