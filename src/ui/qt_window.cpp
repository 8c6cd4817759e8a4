#include "ui/qt_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QStandardPaths>
#include <QObject>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>

#include <cstdint>
#include <vector>

#include "ui/dialog_about.h"
#include "ui/dialog_fleet.h"
#include "ui/dialog_ntrip.h"
#include "ui/dialog_com_settings.h"
#include "ui/dialog_preferences.h"
#include "ui/dialog_profile.h"
#include "ui/dialog_region.h"
#include "ui/dialog_route.h"
#include "ui/dialog_trip.h"
#include "ui/dialog_ais_targets.h"
#include "ui/dialog_gps_monitor.h"
#include "ui/dialog_keys.h"
#include "ui/dialog_detect.h"
#include "ui/main_window.h"
#include "ui/map_view.h"
#include "ui/search_field.h"

namespace vg {

namespace {

int default_warning(QWidget* parent, const QString& caption, const QString& text) {
    return QMessageBox::warning(parent, caption, text);
}

bool valid_image(const std::uint8_t* bgr, int width, int height, int stride) {
    return bgr != nullptr && width >= 1 && height >= 1 &&
           static_cast<std::int64_t>(stride) >= 3 * static_cast<std::int64_t>(width);
}

}  // namespace

QtWindow::QtWindow(MainWindow& window)
    : window_(window), context_(std::make_unique<QObject>()), warning_function_(default_warning) {
    timer_ = new QTimer(context_.get());
    wake_ = new QTimer(context_.get());
    wake_->setSingleShot(true);
    QObject::connect(wake_, &QTimer::timeout, context_.get(), [this] { window_.map_view()->update(); });
}

QtWindow::~QtWindow() = default;

void QtWindow::set_warning_function(WarningFunction function) {
    warning_function_ = function ? std::move(function) : WarningFunction(default_warning);
}

bool QtWindow::on_window_thread() const { return QThread::currentThread() == window_.thread(); }

void QtWindow::run_on_window_thread(std::function<void()> work) {
    if (on_window_thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
}

QString QtWindow::to_qstring(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError()) return decoded;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void QtWindow::set_title(const std::string& title) {
    run_on_window_thread([this, text = to_qstring(title)] { window_.setWindowTitle(text); });
}

void QtWindow::enable_menu_item(Command id, bool enabled) {
    run_on_window_thread([this, id, enabled] {
        if (QAction* action = window_.menu_action(id)) action->setEnabled(enabled);
    });
}

void QtWindow::check_menu_item(Command id, bool checked) {
    run_on_window_thread([this, id, checked] { window_.set_item_checked(id, checked); });
}

void QtWindow::warning_box(const std::string& text, const std::string& caption) {
    run_on_window_thread([this, text = to_qstring(text), caption = to_qstring(caption)] {
        warning_function_(&window_, caption, text);
    });
}

void QtWindow::set_wait_cursor(bool on) {
    run_on_window_thread([this, on] {
        if (on) {
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            ++wait_cursor_depth_;
        } else if (wait_cursor_depth_ > 0) {
            QApplication::restoreOverrideCursor();
            --wait_cursor_depth_;
        }
    });
}

void QtWindow::invalidate(bool) {
    // The view paints every pixel it owns, so an invalidation with or without erase looks the same.
    run_on_window_thread([this] { window_.map_view()->update(); });
}

void QtWindow::set_client_size(int width, int height) {
    run_on_window_thread([this, width, height] { window_.set_client_size(width, height); });
}

void QtWindow::copy_image_to_clipboard(const std::uint8_t* bgr, int width, int height, int stride) {
    if (!valid_image(bgr, width, height, stride)) return;
    // Own copy of the pixels, taken before returning: the caller may change its bitmap right after.
    QImage image = QImage(bgr, width, height, stride, QImage::Format_BGR888).copy();
    if (image.isNull()) return;  // the copy could not be allocated
    run_on_window_thread([image = std::move(image)] { QGuiApplication::clipboard()->setImage(image); });
}

void QtWindow::start_timer(int period_ms) {
    constexpr int kMinimumPeriod = 10;
    const int period = period_ms < kMinimumPeriod ? kMinimumPeriod : period_ms;
    run_on_window_thread([this, period] { timer_->start(period); });
}

void QtWindow::repaint_after(int ms) {
    constexpr int kShortestWait = 10;
    const int wait = ms < kShortestWait ? kShortestWait : ms;
    run_on_window_thread([this, wait] { wake_->start(wait); });
}

// Dialogs: wired to the dialog implementations as they are added.
void QtWindow::close_window() {
    run_on_window_thread([this] { window_.close(); });
}

// A modal dialog runs on the window thread only: from another thread the COM settings are refused
// (nothing changes) and the Keys and About dialogs are queued.
bool QtWindow::run_com_settings_dialog(ComSettings& settings) {
    if (!on_window_thread()) return false;
    return vg::run_com_settings_dialog(&window_, settings);
}

void QtWindow::open_gps_monitor(std::function<MonitorTexts()> poll) {
    run_on_window_thread([this, poll = std::move(poll)]() mutable { vg::open_gps_monitor(&window_, std::move(poll)); });
}

void QtWindow::run_keys_dialog() {
    run_on_window_thread([this] { vg::run_keys_dialog(&window_); });
}

void QtWindow::run_about_dialog(const std::string& version_line, const std::string& system_line) {
    run_on_window_thread([this, version = to_qstring(version_line), system = to_qstring(system_line)] {
        vg::run_about_dialog(&window_, version, system);
    });
}

// File dialogs run on the window thread, where the menu commands that ask for them arrive. They start
// in the user's documents folder (the program's own folder holds settings and cache, not the user's files).
static QString documents_folder() { return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation); }

std::string QtWindow::choose_file_to_open(const std::string& title, const std::string& filter) {
    const QString path =
        QFileDialog::getOpenFileName(&window_, QObject::tr(title.c_str()), documents_folder(), to_qstring(filter));
    return path.toStdString();
}

std::string QtWindow::choose_file_to_save(const std::string& title, const std::string& filter,
                                          const std::string& suggested) {
    const QString start = QDir(documents_folder()).filePath(to_qstring(suggested));
    const QString path = QFileDialog::getSaveFileName(&window_, QObject::tr(title.c_str()), start, to_qstring(filter));
    return path.toStdString();
}

void QtWindow::add_map_source_item(const std::string& name, Command id) { window_.add_source_item(name, id); }

void QtWindow::set_status_bar(std::optional<bool> on) {
    run_on_window_thread([this, on] { window_.set_status_mode(on); });
}

bool QtWindow::status_bar_shown() const { return window_.status_bar_shown(); }

void QtWindow::show_detect_results(const DetectTexts& texts) {
    run_on_window_thread([this, texts] { window_.detect_dialog()->show_texts(texts); });
}

void QtWindow::open_region_dialog(RegionDialogData data) {
    run_on_window_thread([this, data = std::move(data)]() mutable { vg::open_region_dialog(&window_, std::move(data)); });
}

void QtWindow::open_ais_targets_dialog(std::function<std::vector<AisTargetRow>()> poll) {
    run_on_window_thread(
        [this, poll = std::move(poll)]() mutable { vg::open_ais_targets_dialog(&window_, std::move(poll)); });
}

void QtWindow::open_ntrip_dialog(NtripDialogData data) {
    run_on_window_thread([this, data = std::move(data)]() mutable { vg::open_ntrip_dialog(&window_, std::move(data)); });
}

void QtWindow::open_fleet_dialog(FleetDialogData data) {
    run_on_window_thread([this, data = std::move(data)]() mutable { vg::open_fleet_dialog(&window_, std::move(data)); });
}

void QtWindow::open_trip_dialog(TripDialogData data) {
    run_on_window_thread([this, data = std::move(data)]() mutable { vg::open_trip_dialog(&window_, std::move(data)); });
}

void QtWindow::open_profile_dialog(ProfileDialogData data) {
    run_on_window_thread([this, data = std::move(data)]() mutable { vg::open_profile_dialog(&window_, std::move(data)); });
}

void QtWindow::open_search_field(SearchFieldData data) {
    run_on_window_thread(
        [this, data = std::move(data)]() mutable { vg::open_search_field(window_.map_view(), std::move(data)); });
}

void QtWindow::show_search_results(const SearchTexts& texts) {
    run_on_window_thread([this, texts] {
        if (auto* field = window_.map_view()->findChild<SearchField*>("search_field", Qt::FindDirectChildrenOnly))
            field->show_texts(texts);
    });
}

void QtWindow::open_route_dialog(RouteDialogData data) {
    run_on_window_thread([this, data = std::move(data)]() mutable { vg::open_route_dialog(&window_, std::move(data)); });
}

void QtWindow::open_routing_data_dialog(RoutingDataDialogData data) {
    run_on_window_thread(
        [this, data = std::move(data)]() mutable { vg::open_routing_data_dialog(&window_, std::move(data)); });
}

std::optional<std::size_t> QtWindow::choose_from_menu(const std::vector<std::string>& items) {
    if (!on_window_thread()) return std::nullopt;
    QMenu menu(&window_);
    for (std::size_t i = 0; i < items.size(); ++i) menu.addAction(to_qstring(items[i]))->setData(static_cast<int>(i));
    const QAction* chosen = menu.exec(QCursor::pos());
    if (!chosen) return std::nullopt;
    return static_cast<std::size_t>(chosen->data().toInt());
}

void QtWindow::set_map_source_items(const std::vector<std::pair<std::string, Command>>& sources) {
    window_.set_source_items(sources);
}

bool QtWindow::run_preferences_dialog(PreferencesDialogData& data) {
    if (!on_window_thread()) return false;
    return vg::run_preferences_dialog(&window_, data);
}

}  // namespace vg
