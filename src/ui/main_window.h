// The program's single top-level window: title, icon, the main menu built from the menu resource with
// every item carrying its command id, the Shift+Page Up / Shift+Page Down accelerators, and the map
// view as the whole client area. Every command, from the menu or an accelerator, goes to on_command().
#pragma once

#include <QMainWindow>

#include <functional>
#include <map>

#include "platform/command.h"

class QAction;

namespace vg {

class MapView;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `big_maps` chooses the client size at creation: 1026 x 819 instead of 514 x 435.
    explicit MainWindow(bool big_maps = false, QWidget* parent = nullptr);
    ~MainWindow() override;

    MapView* map_view() const { return view_; }

    // The menu item of command `id`, or nullptr when the menu has none.
    QAction* menu_action(Command id) const;

    // Receives every command; until one is set commands do nothing.
    void set_command_handler(std::function<void(Command)> handler) { handler_ = std::move(handler); }

    // Called when the window is asked to close (close box, Exit), before it closes.
    void set_close_handler(std::function<void()> handler) { close_handler_ = std::move(handler); }

    // Runs a command as if its menu item had been chosen. Greyed items are not refused here (the
    // menu and the accelerators never deliver them).
    void on_command(Command id);
    // The same for an integer id (scripts): an id that names no command does nothing.
    void on_command_id(int id);

    // + and - keys: called with +1 (zoom in) or -1 (zoom out).
    void set_zoom_key_handler(std::function<void(int)> handler) { zoom_key_handler_ = std::move(handler); }

    // Makes the client area `width` x `height` and fits the window around it (on a real screen no
    // larger than its free area). Sizes below 1 are ignored. The user may resize the window later.
    void set_client_size(int width, int height);

    // Adds a source of the tile catalogue (OpenTopoMap, vor_src.txt lines, map packs) at the end of the
    // Maps menu, with its command id. An id already in the menu is not added again.
    void add_source_item(const std::string& name, Command id);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build_menu();
    void build_accelerators();
    void build_zoom_keys();

    MapView* view_ = nullptr;
    std::map<Command, QAction*> actions_;
    QMenu* maps_menu_ = nullptr;
    std::function<void(Command)> handler_;
    std::function<void()> close_handler_;
    std::function<void(int)> zoom_key_handler_;
};

}  // namespace vg
