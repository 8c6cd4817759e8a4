// App: Gps → Download Region. The dialog is preset to the view; Start copies the area of a PMTiles
// archive into a pack of the packs folder on a worker thread (tiles/pmtiles_extract.h), the dialog
// polls its state, and the paint after the worker ended adds the pack to the Maps menu.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/app.h"
#include "platform/c_number.h"
#include "settings/settings_file.h"
#include "tiles/geometry.h"
#include "tiles/local_source.h"
#include "tiles/pmtiles_extract.h"

namespace vg {
namespace {

// How long the message line tells how the last download ended.
constexpr std::int64_t kRegionMessageSeconds = 60;

std::string megabytes(std::uint64_t bytes) { return fixed_text(static_cast<double>(bytes) / 1e6, 1); }

// -180 .. 180, a longitude beyond the world's edge wrapped once.
double wrap_longitude(double lon) {
    if (lon < -180) lon += 360;
    if (lon > 180) lon -= 360;
    return std::clamp(lon, -180.0, 180.0);
}

}  // namespace

RegionChoice App::region_preset() const {
    RegionChoice c;
    c.source = setting_value(settings_path(kIniFile), "region").value_or("");
    if (c.source.empty())
        if (const CatalogueEntry* e = current_entry(); e && e->tmpl.ends_with(".pmtiles")) c.source = e->tmpl;
    const MapSource src = source();
    const int level = view_.level;
    const long long half_w = view_.map_width / 2, half_h = view_.map_height / 2;
    if (2 * half_w >= world_width(level) && is_mercator(src)) {
        c.west = -180;
        c.east = 180;
    } else {
        c.west = wrap_longitude(pixel_to_longitude(static_cast<int>(view_.centre_x - half_w), src, level));
        c.east = wrap_longitude(pixel_to_longitude(static_cast<int>(view_.centre_x + half_w), src, level));
    }
    c.north = std::clamp(pixel_to_latitude(static_cast<int>(view_.centre_y - half_h), src, level), -kMercatorLimit,
                         kMercatorLimit);
    c.south = std::clamp(pixel_to_latitude(static_cast<int>(view_.centre_y + half_h), src, level), -kMercatorLimit,
                         kMercatorLimit);
    const int zoom = web_zoom(level);
    c.min_zoom = std::max(zoom - 2, 0);
    c.max_zoom = std::max(14, c.min_zoom);
    c.out = (packs_folder(maps_root()) / "region.pmtiles").string();
    return c;
}

void App::download_region() {
    RegionDialogData data;
    data.preset = region_preset();
    data.start = [this](const RegionChoice& choice) { return start_region(choice); };
    data.cancel = [this] { region_cancel_.store(true); };
    data.poll = [this] { return region_texts(); };
    window_->open_region_dialog(std::move(data));
}

std::string App::start_region(const RegionChoice& choice) {
    if (!ws_) return "the window is closing";
    if (region_running_.load()) return "a region download is running; cancel it first";
    if (region_worker_.joinable()) finish_region();
    if (choice.source.empty()) return "name the archive: an https address, a .pmtiles file or a source of the Maps menu";
    if (choice.out.empty()) return "name the output file";
    if (!(choice.min_zoom >= 0 && choice.min_zoom <= choice.max_zoom && choice.max_zoom <= pmtiles::kMaxZoom))
        return "the zooms must run from the first to the last, within 0-" + std::to_string(pmtiles::kMaxZoom);
    if (!(choice.south < choice.north) || std::abs(choice.west) > 180 || std::abs(choice.east) > 180 ||
        std::abs(choice.south) > 90 || std::abs(choice.north) > 90)
        return "the bounds must be W,S,E,N in degrees, south below north";

    // A catalogue source by name (its template is the archive's address) or by that address: its
    // tile policy applies.
    const CatalogueEntry* entry = nullptr;
    for (const auto& e : catalogue_.entries)
        if (e.name == choice.source || e.tmpl == choice.source) entry = &e;
    pmtiles::ExtractRequest rq;
    rq.source = entry && entry->name == choice.source ? entry->tmpl : choice.source;
    rq.policy = pmtiles::remote_policy(entry, read_fetch_settings(dir_));
    if (rq.policy.nobulk)
        return entry->name + "'s tile policy forbids downloading regions (nobulk); nothing was fetched";
    rq.west = choice.west;
    rq.south = choice.south;
    rq.east = choice.east;
    rq.north = choice.north;
    rq.min_zoom = choice.min_zoom;
    rq.max_zoom = choice.max_zoom;
    rq.out = choice.out;
    std::error_code ec;
    std::filesystem::create_directories(rq.out.parent_path(), ec);
    write_setting_file(settings_path(kIniFile), "region", choice.source);

    {
        std::lock_guard lock(region_mutex_);
        region_state_ = {};
        region_state_.running = true;
        region_out_ = choice.out;
        region_ok_ = false;
    }
    region_cancel_.store(false);
    region_running_.store(true);
    Fetcher* engine = fetcher();
    region_worker_ = std::thread([this, rq = std::move(rq), engine] {
        Fetcher own;
        Window* w = window_;
        const auto progress = [this, w](const pmtiles::ExtractProgress& p) {
            {
                std::lock_guard lock(region_mutex_);
                RegionTexts& t = region_state_;
                if (p.planned)
                    t.size = std::to_string(p.tiles_total) + " tiles, " + megabytes(p.fetch_total) + " MB to fetch" +
                             (p.resumed ? " (resuming an earlier download)" : "");
                t.progress = std::to_string(p.tiles) + " of " + std::to_string(p.tiles_total) + " tiles, " +
                             megabytes(p.bytes) + " of " + megabytes(p.bytes_total) + " MB";
                if (!p.planned)
                    t.progress += ", " + megabytes(static_cast<std::uint64_t>(p.rate)) + " MB/s, " +
                                  (p.seconds_left < 0 ? std::string("time left unknown")
                                                      : fixed_text(p.seconds_left, 0) + " s left");
                t.percent = p.bytes_total ? static_cast<int>(p.bytes * 100 / p.bytes_total) : 100;
            }
            w->invalidate(false);
        };
        const auto r = pmtiles::extract_region(engine ? *engine : own, rq, progress, &region_cancel_);
        {
            std::lock_guard lock(region_mutex_);
            region_state_.running = false;
            region_ok_ = r.status == pmtiles::ExtractResult::Status::ok;
            if (region_ok_) {
                region_state_.percent = 100;
                region_state_.outcome = "Done: " + std::to_string(r.tiles) + " tiles, " + megabytes(r.tile_bytes) +
                                        " MB in " + rq.out.filename().string();
            } else if (r.status == pmtiles::ExtractResult::Status::cancelled) {
                region_state_.outcome = "Cancelled; press Start to resume";
            } else {
                region_state_.outcome = "Failed: " + r.error;
            }
        }
        region_running_.store(false);
        region_done_.store(true);
        w->invalidate(false);
    });
    return {};
}

RegionTexts App::region_texts() const {
    std::lock_guard lock(region_mutex_);
    return region_state_;
}

void App::finish_region() {
    region_done_.store(false);
    if (region_worker_.joinable()) region_worker_.join();
    bool ok = false;
    std::filesystem::path out;
    {
        std::lock_guard lock(region_mutex_);
        ok = region_ok_;
        out = region_out_;
        region_ok_ = false;
    }
    if (!ok || !ws_) return;
    // The pack joins the Maps menu at once unless it already is a source (a download done again).
    std::error_code ec;
    for (const auto& e : catalogue_.entries)
        if (e.kind == SourceKind::pack && std::filesystem::equivalent(e.pack_path, out, ec)) {
            region_message_ = "Region pack " + e.name + " downloaded again: " + out.string();
            region_message_until_ = now() + kRegionMessageSeconds;
            return;
        }
    std::string error;
    if (add_pack(catalogue_, out, error)) {
        const CatalogueEntry& added = catalogue_.entries.back();
        window_->add_map_source_item(added.name, added.menu_id);
        region_message_ = "Region pack " + added.name + " is in the Maps menu: " + out.string();
    } else {
        region_message_ = "Region saved as " + out.string() + "; the Maps menu cannot show it: " + error;
    }
    region_message_until_ = now() + kRegionMessageSeconds;
}

void App::stop_region() {
    region_cancel_.store(true);
    if (region_worker_.joinable()) region_worker_.join();
    region_done_.store(false);
}

}  // namespace vg
