#include "ui/dialog_gps_monitor.h"

#include <algorithm>

#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/gps_monitor_texts.h"
#include "ui/dialog_common.h"
#include "ui/qt_window.h"

namespace vg {
namespace {

constexpr int kControlIcon = 2020;
constexpr int kControlTime = 2060;
constexpr int kControlPosition = 2061;
constexpr int kControlMessage = 2062;
constexpr int kControlHeader = 2070;
constexpr int kControlFirstRow = 2071;
constexpr int kControlSky = 2090;

// A group box holding `widgets` one below the other.
QGroupBox* group_of(const QString& title, std::initializer_list<QWidget*> widgets, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    auto* layout = new QVBoxLayout(group);
    layout->setSpacing(0);
    for (QWidget* widget : widgets) {
        widget->setParent(group);
        layout->addWidget(widget);
    }
    return group;
}

}  // namespace

GpsMonitorDialog::GpsMonitorDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("GPS Monitor"));
    setObjectName(QStringLiteral("dlg421"));
    setModal(false);

    const QString blank = QString::fromLatin1(kMonitorBlank);
    time_ = plain_label({}, this, control_name(kControlTime));
    position_ = plain_label({}, this, control_name(kControlPosition));
    quality_ = plain_label({}, this, QStringLiteral("quality"));
    corrections_ = plain_label({}, this, QStringLiteral("corrections"));
    corrections_->setVisible(false);
    fleet_ = plain_label({}, this, QStringLiteral("fleet"));
    fleet_->setVisible(false);
    receiver_ = plain_label({}, this, QStringLiteral("receiver"));
    receiver_->setWordWrap(true);
    message_ = plain_label(blank, this, control_name(kControlMessage));
    header_ = plain_label(blank, this, control_name(kControlHeader));
    // Room for a full message line, so the dialog keeps its size while the texts change.
    message_->setMinimumWidth(message_->fontMetrics().horizontalAdvance(QString(kMonitorMessageMax, QChar('0'))));

    auto* table = new QWidget(this);
    auto* table_layout = new QVBoxLayout(table);
    table_layout->setContentsMargins(0, 0, 0, 0);
    table_layout->setSpacing(0);
    header_->setParent(table);
    table_layout->addWidget(header_);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        rows_[i] = plain_label(blank, table, control_name(kControlFirstRow + static_cast<int>(i)));
        table_layout->addWidget(rows_[i]);
    }

    // Every system's satellites: a table that scrolls when the sky holds more than it shows.
    sky_ = new QTableWidget(0, 6, this);
    sky_->setObjectName(control_name(kControlSky));
    sky_->setHorizontalHeaderLabels({tr("System"), tr("PRN"), tr("Elev"), tr("Azim"), tr("SNR"), tr("Used")});
    sky_->verticalHeader()->setVisible(false);
    sky_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sky_->setSelectionMode(QAbstractItemView::NoSelection);
    sky_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    sky_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Compact rows, one line of text each; the table grows with the sky (see fit_sky).
    const int row_height = sky_->fontMetrics().height() + 4;
    sky_->verticalHeader()->setMinimumSectionSize(row_height);
    sky_->verticalHeader()->setDefaultSectionSize(row_height);
    sky_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    fit_sky();

    auto* top = new QHBoxLayout;
    top->addWidget(icon_label(this, control_name(kControlIcon)), 0, Qt::AlignTop);
    auto* right = new QVBoxLayout;
    right->addWidget(group_of(tr("Date / Time"), {time_}, this));
    right->addWidget(group_of(tr("Lat / Long / Alt"), {position_, quality_, corrections_, fleet_}, this));
    right->addWidget(receiver_);
    top->addLayout(right, 1);

    auto* ok = control_button(tr("OK"), kControlOk, this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(group_of(tr("Satellites"), {table}, this));
    layout->addWidget(group_of(tr("All systems"), {sky_}, this), 1);
    layout->addWidget(group_of(tr("Messages"), {message_}, this));
    layout->addWidget(ok, 0, Qt::AlignHCenter);

    // Closing (OK, Escape, the close box) deletes the dialog, and with it the timer.
    setAttribute(Qt::WA_DeleteOnClose);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [this] {
        // After the first refresh the period becomes the steady one.
        if (timer_->interval() != kRefreshPeriodMs) timer_->start(kRefreshPeriodMs);
        Q_EMIT refresh_due();
    });
    timer_->start(kFirstRefreshMs);
}

void GpsMonitorDialog::show_texts(const MonitorTexts& texts) {
    ++refreshes_;
    time_->setText(QtWindow::to_qstring(texts.time));
    position_->setText(QtWindow::to_qstring(texts.position));
    quality_->setText(QtWindow::to_qstring(texts.quality));
    quality_->setVisible(!texts.quality.empty());
    corrections_->setText(QtWindow::to_qstring(texts.corrections));
    corrections_->setVisible(!texts.corrections.empty());
    fleet_->setText(QtWindow::to_qstring(texts.fleet));
    fleet_->setVisible(!texts.fleet.empty());
    receiver_->setText(QtWindow::to_qstring(texts.receiver));
    receiver_->setVisible(!texts.receiver.empty());
    message_->setText(QtWindow::to_qstring(texts.message));
    header_->setText(QtWindow::to_qstring(texts.header));
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (texts.rows[i]) rows_[i]->setText(QtWindow::to_qstring(*texts.rows[i]));
    }
    sky_->setRowCount(static_cast<int>(texts.sky.size()));
    fit_sky();
    for (std::size_t r = 0; r < texts.sky.size(); ++r) {
        for (std::size_t c = 0; c < texts.sky[r].size(); ++c) {
            const QString text = QtWindow::to_qstring(texts.sky[r][c]);
            QTableWidgetItem* item = sky_->item(static_cast<int>(r), static_cast<int>(c));
            if (!item) {
                item = new QTableWidgetItem;
                if (c > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                sky_->setItem(static_cast<int>(r), static_cast<int>(c), item);
            }
            if (item->text() != text) item->setText(text);
        }
    }
}

void GpsMonitorDialog::fit_sky() {
    // As tall as its rows (at least a few, at most kSkyRowsShown), so a usual sky shows whole.
    const int rows = std::clamp(sky_->rowCount(), 4, kSkyRowsShown);
    const int height = sky_->horizontalHeader()->sizeHint().height() + rows * sky_->verticalHeader()->defaultSectionSize() +
                       2 * sky_->frameWidth();
    if (sky_->minimumHeight() != height) sky_->setMinimumHeight(height);
}

GpsMonitorDialog* open_gps_monitor(QWidget* parent, std::function<MonitorTexts()> poll) {
    auto* dialog = new GpsMonitorDialog(parent);
    if (poll)
        QObject::connect(dialog, &GpsMonitorDialog::refresh_due, dialog,
                         [dialog, poll = std::move(poll)] { dialog->show_texts(poll()); });
    dialog->show();
    return dialog;
}

}  // namespace vg
