#include "ui/dialog_fleet.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/qt_window.h"

namespace vg {
namespace {

constexpr const char* kDialogName = "fleet_dialog";
constexpr int kSliderSteps = 1000;

}  // namespace

FleetDialog::FleetDialog(FleetDialogData data, QWidget* parent) : QDialog(parent), data_(std::move(data)) {
    setWindowTitle(tr("Fleet"));
    setObjectName(kDialogName);
    setModal(false);

    table_ = new QTableWidget(0, 5, this);
    table_->setObjectName(QStringLiteral("devices"));
    table_->setHorizontalHeaderLabels({tr("Name"), tr("Age"), tr("Speed"), tr("Distance"), tr("Bearing")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    auto selected_id = [this]() -> std::string {
        const int row = table_->currentRow();
        if (row < 0 || !table_->item(row, 0)) return {};
        return table_->item(row, 0)->data(Qt::UserRole).toString().toStdString();
    };
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this, selected_id](int, int) {
        if (data_.centre) data_.centre(selected_id());
    });

    auto* follow = new QPushButton(tr("&Follow"), this);
    follow->setObjectName(QStringLiteral("follow"));
    auto* own = new QPushButton(tr("&Own position"), this);
    own->setObjectName(QStringLiteral("own"));
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    connect(follow, &QPushButton::clicked, this, [this, selected_id] {
        if (data_.follow && !selected_id().empty()) data_.follow(selected_id());
    });
    connect(own, &QPushButton::clicked, this, [this] {
        if (data_.follow) data_.follow({});
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    // The replay: the slider spans the stored history; Live shows the fleet as it is.
    history_ = new QSlider(Qt::Horizontal, this);
    history_->setObjectName(QStringLiteral("history"));
    history_->setRange(0, kSliderSteps);
    history_->setValue(kSliderSteps);
    moment_ = new QLabel(tr("Live"), this);
    auto* live = new QPushButton(tr("&Live"), this);
    live->setObjectName(QStringLiteral("live"));
    connect(history_, &QSlider::valueChanged, this, [this](int value) {
        if (!span_ || !data_.replay) return;
        const std::int64_t at = span_->first + (span_->second - span_->first) * value / kSliderSteps;
        moment_->setText(QDateTime::fromMSecsSinceEpoch(at).toString(Qt::ISODate));
        data_.replay(at);
    });
    connect(live, &QPushButton::clicked, this, [this] {
        const QSignalBlocker quiet(history_);
        history_->setValue(kSliderSteps);
        moment_->setText(tr("Live"));
        if (data_.replay) data_.replay(std::nullopt);
    });

    auto* replay = new QHBoxLayout;
    replay->addWidget(history_, 1);
    replay->addWidget(moment_);
    replay->addWidget(live);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(follow);
    buttons->addWidget(own);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(replay);
    layout->addLayout(buttons);
    resize(520, 360);

    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &FleetDialog::poll);
    timer->start(kPollPeriodMs);
    poll();
}

FleetDialog::~FleetDialog() {
    if (data_.replay) data_.replay(std::nullopt);
}

void FleetDialog::poll() {
    if (data_.history) span_ = data_.history();
    if (!data_.rows) return;
    const std::vector<FleetRow> rows = data_.rows();
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const FleetRow& row = rows[static_cast<std::size_t>(r)];
        const std::string* texts[] = {&row.name, &row.age, &row.speed, &row.distance, &row.bearing};
        for (int c = 0; c < 5; ++c) {
            auto* item = table_->item(r, c);
            if (!item) table_->setItem(r, c, item = new QTableWidgetItem);
            item->setText(QtWindow::to_qstring(*texts[c]));
            item->setForeground(row.stale ? QBrush(Qt::gray) : QBrush());
        }
        table_->item(r, 0)->setData(Qt::UserRole, QtWindow::to_qstring(row.id));
    }
}

FleetDialog* open_fleet_dialog(QWidget* parent, FleetDialogData data) {
    if (parent)
        if (auto* open = parent->findChild<FleetDialog*>(kDialogName, Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return open;
        }
    auto* dialog = new FleetDialog(std::move(data), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

}  // namespace vg
