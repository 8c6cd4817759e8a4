// Gps → Find over the test town's pack (tilemaker) in the packs folder: the index is made in the
// background when the field opens, a street typed in Cyrillic is listed, choosing it centres the map
// on it with a pin until Escape; a typed position is listed at once and Enter goes there; an answer
// to a query overtaken by a newer one is never shown.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app_fixture.h"
#include "support/vector_town.h"
#include "tiles/local_source.h"

namespace vg::test {
namespace {

class AppSearch : public AppFixture {
protected:
    void TearDown() override {
        if (app) app->on_destroy();
        app.reset();
    }
    // The town's pack in the packs folder, the window started and the field opened.
    bool start_with_town() {
        const std::string town = town_mbtiles();
        if (town.empty()) return false;
        write_settings();
        std::filesystem::create_directories(packs_folder(root()));
        std::filesystem::copy_file(town, packs_folder(root()) / "town.mbtiles");
        app = std::make_unique<App>(dir.path(), search_options());
        app->create(window);
        app->on_command(Command::Find);
        return true;
    }
    virtual AppOptions search_options() { return options(); }
    SearchFieldData& field() { return window.search_fields.back(); }
    // Paints until the field lists `name` (false after 60 s).
    bool wait_for_row(const std::string& name) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            app->paint();
            for (const SearchRow& row : window.search_texts.rows)
                if (row.name == name) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    const SearchRow* row_named(const std::string& name) const {
        for (const SearchRow& row : window.search_texts.rows)
            if (row.name == name) return &row;
        return nullptr;
    }
};

TEST_F(AppSearch, AStreetTypedInCyrillicIsFoundChosenCentredAndPinnedUntilEscape) {
    if (!start_with_town()) GTEST_SKIP() << town_mbtiles_problem();
    ASSERT_EQ(window.search_fields.size(), 1U);
    field().edited("улица ми");
    ASSERT_TRUE(wait_for_row("Улица Мира"));
    EXPECT_TRUE(std::filesystem::exists(packs_folder(root()) / "town.mbtiles.search.sqlite"));
    const SearchRow* street = row_named("Улица Мира");
    EXPECT_EQ(street->kind, "street");
    EXPECT_TRUE(street->distance.ends_with(" km")) << street->distance;  // from Helsinki

    std::size_t index = 0;
    while (window.search_texts.rows[index].name != "Улица Мира") ++index;
    field().chosen(index);
    ASSERT_TRUE(app->chosen_place());
    const search::Place place = app->chosen_place()->place;
    EXPECT_EQ(place.name, "Улица Мира");
    EXPECT_NEAR(place.lat, 47.5, 0.02);
    EXPECT_FALSE(window.checked(Command::AutoPan)) << "the map stays on the place";
    EXPECT_GE(web_zoom(app->view().level), web_zoom(3)) << "a street is shown at a town's scale at least";
    const WorldPixel at = geo_to_pixel(place.lat, place.lon, MapSource::VirtualEarth, app->view().level);
    EXPECT_NEAR(app->view().centre_x, at.x, 1);
    EXPECT_NEAR(app->view().centre_y, at.y, 1);
    PaintFrame frame = app->paint();
    ASSERT_TRUE(frame.pin.show);
    EXPECT_EQ(frame.pin.name, "Улица Мира");
    EXPECT_NEAR(frame.pin.x, frame.map_width / 2, 2);
    EXPECT_NEAR(frame.pin.y, frame.map_height / 2, 2);
    EXPECT_EQ(window.search_texts.chosen, "Улица Мира");  // the field offers Route to it

    field().cleared();  // Escape
    EXPECT_FALSE(app->chosen_place());
    EXPECT_FALSE(app->paint().pin.show);
    // A new search also takes the pin away.
    field().edited("high str");
    ASSERT_TRUE(wait_for_row("High Street"));
    field().chosen(0);
    EXPECT_TRUE(app->paint().pin.show);
    field().edited("high stre");
    EXPECT_FALSE(app->paint().pin.show);
    ASSERT_TRUE(wait_for_row("High Street"));
    EXPECT_EQ(window.search_texts.chosen, "");
}

TEST_F(AppSearch, APositionTypedIsListedAtOnceAndEnterGoesThere) {
    write_settings();
    start();
    app->on_command(Command::Find);
    ASSERT_EQ(window.search_fields.size(), 1U);
    EXPECT_FALSE(field().online) << "no geocoder= line: Enter never goes on line";
    const std::string text = "47 30 10 N 10 00 23 E";
    field().edited(text);
    app->paint();  // no wait for the worker
    ASSERT_FALSE(window.search_texts.rows.empty());
    EXPECT_EQ(window.search_texts.rows[0].kind, "position");
    field().entered(text);
    ASSERT_TRUE(app->chosen_place());
    EXPECT_NEAR(app->chosen_place()->place.lat, 47 + 30 / 60.0 + 10 / 3600.0, 1e-9);
    EXPECT_NEAR(app->chosen_place()->place.lon, 10 + 23 / 3600.0, 1e-9);
    EXPECT_TRUE(app->paint().pin.show);
}

// The searcher is held inside the search for "Lake" while "High" is typed: that answer is dropped.
class AppSearchHeld : public AppSearch {
protected:
    AppOptions search_options() override {
        AppOptions o = options();
        o.search.before_search = [this](const std::string& text) {
            if (text != "Lake") return;
            std::unique_lock lock(mutex_);
            held_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
        };
        return o;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false, released_ = false;
};

TEST_F(AppSearchHeld, AnAnswerOvertakenByANewerQueryIsNeverShown) {
    if (!start_with_town()) GTEST_SKIP() << town_mbtiles_problem();
    field().edited("Lakeford");
    ASSERT_TRUE(wait_for_row("Lakeford"));  // the index is made and open
    field().edited("Lake");
    {
        std::unique_lock lock(mutex_);
        ASSERT_TRUE(changed_.wait_for(lock, std::chrono::seconds(30), [&] { return held_; }));
    }
    field().edited("High");
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool high = false;
    while (!high && std::chrono::steady_clock::now() < end) {
        app->paint();
        EXPECT_EQ(row_named("Mirror Lake"), nullptr) << "an answer to \"Lake\" was shown";
        high = row_named("High Street") != nullptr;
    }
    EXPECT_TRUE(high);
}

}  // namespace
}  // namespace vg::test
