// The program's single top-level window: title, icon, the main menu built from the menu resource with
// every item carrying its command id, the Shift+Page Up / Shift+Page Down accelerators, and the map
// view as the whole client area. Every command, from the menu or an accelerator, goes to on_command().
#pragma once

#include <QMainWindow>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/command.h"

class QAction;
class QActionGroup;
class QMenu;

namespace vg {

class DetectDialog;
class MapView;
class StatusPanel;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `big_maps` chooses the client size at creation: 1026 x 819 instead of 514 x 435.
    explicit MainWindow(bool big_maps = false, QWidget* parent = nullptr);
    ~MainWindow() override;

    MapView* map_view() const { return view_; }

    // The menu item of command `id`, or nullptr when the menu has none.
    QAction* menu_action(Command id) const;

    // The exclusive groups: the Maps sources and the Device receivers (one check mark each).
    QActionGroup* maps_group() const { return maps_group_; }
    QActionGroup* device_group() const { return device_group_; }

    // Makes the client area `width` x `height` and fits the window around it (on a real screen no
    // larger than its free area). Sizes below 1 are ignored. The user may resize the window later.
    void set_client_size(int width, int height);

    // Adds a source of the tile catalogue (OpenTopoMap, vor_src.txt lines, map packs) at the end of the
    // Maps menu, with its command id. An id already in the menu is not added again.
    void add_source_item(const std::string& name, Command id);
    // The Maps menu's items after the five originals replaced by `sources` (name, id), in order.
    void set_source_items(const std::vector<std::pair<std::string, Command>>& sources);

    // The status bar below the client area (set_client_size keeps the client area and adds its
    // height): on, off, or nullopt for the rule "shown except at the classic client sizes",
    // 514 x 435 and 1026 x 819, decided from the window's size so that showing it never flips it.
    StatusPanel* status_panel() const { return status_; }
    void set_status_mode(std::optional<bool> on);
    bool status_bar_shown() const;
    // Detect's non-modal list, made with the window and hidden.
    DetectDialog* detect_dialog() const { return detect_; }

public Q_SLOTS:
    // Runs a command as if its menu item had been chosen. Greyed items are not refused here (the
    // menu and the accelerators never deliver them).
    void on_command(vg::Command id);
    // The same for an integer id (scripts): an id that names no command does nothing.
    void on_command_id(int id);
    // Sets or clears the check mark of command `id`'s item (the program's marks: choosing an item
    // never changes them by itself). Checking an item of an exclusive group clears the others.
    // Night's mark also turns the whole program dark: the application's palette, so that the menus,
    // dialogs, message boxes and status bar, also those made later, take it; day gives back the
    // palette the application had.
    void set_item_checked(vg::Command id, bool checked);

Q_SIGNALS:
    // Every command, from the menu, an accelerator or on_command().
    void command_chosen(vg::Command id);
    // The window is asked to close (close box, Exit), before it closes.
    void close_requested();
    // + and - keys: +1 (zoom in) or -1 (zoom out).
    void zoom_key_pressed(int step);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void build_menu();
    void build_accelerators();
    void build_zoom_keys();
    QAction* add_item(QMenu* menu, const QString& text, Command id, QActionGroup* group);
    void restore_marks(QAction* chosen);
    void set_night(bool night);
    void apply_status_mode();
    static bool is_classic_client(int width, int height);

    MapView* view_ = nullptr;
    std::map<Command, QAction*> actions_;
    QMenu* maps_menu_ = nullptr;
    QActionGroup* maps_group_ = nullptr;
    QActionGroup* device_group_ = nullptr;
    std::map<QAction*, bool> marks_;  // the check marks as the program set them
    QPalette day_palette_;             // the application's palettes before Night
    QPalette day_menu_palette_;
    QPalette day_menu_bar_palette_;
    bool night_ = false;
    StatusPanel* status_ = nullptr;
    DetectDialog* detect_ = nullptr;
    std::optional<bool> status_mode_;
};

}  // namespace vg
