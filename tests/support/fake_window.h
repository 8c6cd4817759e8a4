// A recording Window for tests of the application logic: every call is kept in order.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace vg::test {

class FakeWindow : public Window {
public:
    void set_title(const std::string& title) override {
        record("title " + title);
        std::lock_guard l(m_);
        title_ = title;
    }
    void enable_menu_item(Command id, bool enabled) override {
        record("enable " + std::to_string(command_id(id)) + (enabled ? " on" : " off"));
        std::lock_guard l(m_);
        enabled_[id] = enabled;
    }
    void check_menu_item(Command id, bool checked) override {
        record("check " + std::to_string(command_id(id)) + (checked ? " on" : " off"));
        std::lock_guard l(m_);
        checked_[id] = checked;
    }
    void warning_box(const std::string& text, const std::string& caption) override {
        record("box " + caption + ": " + text);
        std::lock_guard l(m_);
        boxes_.push_back(text);
    }
    void set_wait_cursor(bool on) override { record(on ? "wait on" : "wait off"); }
    void invalidate(bool erase) override { record(erase ? "invalidate erase" : "invalidate"); }
    void set_client_size(int w, int h) override { record("size " + std::to_string(w) + "x" + std::to_string(h)); }
    void copy_image_to_clipboard(const std::uint8_t*, int w, int h, int) override {
        record("clipboard " + std::to_string(w) + "x" + std::to_string(h));
    }
    void start_timer(int ms) override { record("timer " + std::to_string(ms)); }
    void repaint_after(int ms) override { record("repaint after " + std::to_string(ms)); }
    void close_window() override { record("close"); }
    bool run_com_settings_dialog(ComSettings& settings) override {
        record("dialog com");
        if (com_dialog) return com_dialog(settings);
        return false;
    }
    void open_gps_monitor(std::function<MonitorTexts()> poll) override {
        record("dialog monitor");
        std::lock_guard l(m_);
        monitors.push_back(std::move(poll));
    }
    void open_region_dialog(RegionDialogData data) override {
        record("dialog region");
        std::lock_guard l(m_);
        regions.push_back(std::move(data));
    }
    void open_fleet_dialog(FleetDialogData data) override {
        record("dialog fleet");
        std::lock_guard l(m_);
        fleets.push_back(std::move(data));
    }
    void open_ntrip_dialog(NtripDialogData data) override {
        record("dialog ntrip");
        std::lock_guard l(m_);
        ntrips.push_back(std::move(data));
    }
    void open_trip_dialog(TripDialogData data) override {
        record("dialog trip");
        std::lock_guard l(m_);
        trips.push_back(std::move(data));
    }
    void open_ais_targets_dialog(std::function<std::vector<AisTargetRow>()> poll) override {
        record("dialog ais targets");
        std::lock_guard l(m_);
        ais_lists.push_back(std::move(poll));
    }
    void open_profile_dialog(ProfileDialogData data) override {
        record("dialog profile " + data.track_name);
        std::lock_guard l(m_);
        profiles.push_back(std::move(data));
    }
    void open_search_field(SearchFieldData data) override {
        record("search field");
        std::lock_guard l(m_);
        search_fields.push_back(std::move(data));
    }
    void show_search_results(const SearchTexts& texts) override {
        record("search results " + std::to_string(texts.rows.size()) + " " + texts.status);
        std::lock_guard l(m_);
        search_texts = texts;
    }
    void open_route_dialog(RouteDialogData data) override {
        record("dialog route");
        std::lock_guard l(m_);
        routes.push_back(std::move(data));
    }
    void open_routing_data_dialog(RoutingDataDialogData data) override {
        record("dialog routing data");
        std::lock_guard l(m_);
        routing_data.push_back(std::move(data));
    }
    std::optional<std::size_t> choose_from_menu(const std::vector<std::string>& items) override {
        std::string line = "menu";
        for (const std::string& item : items) line += (line.size() == 4 ? " " : "|") + item;
        record(line);
        return next_menu_choice;
    }
    void run_keys_dialog() override { record("dialog keys"); }
    void run_about_dialog(const std::string& version_line, const std::string& system_line) override {
        record("dialog about " + version_line + " | " + system_line);
    }

    std::string choose_file_to_open(const std::string& title, const std::string&) override {
        record("open file " + title);
        return next_open_file;
    }
    std::string choose_file_to_save(const std::string& title, const std::string&, const std::string& suggested) override {
        record("save file " + title + " " + suggested);
        return next_save_file;
    }
    void add_map_source_item(const std::string& name, Command id) override {
        record("source " + name + " " + std::to_string(command_id(id)));
    }
    // What the file dialogs answer (empty: cancelled).
    std::string next_open_file;
    std::string next_save_file;

    // What the context menu answers (none: dismissed).
    std::optional<std::size_t> next_menu_choice;
    std::vector<RouteDialogData> routes;             // each Route panel opened
    std::vector<RoutingDataDialogData> routing_data;  // each Routing Data dialog opened

    // What the COM settings dialog "does" in a test: edit the settings and return true for OK.
    std::function<bool(ComSettings&)> com_dialog;
    std::vector<std::function<MonitorTexts()>> monitors;
    std::vector<RegionDialogData> regions;  // each Download Region dialog opened
    std::vector<TripDialogData> trips;      // each Trip dialog opened
    std::vector<std::function<std::vector<AisTargetRow>()>> ais_lists;  // each AIS target list opened
    std::vector<FleetDialogData> fleets;    // each Fleet dialog opened
    std::vector<NtripDialogData> ntrips;    // each NTRIP Casters dialog opened
    std::vector<ProfileDialogData> profiles;  // what each open_profile_dialog was given
    std::vector<SearchFieldData> search_fields;  // each search field opened
    SearchTexts search_texts;                    // what the field shows last

    std::vector<std::string> calls() const { std::lock_guard l(m_); return calls_; }
    std::vector<std::string> boxes() const { std::lock_guard l(m_); return boxes_; }
    std::string title() const { std::lock_guard l(m_); return title_; }
    // Menu state as last set; absent ids read as enabled and unchecked.
    bool enabled(Command id) const { std::lock_guard l(m_); auto it = enabled_.find(id); return it == enabled_.end() || it->second; }
    bool checked(Command id) const { std::lock_guard l(m_); auto it = checked_.find(id); return it != checked_.end() && it->second; }
    void clear() { std::lock_guard l(m_); calls_.clear(); boxes_.clear(); }

private:
    void record(const std::string& s) { std::lock_guard l(m_); calls_.push_back(s); }
    mutable std::mutex m_;
    std::vector<std::string> calls_;
    std::vector<std::string> boxes_;
    std::string title_;
    std::map<Command, bool> enabled_;
    std::map<Command, bool> checked_;
};

}  // namespace vg::test
