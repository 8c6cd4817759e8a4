// VorGlobal: the process entry. Makes the application, the main window and its window services, runs
// window creation in the working directory (which holds the settings files), shows the window and runs
// the event loop. On the way out the receiver link and the other threads end before the window
// services they use go away.
#include "ui/shell.h"  // first: it brings the core headers before Qt's

#include <QApplication>

#include "atlas/local_tiles.h"
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QString>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/help_text.h"
#include "resources/strings.h"
#include "ui/dialog_common.h"
#include "ui/main_window.h"
#include "ui/map_view.h"
#include "ui/qt_window.h"

namespace {

void print_line(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Queues the scripted steps on the window thread at their times.
bool schedule_script(const QString& path, vg::MainWindow& window, vg::App& app, const QElapsedTimer& clock) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "vorglobal: cannot read %s\n", path.toLocal8Bit().constData());
        return false;
    }
    std::string error;
    const auto steps = vg::parse_script(file.readAll().toStdString(), &error);
    if (!steps) {
        std::fprintf(stderr, "vorglobal: %s: %s\n", path.toLocal8Bit().constData(), error.c_str());
        return false;
    }
    for (const vg::ScriptStep& step : *steps) {
        QTimer::singleShot(step.at_ms, Qt::PreciseTimer, &window, [step, &window, &app, &clock] {
            switch (step.kind) {
            case vg::ScriptStep::Kind::Command: window.on_command_id(step.a); break;
            case vg::ScriptStep::Kind::Left: app.on_left_button(step.a, step.b); break;
            case vg::ScriptStep::Kind::Right: app.on_right_button(step.a, step.b); break;
            case vg::ScriptStep::Kind::Key: app.on_key_up(vg::key_for(step.a)); break;
            case vg::ScriptStep::Kind::Screenshot:
                if (!window.map_view()->grab().toImage().save(QString::fromStdString(step.path), "PNG"))
                    std::fprintf(stderr, "vorglobal: cannot write %s\n", step.path.c_str());
                break;
            }
            print_line(QStringLiteral("done %1 %2").arg(clock.elapsed()).arg(QString::fromStdString(step.text)));
        });
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer clock;
    clock.start();
    // Options first: a wrong one is reported even where no display can be opened.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (arguments.contains(QStringLiteral("--help"))) {
        std::fputs(vg::run_options_usage().toUtf8().constData(), stdout);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        std::printf("vorglobal %s\n", vg::help::version());
        return 0;
    }
    if (arguments.contains(QStringLiteral("--man-page"))) {
        std::fputs(vg::help::vorglobal_man_page().c_str(), stdout);
        return 0;
    }
    QString error;
    const std::optional<vg::RunOptions> options = vg::parse_run_options(arguments, &error);
    if (!options) {
        std::fprintf(stderr, "vorglobal: %s\nTry 'vorglobal --help' for the options.\n", error.toUtf8().constData());
        return 2;
    }

    QApplication application(argc, argv);
    // Qt gave the C library the user's locale; numbers go back to the decimal point, so that what the
    // libraries we call read and write (libcurl, libxml2, SQLite) keeps it. Qt's own formatting for
    // the window does not depend on this.
    std::setlocale(LC_NUMERIC, "C");
    // The built-in world map and Etopo2's relief are drawn here, wherever tiles are made.
    vg::atlas::install_local_tile_maker();
    const std::string_view caption = vg::res::load_string(vg::res::kStringCaption);
    QApplication::setApplicationName(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    QApplication::setWindowIcon(vg::program_icon());

    if (options->user_folder) {
        const std::filesystem::path folder = vg::user_data_folder();
        std::error_code made;
        std::filesystem::create_directories(folder, made);
        std::filesystem::current_path(folder, made);
        if (folder.empty() || made) {
            std::fprintf(stderr, "vorglobal: cannot work in %s\n", folder.c_str());
            return 1;
        }
    }

    // Made in this order and destroyed in the reverse one: the application (and with it the receiver
    // and server threads) goes before the window services those threads call.
    vg::MainWindow window;
    vg::QtWindow services(window);
    std::error_code cwd_error;
    vg::App app(std::filesystem::current_path(cwd_error));

    if (options->print_titles) {
        QObject::connect(&window, &QWidget::windowTitleChanged, &window,
                         [](const QString& title) { print_line(QStringLiteral("title ") + title); });
    }
    if (!options->screenshot.isEmpty()) {
        QObject::connect(window.map_view(), &vg::MapView::first_map_painted, &window, [&window, path = options->screenshot] {
            const bool saved = window.map_view()->grab().toImage().save(path, "PNG");
            print_line(QString::fromLatin1(saved ? "screenshot %1" : "screenshot failed %1").arg(path));
        });
    }
    if (!options->script.isEmpty() && !schedule_script(options->script, window, app, clock)) return 2;
    // The time may run out while a message box of window creation is open: close that too, and do
    // not start the event loop when the window is already gone.
    bool exit_requested = false;
    if (options->exit_after_ms >= 0)
        QTimer::singleShot(options->exit_after_ms, &window, [&window, &exit_requested] {
            exit_requested = true;
            for (int boxes = 0; boxes < 16; ++boxes) {
                QWidget* modal = QApplication::activeModalWidget();
                if (modal == nullptr || !modal->close()) break;
            }
            window.close();
        });

    vg::connect_app(window, services, app);
    app.create(services);
    int code = 0;
    if (!exit_requested) {
        window.show();
        code = QApplication::exec();
    }
    // The window has closed: free the window state (the link was closed on the way).
    app.on_destroy();
    return code;
}
