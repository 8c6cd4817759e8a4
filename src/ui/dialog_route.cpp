#include "ui/dialog_route.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/dialog_common.h"
#include "ui/qt_window.h"

namespace vg {
namespace {

constexpr const char* kRouteName = "route_dialog";
constexpr const char* kRoutingDataName = "routing_data_dialog";

QPushButton* named_button(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

template <class Dialog, class Data>
Dialog* open_or_raise(QWidget* parent, Data data, const char* name) {
    if (parent)
        if (auto* open = parent->findChild<Dialog*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly)) {
            open->raise();
            open->activateWindow();
            return open;
        }
    auto* dialog = new Dialog(std::move(data), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

// A refusal of a hook ("" when it began) in a box over the dialog.
void tell(QWidget* parent, const std::string& refusal) {
    if (!refusal.empty()) QMessageBox::warning(parent, QStringLiteral("VorGlobal"), QtWindow::to_qstring(refusal));
}

}  // namespace

RouteDialog::RouteDialog(RouteDialogData data, QWidget* parent) : QDialog(parent), data_(std::move(data)) {
    setWindowTitle(tr("Route"));
    setObjectName(QString::fromLatin1(kRouteName));
    setModal(false);
    from_ = plain_label({}, this, QStringLiteral("from"));
    to_ = plain_label({}, this, QStringLiteral("to"));
    summary_ = plain_label({}, this, QStringLiteral("summary"));
    profile_ = new QComboBox(this);
    profile_->setObjectName(QStringLiteral("profile"));
    profile_->addItem(tr("Car"), QStringLiteral("car"));
    profile_->addItem(tr("Bicycle"), QStringLiteral("bicycle"));
    profile_->addItem(tr("Foot"), QStringLiteral("foot"));
    auto* form = new QFormLayout;
    form->addRow(tr("From:"), from_);
    form->addRow(tr("To:"), to_);
    form->addRow(tr("Profile:"), profile_);
    form->addRow(tr("Route:"), summary_);
    turns_ = new QTreeWidget(this);
    turns_->setObjectName(QStringLiteral("turns"));
    turns_->setHeaderLabels({tr("Street"), tr("Direction"), tr("Distance")});
    turns_->setRootIsDecorated(false);
    turns_->header()->setStretchLastSection(false);
    turns_->header()->setSectionResizeMode(0, QHeaderView::Stretch);

    export_ = named_button(tr("&Export GPX..."), "export", this);
    auto* open = named_button(tr("&Open GPX Route..."), "open", this);
    auto* clear = named_button(tr("C&lear"), "clear", this);
    auto* close = named_button(tr("Close"), "close", this);
    connect(profile_, &QComboBox::activated, this, [this](int index) {
        if (data_.profile) data_.profile(profile_->itemData(index).toString().toStdString());
        poll();
    });
    connect(export_, &QPushButton::clicked, this, [this] {
        if (data_.export_gpx) data_.export_gpx();
    });
    connect(open, &QPushButton::clicked, this, [this] {
        if (data_.open_gpx) data_.open_gpx();
        poll();
    });
    connect(clear, &QPushButton::clicked, this, [this] {
        if (data_.clear) data_.clear();
        poll();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(export_);
    buttons->addWidget(open);
    buttons->addWidget(clear);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(turns_, 1);
    layout->addLayout(buttons);
    resize(420, 420);

    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &RouteDialog::poll);
    timer->start(kPollPeriodMs);
    poll();
}

void RouteDialog::poll() {
    if (!data_.poll) return;
    const RouteTexts t = data_.poll();
    from_->setText(QtWindow::to_qstring(t.from));
    to_->setText(QtWindow::to_qstring(t.to));
    summary_->setText(QtWindow::to_qstring(t.summary));
    if (const int i = profile_->findData(QtWindow::to_qstring(t.profile)); i >= 0) profile_->setCurrentIndex(i);
    export_->setEnabled(t.has_route);
    // Rows are made again only when the list changed, so that a selection survives the refresh.
    bool same = turns_->topLevelItemCount() == static_cast<int>(t.turns.size());
    for (int i = 0; same && i < turns_->topLevelItemCount(); ++i)
        for (int c = 0; c < 3; ++c) same = same && turns_->topLevelItem(i)->text(c) == QtWindow::to_qstring(t.turns[i][c]);
    if (same) return;
    turns_->clear();
    for (const auto& row : t.turns)
        new QTreeWidgetItem(turns_, {QtWindow::to_qstring(row[0]), QtWindow::to_qstring(row[1]), QtWindow::to_qstring(row[2])});
}

RoutingDataDialog::RoutingDataDialog(RoutingDataDialogData data, QWidget* parent)
    : QDialog(parent), data_(std::move(data)) {
    setWindowTitle(tr("Routing Data"));
    setObjectName(QString::fromLatin1(kRoutingDataName));
    setModal(false);
    regions_ = new QListWidget(this);
    regions_->setObjectName(QStringLiteral("regions"));
    regions_->setSelectionMode(QAbstractItemView::NoSelection);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    stage_ = plain_label({}, this, QStringLiteral("stage"));
    outcome_ = plain_label({}, this, QStringLiteral("outcome"));
    region_ = new QLineEdit(this);
    region_->setObjectName(QStringLiteral("region"));
    region_->setPlaceholderText(tr("region name, such as monaco"));
    from_file_ = named_button(tr("From &File..."), "from_file", this);
    download_ = named_button(tr("&Download"), "download", this);
    cancel_ = named_button(tr("Cancel"), "cancel", this);
    auto* close = named_button(tr("Close"), "close", this);
    connect(from_file_, &QPushButton::clicked, this, [this] {
        if (data_.from_file) tell(this, data_.from_file());
        poll();
    });
    connect(download_, &QPushButton::clicked, this, [this] {
        if (data_.download) tell(this, data_.download(region_->text().trimmed().toStdString()));
        poll();
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (data_.cancel) data_.cancel();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plain_label(tr("Regions with routing data:"), this));
    layout->addWidget(regions_, 1);
    auto* download_row = new QHBoxLayout;
    download_row->addWidget(region_, 1);
    download_row->addWidget(download_);
    layout->addLayout(download_row);
    layout->addWidget(progress_);
    layout->addWidget(stage_);
    layout->addWidget(outcome_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(from_file_);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &RoutingDataDialog::poll);
    timer->start(kPollPeriodMs);
    poll();
}

void RoutingDataDialog::poll() {
    if (!data_.poll) return;
    const RoutingDataTexts t = data_.poll();
    QStringList names;
    for (const std::string& r : t.regions) names << QtWindow::to_qstring(r);
    QStringList shown;
    for (int i = 0; i < regions_->count(); ++i) shown << regions_->item(i)->text();
    if (names != shown) {
        regions_->clear();
        regions_->addItems(names);
    }
    progress_->setRange(0, t.running && t.percent < 0 ? 0 : 100);  // busy while the share is unknown
    progress_->setValue(t.percent < 0 ? 0 : t.percent);
    stage_->setText(QtWindow::to_qstring(t.progress));
    outcome_->setText(QtWindow::to_qstring(t.outcome));
    region_->setEnabled(t.can_download && !t.running);
    download_->setEnabled(t.can_download && !t.running);
    from_file_->setEnabled(!t.running);
    cancel_->setEnabled(t.running);
}

RouteDialog* open_route_dialog(QWidget* parent, RouteDialogData data) {
    return open_or_raise<RouteDialog>(parent, std::move(data), kRouteName);
}

RoutingDataDialog* open_routing_data_dialog(QWidget* parent, RoutingDataDialogData data) {
    return open_or_raise<RoutingDataDialog>(parent, std::move(data), kRoutingDataName);
}

}  // namespace vg
