// Joins the application logic to the Qt window: paints ask App::paint() what to draw, the menu and the
// accelerators go to App::on_command(), mouse and keys to its input handlers, the timer to on_timer(),
// resizing to on_size() and closing to on_close(). Also the program's command-line options, among
// them a few for driving the program from scripts and tests (all harmless when unused).
#pragma once

#include "app/app.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vg {

class MainWindow;
class QtWindow;

// The key of a Qt key code as the application knows it.
Key key_for(int qt_key);

// Routes the window's events to `app`. The three objects must outlive the window's event loop.
void connect_app(MainWindow& window, QtWindow& services, App& app);

// One scripted step: at `at_ms` after start, a menu command (`a` = id), a left or right click at
// client point (a, b), a key release (`a` = Qt key code), or a screenshot of the client area into
// the PNG file `path`.
struct ScriptStep {
    enum class Kind { Command, Left, Right, Key, Screenshot };
    int at_ms = 0;
    Kind kind = Kind::Command;
    int a = 0;
    int b = 0;
    std::string path;
    std::string text;  // the line as written, echoed when the step has run
};

// Reads a script: one step per line, "MS command ID", "MS click X Y", "MS right X Y",
// "MS key left|up|right|down" or "MS screenshot FILE"; blank lines and lines starting with '#' are skipped. nullopt, with
// `error` naming the line, for anything else.
std::optional<std::vector<ScriptStep>> parse_script(const std::string& text, std::string* error);

struct RunOptions {
    QString screenshot;     // --screenshot FILE: the client area as PNG after the first map paint
    int exit_after_ms = -1;  // --exit-after MS: close the window after MS milliseconds
    QString script;         // --script FILE: scripted inputs (parse_script)
    bool print_titles = false;  // --print-titles: every new window title on standard output
    bool user_folder = false;   // --home: work in user_data_folder() instead of the current folder
};

// The folder a user's settings files and tile cache live in: $XDG_DATA_HOME/vorglobal, or
// $HOME/.local/share/vorglobal. Empty when neither variable is set.
std::filesystem::path user_data_folder();

// The options of `arguments` (without the program name). nullopt, with `error` set, for an unknown
// option or a missing or bad value.
std::optional<RunOptions> parse_run_options(const QStringList& arguments, QString* error);

// The usage text (`vorglobal --help`), from the option table the manual page is made from.
QString run_options_usage();

}  // namespace vg
