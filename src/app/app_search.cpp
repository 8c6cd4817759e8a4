// App: Gps → Find. The search field lists the places of the packs folder's vector packs as the user
// types (PlaceSearch's worker threads; a position typed is listed at once), Enter may ask the online
// geocoder, and choosing a place centres the map on it with a pin until the field is cleared.
#include <cstdio>

#include "app/app.h"
#include "app/app_detail.h"
#include "search/coordinates.h"
#include "tiles/geometry.h"
#include "tiles/local_source.h"

namespace vg {

using app_detail::WaitCursor;

// What the worker threads and the geocoder hand to the window thread; it outlives an answer still on
// its way when the window goes (window set to null then).
struct App::SearchNews {
    std::mutex mutex;
    Window* window = nullptr;
    bool news = false;
    // The online answer and the query it belongs to; `asking` while a request is out.
    std::uint64_t online_for = 0;
    std::vector<search::Result> online;
    std::string online_error;
    bool asking = false;

    void post() {
        std::lock_guard lock(mutex);
        news = true;
        if (window) window->invalidate(false);
    }
};

namespace {

// "350 m", "2.4 km", "120 km"; "" when unknown.
std::string distance_text(double metres) {
    if (metres < 0) return {};
    char text[32];
    if (metres < 1000) std::snprintf(text, sizeof text, "%.0f m", metres);
    else if (metres < 100'000) std::snprintf(text, sizeof text, "%.1f km", metres / 1000);
    else std::snprintf(text, sizeof text, "%.0f km", metres / 1000);
    return text;
}

// The list's words for a result's kind ("layer/class" of the pack, "online/..." of the geocoder).
std::string kind_text(std::string_view kind) {
    if (kind == "coordinates") return "position";
    const bool online = kind.starts_with("online/");
    if (online) kind.remove_prefix(7);
    const std::size_t slash = kind.find('/');
    const std::string_view layer = kind.substr(0, slash);
    const std::string_view cls = slash == std::string_view::npos ? std::string_view() : kind.substr(slash + 1);
    std::string text = layer.starts_with("transportation") ? std::string("street")
                       : layer == "housenumber"            ? std::string("house number")
                       : !cls.empty()                      ? std::string(cls)
                                                           : std::string(layer);
    for (char& c : text)
        if (c == '_') c = ' ';
    return online ? text + " (online)" : text;
}

}  // namespace

void App::open_search() {
    if (!window_ || !ws_) return;
    if (!search_news_) search_news_ = std::make_shared<SearchNews>();
    {
        std::lock_guard lock(search_news_->mutex);
        search_news_->window = window_;
    }
    // The folder may have changed in Preferences since the field was last opened.
    const std::filesystem::path folder = packs_folder(maps_root());
    if (!place_search_ || folder != search_folder_) {
        place_search_.reset();
        search_folder_ = folder;
        place_search_ = std::make_unique<PlaceSearch>(folder, [news = search_news_] { news->post(); }, options_.search);
    }
    // Each opening makes the indexes of packs added or changed since.
    place_search_->index();
    const std::string url = search::read_geocoder_url(dir_);
    if (url != geocoder_url_ || (!geocoder_ && !url.empty())) {
        geocoder_.reset();
        geocoder_url_ = url;
        if (Fetcher* engine = fetcher(); engine && !url.empty())
            geocoder_ = std::make_unique<search::Geocoder>(*engine, url, read_fetch_settings(dir_));
    }
    SearchFieldData data;
    data.edited = [this](const std::string& text) { search_edited(text); };
    data.entered = [this](const std::string& text) { search_entered(text); };
    data.chosen = [this](std::size_t row) { search_chosen(row); };
    data.cleared = [this] { search_cleared(); };
    data.route = [this] {
        if (chosen_place_) route_to(chosen_place_->place.lat, chosen_place_->place.lon);
    };
    data.online = geocoder_ != nullptr;
    window_->open_search_field(std::move(data));
    search_news_->post();
}

void App::search_edited(const std::string& text) {
    if (!place_search_) return;
    if (chosen_place_) {
        // A new search: the old place's pin goes.
        chosen_place_.reset();
        if (window_) window_->invalidate(false);
    }
    search_text_ = text;
    const MapSource src = source();
    const search::LatLon centre{pixel_to_latitude(view_.centre_y, src, view_.level),
                                pixel_to_longitude(view_.centre_x, src, view_.level)};
    search_query_ = place_search_->ask(text, centre);
    search_news_->post();
}

void App::search_entered(const std::string& text) {
    if (!place_search_) return;
    if (text != search_text_) search_edited(text);
    if (search::parse_coordinates(text) || !geocoder_) {
        // A position, or the first name found (none online to ask).
        show_search_texts();
        if (!search_rows_.empty()) search_result_chosen(search_rows_.front());
        return;
    }
    const MapSource src = source();
    const search::LatLon centre{pixel_to_latitude(view_.centre_y, src, view_.level),
                                pixel_to_longitude(view_.centre_x, src, view_.level)};
    const std::uint64_t query = search_query_;
    const auto news = search_news_;
    {
        std::lock_guard lock(news->mutex);
        news->online_for = query;
        news->online.clear();
        news->online_error.clear();
        news->asking = true;
    }
    const bool sent = geocoder_->ask(text, centre, [news, query](std::vector<search::Result> results, std::string error) {
        {
            std::lock_guard lock(news->mutex);
            if (news->online_for != query) return;  // the text changed meanwhile
            news->online = std::move(results);
            news->online_error = std::move(error);
            news->asking = false;
        }
        news->post();
    });
    if (!sent) {
        std::lock_guard lock(news->mutex);
        news->asking = false;
        news->online_error = "One online search a second: press Enter again";
    }
    news->post();
}

void App::search_chosen(std::size_t row) {
    if (row < search_rows_.size()) search_result_chosen(search_rows_[row]);
}

void App::search_cleared() {
    if (place_search_) search_query_ = place_search_->ask("", std::nullopt);
    search_text_.clear();
    chosen_place_.reset();
    if (search_news_) search_news_->post();
    if (window_) window_->invalidate(false);
}

void App::search_result_chosen(const search::Result& place) {
    if (!ws_) return;
    chosen_place_ = place;
    auto_pan_off();
    if (search_news_) search_news_->post();  // the field offers Route
    // A place is shown at a town's scale at least: level 3 where the view is coarser.
    const MapSource src = source();
    constexpr int kPlaceLevel = 3;
    const int level = web_zoom(view_.level) < web_zoom(kPlaceLevel) && has_scale(src, kPlaceLevel) ? kPlaceLevel
                                                                                                   : view_.level;
    const WorldPixel p = geo_to_pixel(place.place.lat, place.place.lon, src, level);
    view_.pending = {level, p.x, p.y};
    normalise_pending();
    view_.anchor = view_.pending;
    view_.pointer = view_.pending;
    {
        WaitCursor wait(window_);
        load_pending_view(Variant::ByOnline);
    }
    if (window_) window_->invalidate(false);
}

void App::show_search_texts() {
    if (!search_news_ || !place_search_) return;
    SearchTexts texts;
    std::vector<search::Result> online;
    {
        std::lock_guard lock(search_news_->mutex);
        if (!search_news_->news) return;
        search_news_->news = false;
        if (search_news_->online_for == search_query_) {
            texts.status = search_news_->asking ? "Asking " + geocoder_url_ + "..." : search_news_->online_error;
            online = search_news_->online;
        }
    }
    const PlaceSearch::State state = place_search_->state();
    search_rows_.clear();
    if (state.answered == search_query_) {
        search_rows_ = state.results;
    } else if (const auto at = search::parse_coordinates(search_text_)) {
        // A position typed is listed before the indexes answer.
        search::Result r;
        r.place.name = search_text_;
        r.place.kind = "coordinates";
        r.place.lat = at->lat;
        r.place.lon = at->lon;
        search_rows_.push_back(std::move(r));
    }
    search_rows_.insert(search_rows_.end(), online.begin(), online.end());
    for (const search::Result& r : search_rows_)
        texts.rows.push_back({r.place.name, kind_text(r.place.kind), distance_text(r.distance_m)});
    const bool answered = state.answered == search_query_ && !search_text_.empty();
    if (state.indexing)
        texts.status = state.progress.empty() ? "Indexing..." : state.progress;
    else if (texts.status.empty() && !state.problems.empty())
        texts.status = "Not indexed: " + state.problems.front();
    else if (texts.status.empty() && answered && texts.rows.empty())
        texts.status = state.indexes == 0 ? "No vector packs to search in " + search_folder_.string()
                       : geocoder_        ? "Nothing found here; Enter searches online"
                                          : "Nothing found";
    if (chosen_place_ && route_) texts.chosen = chosen_place_->place.name;
    if (window_) window_->show_search_results(texts);
}

void App::search_pin(PaintFrame& frame) const {
    if (!chosen_place_) return;
    const WorldPixel p = geo_to_pixel(chosen_place_->place.lat, chosen_place_->place.lon, source(), view_.level);
    const long long x = layer_.mosaic_x(p.x) - frame.visible_first_column;
    const long long y = layer_.mosaic_y(p.y) - frame.visible_first_row;
    if (x < 0 || x >= view_.map_width || y < 0 || y >= view_.map_height) return;
    frame.pin = {true, static_cast<int>(x), static_cast<int>(y), chosen_place_->place.name};
}

void App::stop_search() {
    place_search_.reset();
    if (search_news_) {
        std::lock_guard lock(search_news_->mutex);
        search_news_->window = nullptr;
    }
    geocoder_.reset();  // before the fetcher it sends through
}

}  // namespace vg
