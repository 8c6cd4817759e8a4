#include "ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QIcon>
#include <QKeySequence>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QString>

#include <algorithm>
#include <utility>

#include "resources/menu_resource.h"
#include "resources/strings.h"
#include "ui/map_view.h"

// The resources are compiled into the static ui library; this reference makes the linker keep them.
static void init_window_resources() { Q_INIT_RESOURCE(resources); }

namespace vg {

namespace {

QString from_view(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainWindow::MainWindow(bool big_maps, QWidget* parent) : QMainWindow(parent) {
    setObjectName(from_view(res::kClassName));
    setWindowTitle(from_view(res::kInitialTitle));
    init_window_resources();
    setWindowIcon(QIcon(QStringLiteral(":/vorglobal/icon.xpm")));
    view_ = new MapView(this);
    setCentralWidget(view_);
    build_menu();
    build_accelerators();
    build_zoom_keys();
    // The window opens around a client area of the Big Maps or small size and can then be resized
    // and maximised; the map area takes the space.
    set_client_size(big_maps ? MapView::kBigWidth : MapView::kSmallWidth,
                    big_maps ? MapView::kBigHeight : MapView::kSmallHeight);
    view_->setFocus();
}

MainWindow::~MainWindow() = default;

void MainWindow::build_menu() {
    // An in-window menu bar, so the client area sits at the same place on every desktop.
    menuBar()->setNativeMenuBar(false);
    for (const res::MenuPopup& popup : res::kMainMenu) {
        QMenu* menu = menuBar()->addMenu(from_view(popup.text));
        if (popup.items.data() == res::kMapsItems) maps_menu_ = menu;
        for (const res::MenuItem& item : popup.items) {
            if (!item.id) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(from_view(item.text));
            action->setData(command_id(*item.id));
            // The desktop's standard keys beside the program's own: Ctrl+C copies the map, Ctrl+Q
            // quits, F5 reloads the map.
            if (item.id == Command::Copy) action->setShortcut(QKeySequence::Copy);
            if (item.id == Command::Exit) action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
            if (item.id == Command::ReloadMap) action->setShortcut(QKeySequence(Qt::Key_F5));
            if (item.checked) {
                action->setCheckable(true);
                action->setChecked(true);
            }
            const Command id = *item.id;
            connect(action, &QAction::triggered, this, [this, action, id](bool checked) {
                // Choosing an item never changes its check mark by itself: Qt has just toggled a
                // checkable item, so put the mark back; the command sets it when it means to.
                if (action->isCheckable()) action->setChecked(!checked);
                on_command(id);
            });
            actions_[id] = action;
        }
    }
}

void MainWindow::add_source_item(const std::string& name, Command id) {
    if (maps_menu_ == nullptr || actions_.count(id)) return;
    QAction* action = maps_menu_->addAction(QString::fromStdString(name));
    action->setData(command_id(id));
    connect(action, &QAction::triggered, this, [this, action, id](bool checked) {
        if (action->isCheckable()) action->setChecked(!checked);
        on_command(id);
    });
    actions_[id] = action;
}

void MainWindow::build_accelerators() {
    for (const res::Accelerator& accelerator : res::kAccelerators) {
        const Qt::Key key = accelerator.key == res::AcceleratorKey::PageUp ? Qt::Key_PageUp : Qt::Key_PageDown;
        const QKeySequence sequence(accelerator.shift ? QKeyCombination(Qt::ShiftModifier, key) : QKeyCombination(key));
        // Separate shortcuts rather than menu-item shortcuts: the menu texts carry no key names.
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        const Command id = accelerator.id;
        connect(shortcut, &QShortcut::activated, this, [this, id] {
            // A greyed menu item also disables its accelerator.
            if (QAction* action = menu_action(id); action != nullptr && !action->isEnabled()) return;
            on_command(id);
        });
    }
}

void MainWindow::build_zoom_keys() {
    // + and - (with or without Ctrl, on the main keys or the keypad) zoom in and out one level.
    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence(Qt::Key_Plus), 1},           {QKeySequence(Qt::Key_Equal), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), 1}, {QKeySequence(Qt::CTRL | Qt::Key_Equal), 1},
        {QKeySequence(Qt::Key_Minus), -1},          {QKeySequence(Qt::CTRL | Qt::Key_Minus), -1},
        {QKeySequence(Qt::KeypadModifier | Qt::Key_Plus), 1},
        {QKeySequence(Qt::KeypadModifier | Qt::Key_Minus), -1},
    };
    for (const auto& [sequence, step] : keys) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, step = step] {
            if (zoom_key_handler_) zoom_key_handler_(step);
        });
    }
}

QAction* MainWindow::menu_action(Command id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::on_command(Command id) {
    if (handler_) handler_(id);
}

void MainWindow::on_command_id(int id) {
    if (const std::optional<Command> command = command_from_id(id)) on_command(*command);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (close_handler_) close_handler_();
    QMainWindow::closeEvent(event);
}

void MainWindow::set_client_size(int width, int height) {
    if (width < 1 || height < 1) return;
    if (isMaximized() || isFullScreen()) showNormal();
    const int menu = menuBar()->sizeHint().height();
    // On a real screen the window keeps inside the free part of it (a Big Maps window on a screen
    // 768 pixels high gets a shorter map area rather than a bottom edge out of reach). The offscreen
    // platform's screen is a fixed stand-in, not a limit.
    const QScreen* where = screen();
    if (where != nullptr && QGuiApplication::platformName() != QLatin1String("offscreen")) {
        const QRect free = where->availableGeometry();
        const QSize decoration = isVisible() ? frameGeometry().size() - geometry().size() : QSize(8, 32);
        width = std::max(MapView::kMinimumWidth, std::min(width, free.width() - decoration.width()));
        height = std::max(MapView::kMinimumHeight, std::min(height, free.height() - decoration.height() - menu));
    }
    view_->resize(width, height);
    resize(width, height + menu);
}

}  // namespace vg
