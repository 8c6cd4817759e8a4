#include "ui/dialog_detect.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialog_common.h"

namespace vg {

DetectDialog::DetectDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Detect Receiver"));
    setModal(false);
    state_ = plain_label(QString(), this, QStringLiteral("detect_state"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("detect_list"));
    list_->setMinimumWidth(320);
    auto* buttons = new QDialogButtonBox(this);
    use_ = buttons->addButton(tr("&Use"), QDialogButtonBox::AcceptRole);
    use_->setObjectName(QStringLiteral("detect_use"));
    use_->setEnabled(false);
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    close->setObjectName(QStringLiteral("detect_close"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(state_);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    const auto use = [this] {
        if (list_->currentRow() < 0) return;
        Q_EMIT chosen(list_->currentRow());
        accept();
    };
    connect(use_, &QPushButton::clicked, this, use);
    connect(list_, &QListWidget::itemDoubleClicked, this, use);
    connect(close, &QPushButton::clicked, this, &DetectDialog::reject);
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { use_->setEnabled(row >= 0); });
}

void DetectDialog::show_texts(const DetectTexts& texts) {
    const int row = list_->currentRow();
    list_->clear();
    for (const std::string& line : texts.found) list_->addItem(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    if (row >= 0 && row < list_->count()) list_->setCurrentRow(row);
    else if (list_->count() > 0) list_->setCurrentRow(0);
    state_->setText(texts.searching ? tr("Searching\u2026 (gpsd, UDP 10110, serial ports)")
                    : texts.found.empty() ? tr("Done: no receiver answered")
                                          : tr("Done: choose one and Use"));
    if (!isVisible()) show();
}

QStringList DetectDialog::lines() const {
    QStringList out;
    for (int i = 0; i < list_->count(); ++i) out << list_->item(i)->text();
    return out;
}

void DetectDialog::done(int result) {
    // Use has already said what was chosen; every way out hides the list and ends a search.
    QDialog::done(result);
    Q_EMIT closed();
}

}  // namespace vg
