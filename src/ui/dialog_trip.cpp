#include "ui/dialog_trip.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/dialog_common.h"
#include "ui/qt_window.h"

namespace vg {
namespace {

constexpr const char* kDialogName = "trip_dialog";
// Rows made before the first poll: the figures the trip gives (trip_texts).
constexpr int kRows = 9;

}  // namespace

TripDialog::TripDialog(TripDialogData data, QWidget* parent) : QDialog(parent), data_(std::move(data)) {
    setWindowTitle(tr("Trip"));
    setObjectName(kDialogName);
    setModal(false);

    auto* form = new QFormLayout;
    for (int i = 0; i < kRows; ++i) {
        names_.push_back(plain_label({}, this));
        values_.push_back(plain_label({}, this, QStringLiteral("row%1").arg(i)));
        values_.back()->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(names_.back(), values_.back());
    }
    lap_ = plain_label({}, this, QStringLiteral("lap"));
    laps_ = new QListWidget(this);
    laps_->setObjectName(QStringLiteral("laps"));
    laps_->setSelectionMode(QAbstractItemView::NoSelection);

    auto* lap = new QPushButton(tr("&Lap"), this);
    lap->setObjectName(QStringLiteral("lap_button"));
    auto* reset = new QPushButton(tr("&Reset"), this);
    reset->setObjectName(QStringLiteral("reset"));
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    connect(lap, &QPushButton::clicked, this, [this] {
        if (data_.lap) data_.lap();
        poll();
    });
    connect(reset, &QPushButton::clicked, this, [this] {
        if (data_.reset) data_.reset();
        poll();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lap);
    buttons->addWidget(reset);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(lap_);
    layout->addWidget(laps_, 1);
    layout->addLayout(buttons);

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &TripDialog::poll);
    timer_->start(kPollPeriodMs);
    poll();
}

void TripDialog::poll() {
    if (!data_.poll) return;
    const TripTexts t = data_.poll();
    for (std::size_t i = 0; i < names_.size(); ++i) {
        const bool shown = i < t.rows.size();
        names_[i]->setText(shown ? QtWindow::to_qstring(t.rows[i].first) : QString());
        values_[i]->setText(shown ? QtWindow::to_qstring(t.rows[i].second) : QString());
    }
    lap_->setText(QtWindow::to_qstring(t.lap));
    // Laps are only ever added or all cleared: rows are appended or the list emptied.
    if (static_cast<std::size_t>(laps_->count()) > t.laps.size()) laps_->clear();
    for (std::size_t i = static_cast<std::size_t>(laps_->count()); i < t.laps.size(); ++i)
        laps_->addItem(QtWindow::to_qstring(t.laps[i]));
}

TripDialog* open_trip_dialog(QWidget* parent, TripDialogData data) {
    if (parent)
        if (auto* open = parent->findChild<TripDialog*>(kDialogName, Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return open;
        }
    auto* dialog = new TripDialog(std::move(data), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

}  // namespace vg
