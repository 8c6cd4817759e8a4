#include "ui/dialog_profile.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "ui/dialog_common.h"

namespace vg {
namespace {

constexpr const char* kDialogName = "profile_dialog";
// Exported pictures have this size, whatever the dialog's.
constexpr QSize kExportSize(1200, 500);

}  // namespace

ProfileView::ProfileView(QWidget* parent) : QWidget(parent) {
    setObjectName("plot");
    setMouseTracking(true);
    setMinimumSize(480, 240);
}

void ProfileView::set_profile(std::shared_ptr<const Profile> profile, plot::ChartOptions options) {
    chart_.reset();  // it refers to the profile being replaced
    profile_ = std::move(profile);
    options_ = std::move(options);
    set_cursor(std::nullopt);
    remake();
}

void ProfileView::set_options(plot::ChartOptions options) {
    options_ = std::move(options);
    set_cursor(std::nullopt);
    remake();
}

void ProfileView::remake() {
    chart_.reset();
    if (profile_) chart_ = std::make_unique<plot::ProfileChart>(*profile_, options_, size());
    update();
}

void ProfileView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (chart_) chart_->draw(painter, cursor_);
}

void ProfileView::resizeEvent(QResizeEvent*) { remake(); }

void ProfileView::mouseMoveEvent(QMouseEvent* event) {
    set_cursor(chart_ ? chart_->point_at(event->position().x()) : std::nullopt);
}

void ProfileView::leaveEvent(QEvent*) { set_cursor(std::nullopt); }

void ProfileView::set_cursor(std::optional<std::size_t> point) {
    if (point == cursor_) return;
    cursor_ = point;
    update();
    Q_EMIT hovered(point);
}

ProfileDialog::ProfileDialog(ProfileDialogData data, QWidget* parent) : QDialog(parent) {
    setObjectName(kDialogName);
    setWindowIcon(program_icon());
    setModal(false);

    quantity_ = new QComboBox(this);
    quantity_->setObjectName("quantity");
    quantity_->addItem(tr("Elevation"));
    quantity_->addItem(tr("Speed"));
    axis_ = new QComboBox(this);
    axis_->setObjectName("axis");
    axis_->addItem(tr("Distance"));
    axis_->addItem(tr("Time"));
    view_ = new ProfileView(this);

    auto* choices = new QHBoxLayout;
    auto* show = new QLabel(tr("&Show:"), this);
    show->setBuddy(quantity_);
    auto* against = new QLabel(tr("&against:"), this);
    against->setBuddy(axis_);
    choices->addWidget(show);
    choices->addWidget(quantity_);
    choices->addWidget(against);
    choices->addWidget(axis_);
    choices->addStretch();

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* png = buttons->addButton(tr("Export &PNG..."), QDialogButtonBox::ActionRole);
    png->setObjectName("export_png");
    QPushButton* svg = buttons->addButton(tr("Export S&VG..."), QDialogButtonBox::ActionRole);
    svg->setObjectName("export_svg");
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    connect(png, &QPushButton::clicked, this, [this] { export_chosen(false); });
    connect(svg, &QPushButton::clicked, this, [this] { export_chosen(true); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(quantity_, &QComboBox::currentIndexChanged, this, &ProfileDialog::choices_changed);
    connect(axis_, &QComboBox::currentIndexChanged, this, &ProfileDialog::choices_changed);
    connect(view_, &ProfileView::hovered, this, &ProfileDialog::highlight);
    // Closed (Close, the close box, Escape): the map's mark goes. Not from the destructor, which may
    // run when App is already gone.
    connect(this, &QDialog::finished, this, [this] { highlight(std::nullopt); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choices);
    layout->addWidget(view_, 1);
    layout->addWidget(buttons);
    resize(760, 420);
    set_data(std::move(data));
}

void ProfileDialog::set_data(ProfileDialogData data) {
    if (data_.highlight) data_.highlight(std::nullopt);
    data_ = std::move(data);
    setWindowTitle(tr("Profile - %1").arg(QString::fromStdString(data_.track_name)));
    plot::ChartOptions options = view_->options();
    options.units = plot::units_from_speed_setting(data_.speed_setting);
    options.title = data_.track_name;
    view_->set_profile(data_.profile, options);
    choices_changed();
}

void ProfileDialog::choices_changed() {
    plot::ChartOptions options = view_->options();
    options.quantity = quantity_->currentIndex() == 1 ? plot::Quantity::speed : plot::Quantity::elevation;
    options.axis = axis_->currentIndex() == 1 ? ProfileAxis::time : ProfileAxis::distance;
    view_->set_options(options);
}

void ProfileDialog::highlight(std::optional<std::size_t> point) {
    if (!data_.highlight) return;
    if (!point || !data_.profile || *point >= data_.profile->points.size()) {
        data_.highlight(std::nullopt);
        return;
    }
    const ProfilePoint& p = data_.profile->points[*point];
    data_.highlight(std::pair{p.latitude, p.longitude});
}

std::string ProfileDialog::export_to(const std::string& path, QSize size) const {
    if (!data_.profile) return "there is no track";
    const plot::ProfileChart chart(*data_.profile, view_->options(), size);
    std::string error;
    const bool svg = QString::fromStdString(path).endsWith(".svg", Qt::CaseInsensitive);
    if (svg ? plot::write_chart_svg(chart, path, error) : plot::write_chart_png(chart, path, error)) return {};
    return error;
}

void ProfileDialog::export_chosen(bool svg) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name = folder + "/profile" + (svg ? ".svg" : ".png");
    const QString chosen = QFileDialog::getSaveFileName(this, svg ? tr("Export SVG") : tr("Export PNG"), name,
                                                        svg ? tr("SVG pictures (*.svg)") : tr("PNG pictures (*.png)"));
    if (chosen.isEmpty()) return;
    const std::string error = export_to(chosen.toStdString(), kExportSize);
    if (!error.empty()) QMessageBox::warning(this, "VorGlobal", QString::fromStdString(error));
}

ProfileDialog* open_profile_dialog(QWidget* parent, ProfileDialogData data) {
    if (parent)
        if (auto* open = parent->findChild<ProfileDialog*>(kDialogName, Qt::FindDirectChildrenOnly)) {
            open->set_data(std::move(data));
            open->raise();
            open->activateWindow();
            return open;
        }
    auto* dialog = new ProfileDialog(std::move(data), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

}  // namespace vg
