#include "ui/dialog_region.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "tiles/geometry.h"
#include "ui/dialog_common.h"

namespace vg {
namespace {

constexpr const char* kDialogName = "region_dialog";

QDoubleSpinBox* degrees_box(double limit, double value, const QString& name, QWidget* parent) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setDecimals(5);
    box->setRange(-limit, limit);
    box->setValue(value);
    return box;
}

QSpinBox* zoom_box(int value, const QString& name, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0, 31);
    box->setValue(value);
    return box;
}

}  // namespace

RegionDialog::RegionDialog(RegionDialogData data, QWidget* parent) : QDialog(parent), data_(std::move(data)) {
    setObjectName(kDialogName);
    setWindowTitle(tr("Download Region"));
    setWindowIcon(program_icon());
    setModal(false);
    const RegionChoice& p = data_.preset;

    source_ = new QLineEdit(QString::fromStdString(p.source), this);
    source_->setObjectName("source");
    source_->setPlaceholderText(tr("https://.../map.pmtiles, a .pmtiles file or a source name"));
    source_->setMinimumWidth(360);
    west_ = degrees_box(180, p.west, "west", this);
    south_ = degrees_box(kMercatorLimit, p.south, "south", this);
    east_ = degrees_box(180, p.east, "east", this);
    north_ = degrees_box(kMercatorLimit, p.north, "north", this);
    min_zoom_ = zoom_box(p.min_zoom, "min_zoom", this);
    max_zoom_ = zoom_box(p.max_zoom, "max_zoom", this);
    out_ = new QLineEdit(QString::fromStdString(p.out), this);
    out_->setObjectName("out");

    auto* bounds = new QHBoxLayout;
    for (auto [label, box] : {std::pair{tr("W"), west_}, {tr("S"), south_}, {tr("E"), east_}, {tr("N"), north_}}) {
        bounds->addWidget(new QLabel(label, this));
        bounds->addWidget(box);
    }
    auto* zooms = new QHBoxLayout;
    zooms->addWidget(min_zoom_);
    zooms->addWidget(new QLabel(tr("to"), this));
    zooms->addWidget(max_zoom_);
    zooms->addStretch();

    auto* form = new QFormLayout;
    form->addRow(tr("&Archive:"), source_);
    form->addRow(tr("Bounds:"), bounds);
    form->addRow(tr("&Zooms:"), zooms);
    form->addRow(tr("&Save as:"), out_);

    size_ = plain_label({}, this, "size");
    progress_ = plain_label({}, this, "progress");
    outcome_ = plain_label({}, this, "outcome");
    outcome_->setWordWrap(true);
    bar_ = new QProgressBar(this);
    bar_->setObjectName("bar");
    bar_->setRange(0, 100);
    bar_->setValue(0);

    auto* buttons = new QDialogButtonBox(this);
    start_ = buttons->addButton(tr("&Start"), QDialogButtonBox::ActionRole);
    start_->setObjectName("start");
    cancel_ = buttons->addButton(tr("Cancel"), QDialogButtonBox::ActionRole);
    cancel_->setObjectName("cancel");
    cancel_->setEnabled(false);
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    connect(start_, &QPushButton::clicked, this, &RegionDialog::start);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (data_.cancel) data_.cancel();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(size_);
    layout->addWidget(progress_);
    layout->addWidget(bar_);
    layout->addWidget(outcome_);
    layout->addWidget(buttons);

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &RegionDialog::poll);
    timer_->start(kPollPeriodMs);
    poll();
}

RegionChoice RegionDialog::choice() const {
    RegionChoice c;
    c.source = source_->text().trimmed().toStdString();
    c.west = west_->value();
    c.south = south_->value();
    c.east = east_->value();
    c.north = north_->value();
    c.min_zoom = min_zoom_->value();
    c.max_zoom = max_zoom_->value();
    c.out = out_->text().trimmed().toStdString();
    return c;
}

void RegionDialog::start() {
    if (!data_.start) return;
    const std::string refused = data_.start(choice());
    outcome_->setText(QString::fromStdString(refused));
    if (refused.empty()) {
        size_->clear();
        progress_->clear();
        bar_->setValue(0);
    }
    poll();
}

void RegionDialog::poll() {
    if (!data_.poll) return;
    const RegionTexts t = data_.poll();
    if (!t.size.empty()) size_->setText(QString::fromStdString(t.size));
    if (!t.progress.empty()) progress_->setText(QString::fromStdString(t.progress));
    if (t.percent >= 0) bar_->setValue(t.percent);
    if (!t.outcome.empty()) outcome_->setText(QString::fromStdString(t.outcome));
    start_->setEnabled(!t.running);
    cancel_->setEnabled(t.running);
}

RegionDialog* open_region_dialog(QWidget* parent, RegionDialogData data) {
    if (parent)
        if (auto* open = parent->findChild<RegionDialog*>(kDialogName, Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return open;
        }
    auto* dialog = new RegionDialog(std::move(data), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

}  // namespace vg
