#include "ui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QIcon>
#include <QKeySequence>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QResizeEvent>
#include <QShortcut>
#include <QString>

#include <algorithm>
#include <utility>

#include "resources/menu_resource.h"
#include "resources/strings.h"
#include "ui/dialog_common.h"
#include "ui/dialog_detect.h"
#include "ui/map_view.h"
#include "ui/status_panel.h"

namespace vg {

namespace {

QString from_view(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A text of the menu tables, through the translator (the tables are toolkit-free data).
QString translated(std::string_view text) {
    return QCoreApplication::translate("vg::MainWindow", std::string(text).c_str());
}

// The receivers of the Device menu (not Settings COM and GPS Monitor).
bool is_device(Command id) { return id != Command::SettingsCom && id != Command::GpsMonitor; }

}  // namespace

MainWindow::MainWindow(bool big_maps, QWidget* parent) : QMainWindow(parent) {
    setObjectName(from_view(res::kClassName));
    setWindowTitle(from_view(res::kInitialTitle));
    setWindowIcon(program_icon());
    view_ = new MapView(this);
    setCentralWidget(view_);
    build_menu();
    build_accelerators();
    build_zoom_keys();
    status_ = new StatusPanel(this);
    setStatusBar(status_);
    status_->hide();
    connect(status_, &StatusPanel::detect_clicked, this, [this] { on_command(Command::DetectReceiver); });
    detect_ = new DetectDialog(this);
    // The window opens around a client area of the Big Maps or small size and can then be resized
    // and maximised; the map area takes the space.
    set_client_size(big_maps ? MapView::kBigWidth : MapView::kSmallWidth,
                    big_maps ? MapView::kBigHeight : MapView::kSmallHeight);
    view_->setFocus();
}

MainWindow::~MainWindow() {
    // The application's palette is the day's again when a window goes at night.
    if (night_) set_night(false);
}

void MainWindow::build_menu() {
    // An in-window menu bar, so the client area sits at the same place on every desktop.
    menuBar()->setNativeMenuBar(false);
    // One map source and one receiver at a time: the Maps sources and the receivers each carry one
    // check mark. Items that can carry a mark show their box from the start; greying is only for
    // what cannot be chosen now.
    maps_group_ = new QActionGroup(this);
    maps_group_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    device_group_ = new QActionGroup(this);
    device_group_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (const res::MenuPopup& popup : res::kMainMenu) {
        QMenu* menu = menuBar()->addMenu(translated(popup.text));
        if (popup.items.data() == res::kMapsItems) maps_menu_ = menu;
        for (const res::MenuItem& item : popup.items) {
            if (!item.id) {
                menu->addSeparator();
                continue;
            }
            QActionGroup* group = popup.items.data() == res::kMapsItems ? maps_group_
                                  : popup.items.data() == res::kDeviceItems && is_device(*item.id) ? device_group_
                                                                                                  : nullptr;
            QAction* action = add_item(menu, translated(item.text), *item.id, group);
            if ((popup.items.data() == res::kOptionsItems && item.id != Command::Preferences) ||
                popup.items.data() == res::kViewItems)
                action->setCheckable(true);
            // The desktop's standard keys beside the program's own: Ctrl+C copies the map, Ctrl+Q
            // quits, F5 reloads the map.
            if (item.id == Command::Copy) action->setShortcut(QKeySequence::Copy);
            if (item.id == Command::Exit) action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
            if (item.id == Command::ReloadMap) action->setShortcut(QKeySequence(Qt::Key_F5));
            if (item.id == Command::Find) action->setShortcut(QKeySequence::Find);
            if (item.checked) set_item_checked(*item.id, true);
        }
    }
}

QAction* MainWindow::add_item(QMenu* menu, const QString& text, Command id, QActionGroup* group) {
    QAction* action = menu->addAction(text);
    action->setData(command_id(id));
    if (group != nullptr) {
        group->addAction(action);
        action->setCheckable(true);
    }
    connect(action, &QAction::triggered, this, [this, action, id] {
        // Choosing an item never changes a check mark by itself: Qt has just toggled a checkable
        // item (and, in a group, cleared its neighbour), so put the program's marks back; the
        // command sets them when it means to.
        restore_marks(action);
        on_command(id);
    });
    actions_[id] = action;
    return action;
}

void MainWindow::restore_marks(QAction* chosen) {
    const QList<QAction*> affected = chosen->actionGroup() ? chosen->actionGroup()->actions() : QList<QAction*>{chosen};
    // Clear first, then set: in an exclusive group setting one mark clears the others.
    for (bool pass : {false, true})
        for (QAction* action : affected) {
            const auto mark = marks_.find(action);
            const bool checked = mark != marks_.end() && mark->second;
            if (checked == pass && action->isChecked() != checked) action->setChecked(checked);
        }
}

void MainWindow::set_item_checked(Command id, bool checked) {
    QAction* action = menu_action(id);
    if (action == nullptr) return;
    // Any item may carry a check mark; Qt draws one only on checkable actions.
    if (checked) action->setCheckable(true);
    action->setChecked(checked);
    const QList<QAction*> affected = action->actionGroup() ? action->actionGroup()->actions() : QList<QAction*>{action};
    for (QAction* a : affected) marks_[a] = a->isChecked();
    if (id == Command::Night) set_night(checked);
}

void MainWindow::set_night(bool night) {
    if (night == night_) return;
    night_ = night;
    // Dark grounds and dim red text, as the map's night tint, so nothing in the window glares.
    QPalette dark;
    const QColor ground = QColor::fromRgb(MapView::kNightBackground), text(0xB0, 0x50, 0x38);
    for (const auto role : {QPalette::Window, QPalette::Base, QPalette::AlternateBase, QPalette::Button,
                            QPalette::ToolTipBase})
        dark.setColor(role, ground);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText,
                            QPalette::BrightText})
        dark.setColor(role, text);
    dark.setColor(QPalette::Highlight, QColor(0x60, 0x20, 0x14));
    dark.setColor(QPalette::HighlightedText, QColor(0xD0, 0x70, 0x50));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, ground.lighter(160));
    dark.setColor(QPalette::Disabled, QPalette::Text, ground.lighter(160));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, ground.lighter(160));
    // The desktop may give menus and the menu bar palettes of their own: those follow too.
    if (night) {
        day_palette_ = QApplication::palette();
        day_menu_palette_ = QApplication::palette("QMenu");
        day_menu_bar_palette_ = QApplication::palette("QMenuBar");
    }
    QApplication::setPalette(night ? dark : day_palette_);
    QApplication::setPalette(night ? dark : day_menu_palette_, "QMenu");
    QApplication::setPalette(night ? dark : day_menu_bar_palette_, "QMenuBar");
    // The menus, popups of their own, are given it each (an empty palette: the application's again).
    for (QWidget* w : findChildren<QWidget*>())
        if (w->isWindow()) w->setPalette(night ? dark : QPalette());
}

