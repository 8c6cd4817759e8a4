// The window services of the application logic, carried out on the Qt main window.
//
// Threads: every method may be called from any thread. On the window (GUI) thread it acts at once.
// From another thread it posts the work to the window thread and returns without waiting (texts and
// pixels are copied first); no call waits for the window thread.
//
// The QtWindow is made and destroyed on the window thread, the latter after every other thread that
// uses it has ended.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/window.h"

class QObject;
class QTimer;
class QWidget;

namespace vg {

class MainWindow;

class QtWindow : public Window {
public:
    // Shows a warning box over `parent` and returns the button code; the default is
    // QMessageBox::warning with an OK button. Tests inject one that records and returns at once.
    using WarningFunction = std::function<int(QWidget* parent, const QString& caption, const QString& text)>;

    // Works on `window`, which must outlive the QtWindow.
    explicit QtWindow(MainWindow& window);
    ~QtWindow() override;
    QtWindow(const QtWindow&) = delete;
    QtWindow& operator=(const QtWindow&) = delete;

    void set_warning_function(WarningFunction function);
    // The window timer that start_timer() (re)starts: the shell connects its timeout() signal to the
    // application's timer handler (it fires on the window thread).
    QTimer* timer() const { return timer_; }

    void set_title(const std::string& title) override;
    void enable_menu_item(Command id, bool enabled) override;
    void check_menu_item(Command id, bool checked) override;
    void warning_box(const std::string& text, const std::string& caption = "VorGlobal") override;
    // Balanced on/off pairs nest; an "off" without a matching "on" does nothing.
    void set_wait_cursor(bool on) override;
    void invalidate(bool erase) override;
    // Sizes below 1 are ignored.
    void set_client_size(int width, int height) override;
    // Copies the pixels; nothing is put on the clipboard when the description is inconsistent (null
    // pixels, a size below 1, a stride shorter than 3 * width).
    void copy_image_to_clipboard(const std::uint8_t* bgr, int width, int height, int stride) override;
    // (Re)starts the single window timer; periods below 10 ms run at 10 ms.
    void start_timer(int period_ms) override;
    // One map repaint after `ms` (at least 10 ms); a later call restarts the wait.
    void repaint_after(int ms) override;
    void close_window() override;
    bool run_com_settings_dialog(ComSettings& settings) override;
    void open_gps_monitor(std::function<MonitorTexts()> poll) override;
    void run_keys_dialog() override;
    void run_about_dialog(const std::string& version_line, const std::string& system_line) override;
    std::string choose_file_to_open(const std::string& title, const std::string& filter) override;
    std::string choose_file_to_save(const std::string& title, const std::string& filter,
                                    const std::string& suggested) override;
    void add_map_source_item(const std::string& name, Command id) override;
    void set_status_bar(std::optional<bool> on) override;
    // On the window thread only (App asks from its command handler).
    bool status_bar_shown() const override;
    void show_detect_results(const DetectTexts& texts) override;
    void open_region_dialog(RegionDialogData data) override;
    void open_trip_dialog(TripDialogData data) override;
    void open_ais_targets_dialog(std::function<std::vector<AisTargetRow>()> poll) override;
    void open_fleet_dialog(FleetDialogData data) override;
    void open_ntrip_dialog(NtripDialogData data) override;
    void open_profile_dialog(ProfileDialogData data) override;
    void open_search_field(SearchFieldData data) override;
    void show_search_results(const SearchTexts& texts) override;
    void open_route_dialog(RouteDialogData data) override;
    void open_routing_data_dialog(RoutingDataDialogData data) override;
    std::optional<std::size_t> choose_from_menu(const std::vector<std::string>& items) override;
    void set_map_source_items(const std::vector<std::pair<std::string, Command>>& sources) override;
    bool run_preferences_dialog(PreferencesDialogData& data) override;

    // Texts from the application logic are UTF-8; a text that is not valid UTF-8 is read as Latin-1
    // (a degree sign written as the single byte 176 stays a degree sign).
    static QString to_qstring(const std::string& text);

private:
    bool on_window_thread() const;
    // Runs `work` on the window thread: now when called there, else queued.
    void run_on_window_thread(std::function<void()> work);

    MainWindow& window_;
    // Receiver of queued calls; deleting it drops calls still queued.
    std::unique_ptr<QObject> context_;
    QTimer* timer_ = nullptr;  // child of context_
    QTimer* wake_ = nullptr;   // single shot of repaint_after(); child of context_
    WarningFunction warning_function_;
    int wait_cursor_depth_ = 0;
};

}  // namespace vg
