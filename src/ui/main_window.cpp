#include "ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QKeySequence>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QString>

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
    // The window is exactly as large as its menu bar and client area: it follows set_client_size().
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    if (big_maps) set_client_size(MapView::kBigWidth, MapView::kBigHeight);
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
            if (item.id == res::kSeparator) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(from_view(item.text));
            action->setData(item.id);
            if (item.checked) {
                action->setCheckable(true);
                action->setChecked(true);
            }
            const int id = item.id;
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

void MainWindow::add_source_item(const std::string& name, int id) {
    if (maps_menu_ == nullptr || actions_.count(id)) return;
    QAction* action = maps_menu_->addAction(QString::fromStdString(name));
    action->setData(id);
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
        const int id = accelerator.id;
        connect(shortcut, &QShortcut::activated, this, [this, id] {
            // A greyed menu item also disables its accelerator.
            if (QAction* action = menu_action(id); action != nullptr && !action->isEnabled()) return;
            on_command(id);
        });
    }
}

QAction* MainWindow::menu_action(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::on_command(int id) {
    if (handler_) handler_(id);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (close_handler_) close_handler_();
    QMainWindow::closeEvent(event);
}

void MainWindow::set_client_size(int width, int height) {
    if (width < 1 || height < 1) return;
    view_->setFixedSize(width, height);
    adjustSize();
}

}  // namespace vg
