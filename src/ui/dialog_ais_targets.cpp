#include "ui/dialog_ais_targets.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

#include "ui/qt_window.h"

namespace vg {
namespace {

constexpr const char* kDialogName = "ais_targets_dialog";

// A cell that sorts by its number when it has one (unknown numbers after every known one), else by text.
class Cell : public QTableWidgetItem {
public:
    Cell(const std::string& text, double key) : QTableWidgetItem(QtWindow::to_qstring(text)), key_(key) {}
    bool operator<(const QTableWidgetItem& other) const override {
        const auto* o = dynamic_cast<const Cell*>(&other);
        if (!o || (std::isnan(key_) && std::isnan(o->key_))) return QTableWidgetItem::operator<(other);
        const bool descending = tableWidget() && tableWidget()->horizontalHeader()->sortIndicatorOrder() == Qt::DescendingOrder;
        // Unknown values stay at the bottom whichever way the column is sorted.
        if (std::isnan(key_)) return descending;
        if (std::isnan(o->key_)) return !descending;
        return key_ < o->key_;
    }

private:
    double key_;
};

}  // namespace

AisTargetsDialog::AisTargetsDialog(std::function<std::vector<AisTargetRow>()> poll, QWidget* parent)
    : QDialog(parent), poll_(std::move(poll)) {
    setWindowTitle(tr("AIS Targets"));
    setObjectName(kDialogName);
    setModal(false);
    table_ = new QTableWidget(0, 8, this);
    table_->setObjectName(QStringLiteral("targets"));
    table_->setHorizontalHeaderLabels(
        {tr("Name"), tr("MMSI"), tr("Distance"), tr("Bearing"), tr("SOG"), tr("COG"), tr("CPA"), tr("TCPA")});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->horizontalHeader()->setSortIndicator(2, Qt::AscendingOrder);
    table_->setSortingEnabled(true);
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    resize(640, 320);

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &AisTargetsDialog::poll);
    timer_->start(kPollPeriodMs);
    poll();
}

void AisTargetsDialog::poll() {
    if (!poll_) return;
    const std::vector<AisTargetRow> rows = poll_();
    // Rows are filled unsorted and sorted once by the column the user chose.
    table_->setSortingEnabled(false);
    table_->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const AisTargetRow& row = rows[r];
        const QColor colour = row.dangerous ? QColor(0xd0, 0x10, 0x10) : row.stale ? QColor(0x80, 0x80, 0x80) : QColor();
        for (std::size_t c = 0; c < row.texts.size(); ++c) {
            auto* cell = new Cell(row.texts[c], row.keys[c]);
            if (colour.isValid()) cell->setForeground(colour);
            table_->setItem(static_cast<int>(r), static_cast<int>(c), cell);
        }
    }
    table_->setSortingEnabled(true);
}

AisTargetsDialog* open_ais_targets_dialog(QWidget* parent, std::function<std::vector<AisTargetRow>()> poll) {
    if (parent)
        if (auto* open = parent->findChild<AisTargetsDialog*>(kDialogName, Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return open;
        }
    auto* dialog = new AisTargetsDialog(std::move(poll), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

}  // namespace vg
