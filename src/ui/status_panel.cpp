#include "ui/status_panel.h"

#include <QLabel>
#include <QPushButton>

namespace vg {

namespace {

QLabel* field(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

void set_text(QLabel* label, const std::string& text) {
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (label->text() != shown) {
        label->setText(shown);
        label->setToolTip(shown);
    }
}

}  // namespace

StatusPanel::StatusPanel(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("status_bar"));
    setSizeGripEnabled(false);
    receiver_ = field("status_receiver", this);
    fix_ = field("status_fix", this);
    age_ = field("status_age", this);
    tiles_ = field("status_tiles", this);
    line_ = field("status_line", this);
    ground_ = field("status_ground", this);
    ground_->hide();
    detect_ = new QPushButton(tr("Detect"), this);
    detect_->setObjectName(QStringLiteral("status_detect"));
    detect_->setFlat(true);
    detect_->hide();
    // The receiver's field takes what room is left; a long cause is elided by the label's width.
    receiver_->setMinimumWidth(40);
    addWidget(receiver_, 1);
    addWidget(detect_);
    addPermanentWidget(ground_);
    addPermanentWidget(fix_);
    addPermanentWidget(age_);
    addPermanentWidget(tiles_);
    addPermanentWidget(line_);
    connect(detect_, &QPushButton::clicked, this, &StatusPanel::detect_clicked);
}

void StatusPanel::show_status(const PaintFrame::Status& status, bool offer_detect) {
    set_text(receiver_, status.receiver);
    set_text(fix_, status.fix);
    set_text(age_, status.age);
    set_text(tiles_, status.tiles);
    set_text(line_, status.line);
    set_text(ground_, status.ground);
    ground_->setVisible(!status.ground.empty());
    detect_->setVisible(offer_detect);
}

QString StatusPanel::receiver_text() const { return receiver_->text(); }

}  // namespace vg
