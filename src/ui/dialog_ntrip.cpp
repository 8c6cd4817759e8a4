#include "ui/dialog_ntrip.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/qt_window.h"

namespace vg {
namespace {

constexpr const char* kDialogName = "ntrip_dialog";
constexpr int kColumns = 6;

}  // namespace

NtripDialog::NtripDialog(NtripDialogData data, QWidget* parent) : QDialog(parent), data_(std::move(data)) {
    setWindowTitle(tr("NTRIP Casters"));
    setObjectName(kDialogName);
    setModal(false);

    caster_ = new QLineEdit(QtWindow::to_qstring(data_.caster), this);
    caster_->setObjectName(QStringLiteral("caster"));
    caster_->setPlaceholderText(QStringLiteral("http://user@caster.example.org:2101"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("password"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText(tr("(the one stored)"));
    get_ = new QPushButton(tr("&Get List"), this);
    get_->setObjectName(QStringLiteral("get"));

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("mountpoints"));
    table_->setHorizontalHeaderLabels(
        {tr("Mountpoint"), tr("Identifier"), tr("Format"), tr("Network"), tr("Country"), tr("Distance")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    auto* use = new QPushButton(tr("&Use"), this);
    use->setObjectName(QStringLiteral("use"));
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &NtripDialog::poll);
    connect(get_, &QPushButton::clicked, this, [this] {
        if (!data_.fetch) return;
        const std::string caster = caster_->text().trimmed().toStdString();
        const std::string refused = data_.fetch(caster, password_->text().toStdString());
        if (!refused.empty()) {
            status_->setText(QtWindow::to_qstring(refused));
            return;
        }
        listed_caster_ = caster;
        get_->setEnabled(false);
        timer_->start(kPollPeriodMs);
        poll();
    });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { use_selected(); });
    connect(use, &QPushButton::clicked, this, &NtripDialog::use_selected);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* form = new QFormLayout;
    auto* caster_row = new QHBoxLayout;
    caster_row->addWidget(caster_, 1);
    caster_row->addWidget(get_);
    form->addRow(tr("&Caster:"), caster_row);
    form->addRow(tr("&Password:"), password_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(use);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(table_, 1);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    resize(640, 420);
}

void NtripDialog::poll() {
    if (!data_.poll) return;
    const NtripCasterTexts texts = data_.poll();
    status_->setText(QtWindow::to_qstring(texts.message));
    if (texts.busy) return;
    timer_->stop();
    get_->setEnabled(true);
    table_->setRowCount(static_cast<int>(texts.rows.size()));
    for (int r = 0; r < static_cast<int>(texts.rows.size()); ++r) {
        const NtripCasterRow& row = texts.rows[static_cast<std::size_t>(r)];
        const std::string* cells[kColumns] = {&row.mountpoint, &row.identifier, &row.format,
                                              &row.network,    &row.country,    &row.distance};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = table_->item(r, c);
            if (!item) table_->setItem(r, c, item = new QTableWidgetItem);
            item->setText(QtWindow::to_qstring(*cells[c]));
        }
        if (row.wants_position)
            table_->item(r, 0)->setToolTip(tr("The caster asks for your position (sent every ntrip_gga seconds)"));
    }
}

void NtripDialog::use_selected() {
    const int row = table_->currentRow();
    if (row < 0 || !table_->item(row, 0)) {
        status_->setText(tr("Choose a mountpoint of the list first"));
        return;
    }
    if (!data_.choose) return;
    const std::string said = data_.choose(listed_caster_, table_->item(row, 0)->text().toStdString(),
                                          password_->text().toStdString());
    status_->setText(QtWindow::to_qstring(said));
}

NtripDialog* open_ntrip_dialog(QWidget* parent, NtripDialogData data) {
    if (parent)
        if (auto* open = parent->findChild<NtripDialog*>(kDialogName, Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return open;
        }
    auto* dialog = new NtripDialog(std::move(data), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

}  // namespace vg
