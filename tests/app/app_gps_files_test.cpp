// The Gps menu's file items through App with the recording window: a map pack opened (and a damaged
// one refused naming the file), a GPX file drawn over the map, and the track log exported as GPX 1.1
// that xmllint accepts against the schema.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "app/app_fixture.h"
#include "support/map_pack.h"
#include "track/profile.h"

namespace vg {
namespace {

using test::AppFixture;

class GpsFiles : public AppFixture {
protected:
    // Pixels of the display bitmap in one colour (blue, green, red).
    int pixels_of(std::uint8_t b0, std::uint8_t g0, std::uint8_t r0) const {
        const DisplayBitmap& b = app->view().display_bitmap;
        int n = 0;
        for (int r = 0; r < b.height(); ++r)
            for (int c = 0; c < b.width(); ++c) {
                const std::uint8_t* p = b.row(r) + 3 * c;
                n += p[0] == b0 && p[1] == g0 && p[2] == r0;
            }
        return n;
    }
    // In the GPX line colour.
    int line_pixels() const { return pixels_of(0xb0, 0x20, 0xc0); }
};

TEST_F(GpsFiles, OpenMapPackPlacesItInThePacksFolderOrNamesTheDamagedFile) {
    write_settings();
    start();
    test::write_file(dir / "damaged.mbtiles", "SQLite format 3" + std::string(4000, '\x01'));
    window.next_open_file = (dir / "damaged.mbtiles").string();
    app->on_command(Command::OpenMapPack);
    ASSERT_EQ(window.boxes().size(), 1u);
    EXPECT_NE(window.boxes()[0].find("damaged.mbtiles\""), std::string::npos) << window.boxes()[0];
    EXPECT_FALSE(std::filesystem::exists(dir / "Maps/packs/damaged.mbtiles"));

    const WorldPixel p = geo_to_pixel(test::kStartLat, test::kStartLon, MapSource::OpenStreetMap, app->view().level);
    const int z = web_zoom(app->view().level);
    ASSERT_TRUE(test::make_pack(dir / "city.mbtiles", {{"name", "City Map"}, {"format", "png"}},
                                {{z, p.x / 256, (1 << z) - 1 - p.y / 256,
                                  test::shared_testdata() / "images/bench/map256-rgb.png"}}));
    window.next_open_file = (dir / "city.mbtiles").string();
    window.clear();
    app->on_command(Command::OpenMapPack);
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_TRUE(std::filesystem::exists(dir / "Maps/packs/city.mbtiles"));
    EXPECT_EQ(count_calls("source City_Map " + std::to_string(command_id(catalogue_home_id("City_Map")))), 1);
    ASSERT_EQ(app->current_entry()->name, "City_Map");
    EXPECT_TRUE(window.checked(catalogue_home_id("City_Map")));
    // Cancelling the dialog does nothing.
    window.next_open_file.clear();
    window.clear();
    app->on_command(Command::OpenMapPack);
    EXPECT_TRUE(window.boxes().empty());
}

TEST_F(GpsFiles, OpenGpxDrawsTracksAndRefusesWhatIsNotGpx) {
    write_settings();
    start();
    // As gpsd's gpxlogger writes a track: a few points through the start position.
    test::write_file(dir / "drive.gpx",
                     "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<gpx version=\"1.1\" creator=\"GPSD 3.22 - https://gpsd.io\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
                     " <metadata><time>2026-07-06T14:00:00.000Z</time></metadata>\n"
                     " <trk><src>GPSD 3.22</src><trkseg>\n"
                     "  <trkpt lat=\"60.160\" lon=\"24.900\"><ele>12.0</ele><time>2026-07-06T14:00:00.000Z</time></trkpt>\n"
                     "  <trkpt lat=\"60.175\" lon=\"24.917\"><ele>12.0</ele><time>2026-07-06T14:00:05.000Z</time></trkpt>\n"
                     "  <trkpt lat=\"60.190\" lon=\"24.960\"><ele>12.0</ele><time>2026-07-06T14:00:10.000Z</time></trkpt>\n"
                     " </trkseg></trk>\n"
                     " <wpt lat=\"60.170\" lon=\"24.940\"><name>Home</name></wpt>\n"
                     "</gpx>\n");
    window.next_open_file = (dir / "drive.gpx").string();
    app->on_command(Command::OpenGpx);
#ifdef VG_NO_LIBXML2
    // A build without libxml2 refuses the file with that cause.
    ASSERT_EQ(window.boxes().size(), 1u);
    EXPECT_NE(window.boxes()[0].find("not available in this build"), std::string::npos) << window.boxes()[0];
    GTEST_SKIP() << "libxml2 is not available in this build: opening a GPX file says so";
#endif
    EXPECT_TRUE(window.boxes().empty());
    const PaintFrame f = app->paint();
    EXPECT_GT(line_pixels(), 20);
    // The view moved to the file: its middle, at a zoom finer than the start's that shows all of it.
    const int level = app->view().level;
    const MapSource src = MapSource::VirtualEarth;
    const WorldPixel nw = geo_to_pixel(60.190, 24.900, src, level), se = geo_to_pixel(60.160, 24.960, src, level);
    EXPECT_GT(web_zoom(level), web_zoom(2));
    EXPECT_NEAR(app->view().centre_x, (nw.x + se.x) / 2, 1);
    EXPECT_NEAR(app->view().centre_y, (nw.y + se.y) / 2, 1);
    const int left = app->view().centre_x - app->view().map_width / 2, top = app->view().centre_y - app->view().map_height / 2;
    EXPECT_TRUE(nw.x >= left && nw.y >= top && se.x < left + app->view().map_width && se.y < top + app->view().map_height);
    // The waypoint's name beside its marker.
    ASSERT_EQ(f.labels.size(), 1u);
    EXPECT_EQ(f.labels[0].text, "Home");
    const WorldPixel home = geo_to_pixel(60.170, 24.940, src, level);
    EXPECT_NEAR(f.labels[0].x, home.x - left + 6, 1);
    EXPECT_NEAR(f.labels[0].y, home.y - top, 1);

    test::write_file(dir / "notes.gpx", "<html><body>not a track</body></html>");
    window.next_open_file = (dir / "notes.gpx").string();
    app->on_command(Command::OpenGpx);
    ASSERT_EQ(window.boxes().size(), 1u);
    EXPECT_NE(window.boxes()[0].find("notes.gpx\""), std::string::npos) << window.boxes()[0];
    app->paint();
    EXPECT_GT(line_pixels(), 20);  // the file opened before stays drawn
}

TEST_F(GpsFiles, ProfileOfTheOpenedGpxAndThePointedPlaceMarkedOnTheMap) {
    write_settings();
    start();
    app->on_command(Command::Profile);  // nothing opened or recorded yet: it says what to do
    ASSERT_EQ(window.boxes().size(), 1u);
    EXPECT_NE(window.boxes()[0].find("no track to profile"), std::string::npos) << window.boxes()[0];
    EXPECT_TRUE(window.profiles.empty());
#ifdef VG_NO_LIBXML2
    GTEST_SKIP() << "libxml2 is not available in this build: no GPX file to profile";
#endif
    test::write_file(dir / "walk.gpx",
                     "<gpx version=\"1.1\" creator=\"t\" xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>\n"
                     "<trkpt lat=\"60.170\" lon=\"24.930\"><ele>12.0</ele><time>2026-07-06T14:00:00Z</time></trkpt>\n"
                     "<trkpt lat=\"60.171\" lon=\"24.932\"><ele>15.5</ele><time>2026-07-06T14:01:00Z</time></trkpt>\n"
                     "</trkseg></trk></gpx>\n");
    window.next_open_file = (dir / "walk.gpx").string();
    app->on_command(Command::OpenGpx);
    window.clear();
    app->on_command(Command::Profile);
    EXPECT_TRUE(window.boxes().empty());
    ASSERT_EQ(window.profiles.size(), 1u);
    const ProfileDialogData& data = window.profiles[0];
    EXPECT_EQ(data.track_name, "walk.gpx");
    ASSERT_EQ(data.profile->points.size(), 2u);
    EXPECT_EQ(*data.profile->points[1].elevation_m, 15.5);

    // The dialog names the second point: a red mark at its place, gone when the pointer leaves.
    auto red_pixels = [&] { return pixels_of(0x20, 0x20, 0xd0); };
    app->paint();
    EXPECT_EQ(red_pixels(), 0);
    data.highlight(std::pair{60.171, 24.932});
    EXPECT_EQ(app->highlight(), (std::pair{60.171, 24.932}));
    app->paint();
    EXPECT_GE(red_pixels(), 50);  // the filled square of side 9
    data.highlight(std::nullopt);
    app->paint();
    EXPECT_EQ(red_pixels(), 0);
}

TEST_F(GpsFiles, ExportTrackWritesGpxThatValidates) {
    write_settings("", "file=track.txt\r\n");
    const std::string log = "60.169800 24.938400 - Mon Jul  6 14:00:00 2026\n"
                            "60.170000 24.939000 - Mon Jul  6 14:00:05 2026\n";
    test::write_file(dir / "track.txt", log);
    start();
    const std::string out = (dir / "out.gpx").string();
    window.next_save_file = out;
    app->on_command(Command::ExportTrack);
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_EQ(count_calls("save file Export Track track.gpx"), 1);
#ifdef _WIN32
    std::printf("Not checked on Windows: the GPX schema check runs xmllint, a Linux program, through a POSIX shell\n");
#else
    const std::string xsd = (test::shared_testdata() / "gpx/gpx11.xsd").string();
    EXPECT_EQ(std::system(("xmllint --noout --nonet --schema '" + xsd + "' '" + out + "' 2>/dev/null").c_str()), 0);
#endif
    EXPECT_NE(test::read_file(out).find("<trkpt lat=\"60.1698"), std::string::npos) << test::read_file(out);
    EXPECT_EQ(test::read_file(dir / "track.txt").substr(0, log.size()), log);  // the log is only read
    // A folder that cannot be written gets a box, and nothing is left behind.
    window.next_save_file = (dir / "no/such/dir/out.gpx").string();
    app->on_command(Command::ExportTrack);
    ASSERT_EQ(window.boxes().size(), 1u);
    EXPECT_NE(window.boxes()[0].find("cannot be written"), std::string::npos);
}

}  // namespace
}  // namespace vg
