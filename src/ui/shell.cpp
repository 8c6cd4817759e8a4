#include "ui/shell.h"

#include <QObject>
#include <QTimer>

#include <sstream>

#include "app/help_text.h"
#include "app/toolbar_layout.h"
#include "ui/main_window.h"
#include "ui/dialog_detect.h"
#include "ui/map_view.h"
#include "ui/status_panel.h"
#include "ui/qt_window.h"

namespace vg {

Key key_for(int qt_key) {
    switch (qt_key) {
    case Qt::Key_Left: return Key::Left;
    case Qt::Key_Up: return Key::Up;
    case Qt::Key_Right: return Key::Right;
    case Qt::Key_Down: return Key::Down;
    default: return Key::Other;
    }
}

void connect_app(MainWindow& window, QtWindow& services, App& app) {
    // The catalogue sources beyond the five originals follow them in the Maps menu.
    for (const CatalogueEntry* e : app.catalogue().sources())
        if (!e->original && !e->is_dem()) window.add_source_item(e->name, e->menu_id);
    MapView* view = window.map_view();
    // Each paint's frame also carries the status bar's fields.
    StatusPanel* status = window.status_panel();
    view->set_frame_source([&app, status] {
        PaintFrame frame = app.paint();
        status->show_status(frame.status, frame.offer_detect);
        return frame;
    });
    // Detect: offered beside the message line and in the status bar; its list says what was chosen.
    QObject::connect(view, &MapView::detect_requested, &window, [&window] { window.on_command(Command::DetectReceiver); });
    QObject::connect(window.detect_dialog(), &DetectDialog::chosen, &window,
                     [&app](int index) { app.choose_detected(static_cast<std::size_t>(index)); });
    QObject::connect(window.detect_dialog(), &DetectDialog::closed, &window, [&app] { app.cancel_detect(); });
    // Sharp map cells on a screen of twice the pixel density, from the first view on.
    app.set_device_scale(MapView::device_scale_of(view->devicePixelRatioF()));
    QObject::connect(view, &MapView::device_scale_changed, view, [&app](int scale) { app.set_device_scale(scale); });
    QObject::connect(view, &MapView::mouse_pressed, view, [&app](MapView::MouseButton button, int x, int y) {
        if (button == MapView::MouseButton::Left)
            app.on_left_button(x, y);
        else
            app.on_right_button(x, y);
    });
    QObject::connect(view, &MapView::mouse_moved, view, [&app](int x, int y) { app.on_mouse_move(x, y); });
    QObject::connect(view, &MapView::dragged, view, [&app](int dx, int dy) { app.on_drag(dx, dy); });
    // The route: its line dragged to a via-point, the context menu's Route from/to here.
    view->set_line_test([&app](int x, int y) { return app.route_line_at(x, y); });
    QObject::connect(view, &MapView::route_dragged, view,
                     [&app](int x0, int y0, int x1, int y1) { app.on_route_drag(x0, y0, x1, y1); });
    QObject::connect(view, &MapView::context_menu_requested, view, [&app](int x, int y) { app.on_context_menu(x, y); });
    QObject::connect(view, &MapView::wheel_turned, view, [&app](int steps, int x, int y) { app.on_wheel(steps, x, y); });
    // + and - zoom around the middle of the map area.
    QObject::connect(&window, &MainWindow::zoom_key_pressed, view, [&app, view](int step) {
        app.on_wheel(step, MapView::kMapLeft + (view->width() - toolbar::kFrameWidth) / 2,
                     MapView::kMapTop + (view->height() - toolbar::kBandAndFrameHeight) / 2);
    });
    QObject::connect(view, &MapView::key_released, view, [&app](int key) { app.on_key_up(key_for(key)); });
    QObject::connect(view, &MapView::resized, view, [&app](int width, int height) { app.on_size(width, height); });
    QObject::connect(&window, &MainWindow::command_chosen, &window, [&app](Command id) { app.on_command(id); });
    QObject::connect(&window, &MainWindow::close_requested, &window, [&app] { app.on_close(); });
    QObject::connect(services.timer(), &QTimer::timeout, &window, [&app] { app.on_timer(); });
}

std::optional<std::vector<ScriptStep>> parse_script(const std::string& text, std::string* error) {
    std::vector<ScriptStep> steps;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&](const char* why) -> std::optional<std::vector<ScriptStep>> {
        if (error) *error = "line " + std::to_string(number) + ": " + why;
        return std::nullopt;
    };
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::istringstream in(line);
        ScriptStep step;
        std::string kind;
        if (!(in >> step.at_ms >> kind) || step.at_ms < 0) return fail("expected a time in ms and a step");
        if (kind == "command") {
            step.kind = ScriptStep::Kind::Command;
            if (!(in >> step.a)) return fail("expected a command id");
        } else if (kind == "click" || kind == "right") {
            step.kind = kind == "click" ? ScriptStep::Kind::Left : ScriptStep::Kind::Right;
            if (!(in >> step.a >> step.b)) return fail("expected x and y");
        } else if (kind == "key") {
            step.kind = ScriptStep::Kind::Key;
            std::string name;
            in >> name;
            if (name == "left") step.a = Qt::Key_Left;
            else if (name == "up") step.a = Qt::Key_Up;
            else if (name == "right") step.a = Qt::Key_Right;
            else if (name == "down") step.a = Qt::Key_Down;
            else return fail("expected left, up, right or down");
        } else if (kind == "screenshot") {
            step.kind = ScriptStep::Kind::Screenshot;
            if (!(in >> step.path)) return fail("expected a file name");
        } else {
            return fail("unknown step");
        }
        std::string rest;
        if (in >> rest) return fail("unexpected text after the step");
        step.text = line.substr(first);
        steps.push_back(std::move(step));
    }
    return steps;
}

std::optional<RunOptions> parse_run_options(const QStringList& arguments, QString* error) {
    RunOptions options;
    auto fail = [&](const QString& why) -> std::optional<RunOptions> {
        if (error) *error = why;
        return std::nullopt;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == QLatin1String("--print-titles")) {
            options.print_titles = true;
            continue;
        }
        if (option == QLatin1String("--home")) {
            options.user_folder = true;
            continue;
        }
        if (!help::vorglobal_option_takes_value(option.toStdString()))
            return fail(QStringLiteral("unknown option %1").arg(option));
        if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
            return fail(QStringLiteral("%1 needs a value").arg(option));
        const QString& value = arguments[++i];
        if (option == QLatin1String("--screenshot")) {
            options.screenshot = value;
        } else if (option == QLatin1String("--script")) {
            options.script = value;
        } else {
            bool ok = false;
            const int ms = value.toInt(&ok);
            if (!ok || ms < 0) return fail(QStringLiteral("--exit-after needs milliseconds, not %1").arg(value));
            options.exit_after_ms = ms;
        }
    }
    return options;
}

std::filesystem::path user_data_folder() {
#ifdef Q_OS_WIN
    // %APPDATA%\VorGlobal, the roaming application data of the user.
    const QString app_data = qEnvironmentVariable("APPDATA");
    if (!app_data.isEmpty()) return std::filesystem::path(app_data.toStdWString()) / L"VorGlobal";
#else
    const QByteArray data_home = qgetenv("XDG_DATA_HOME");
    if (!data_home.isEmpty()) return std::filesystem::path(data_home.toStdString()) / "vorglobal";
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty()) return std::filesystem::path(home.toStdString()) / ".local/share/vorglobal";
#endif
    return {};
}

QString run_options_usage() { return QString::fromStdString(help::vorglobal_usage()); }

}  // namespace vg