void MainWindow::set_source_items(const std::vector<std::pair<std::string, Command>>& sources) {
    if (maps_menu_ == nullptr) return;
    for (QAction* action : maps_menu_->actions()) {
        const auto id = command_from_id(action->data().toInt());
        if (!id || *id <= Command::MapQuest) continue;  // the five originals stay
        actions_.erase(*id);
        marks_.erase(action);
        maps_menu_->removeAction(action);
        maps_group_->removeAction(action);
        action->deleteLater();
    }
    for (const auto& [name, id] : sources) add_source_item(name, id);
}

void MainWindow::add_source_item(const std::string& name, Command id) {
    if (maps_menu_ == nullptr || actions_.count(id)) return;
    add_item(maps_menu_, QString::fromStdString(name), id, maps_group_);
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
    // + and - (with or without Ctrl, on the main keys or the keypad) zoom in and out as the wheel does.
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
        connect(shortcut, &QShortcut::activated, this, [this, step = step] { Q_EMIT zoom_key_pressed(step); });
    }
}

QAction* MainWindow::menu_action(Command id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::on_command(Command id) {
    Q_EMIT command_chosen(id);
}

void MainWindow::on_command_id(int id) {
    if (const std::optional<Command> command = command_from_id(id)) on_command(*command);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    Q_EMIT close_requested();
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
    // The status bar's rule looks at the space below the menu bar: decided before the resize.
    const bool bar = status_mode_.value_or(!is_classic_client(width, height));
    status_->setVisible(bar);
    resize(width, height + menu + (bar ? status_->sizeHint().height() : 0));
}

// ---- status bar --------------------------------------------------------------------------------

bool MainWindow::is_classic_client(int width, int height) {
    return (width == MapView::kSmallWidth && height == MapView::kSmallHeight) ||
           (width == MapView::kBigWidth && height == MapView::kBigHeight);
}

void MainWindow::set_status_mode(std::optional<bool> on) {
    status_mode_ = on;
    const bool before = status_bar_shown();
    apply_status_mode();
    // Turned on or off by the user: the window grows or shrinks by the bar, the map keeps its size.
    if (on && status_bar_shown() != before) {
        const int bar = status_->sizeHint().height();
        resize(width(), height() + (status_bar_shown() ? bar : -bar));
    }
}

bool MainWindow::status_bar_shown() const { return status_ != nullptr && !status_->isHidden(); }

void MainWindow::apply_status_mode() {
    if (status_ == nullptr) return;
    // Under the rule, the space below the menu bar (map and bar together) decides: a classic size
    // hides the bar, so the map keeps it whole; any other shows it.
    const int below_menu = height() - menuBar()->sizeHint().height();
    const bool shown = status_mode_.value_or(!is_classic_client(width(), below_menu));
    if (shown != status_bar_shown()) status_->setVisible(shown);
    set_item_checked(Command::StatusBar, shown);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!status_mode_) apply_status_mode();
}

}  // namespace vg
