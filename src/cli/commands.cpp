// The table of vortool commands with their help texts. A new command is one entry here (and its
// cmd_<name>.cpp): name, function, a one-line summary, its usage forms, a description with its exit
// statuses, and every option its forms name. The cli tests check that the table, the files and the
// programs agree.
#include "cli/commands.h"

namespace vg::cli {

int run_decode(int argc, char** argv);
int run_sim(int argc, char** argv);
int run_watch(int argc, char** argv);
int run_ports(int argc, char** argv);
int run_tile(int argc, char** argv);
int run_ele(int argc, char** argv);
int run_fetch(int argc, char** argv);
int run_gif(int argc, char** argv);
int run_mvt(int argc, char** argv);
int run_ais(int argc, char** argv);
int run_ntrip(int argc, char** argv);
int run_mqtt(int argc, char** argv);
int run_get(int argc, char** argv);
int run_post(int argc, char** argv);
int run_serve(int argc, char** argv);

int run_setting(int argc, char** argv);
int run_state(int argc, char** argv);

int run_render(int argc, char** argv);
int run_gpx(int argc, char** argv);
int run_stats(int argc, char** argv);
int run_fleet(int argc, char** argv);
int run_find(int argc, char** argv);
int run_route(int argc, char** argv);
int run_routing(int argc, char** argv);
int run_plot(int argc, char** argv);
int run_pack(int argc, char** argv);
int run_sources(int argc, char** argv);

namespace {

constexpr help::Option kSourceOption = {
    "--source SOURCE",
    "the map source: Etopo2, OpenStreetMap, GoogleMaps, VirtualEarth or MapQuest (the first letter is "
    "enough, any case), or its number 1 to 5"};
constexpr help::Option kCatalogueSourceOption = {
    "--source SOURCE",
    "the map source: any name of the tile catalogue (vortool sources; vor_src.txt of the working folder), "
    "Atlas (the built-in world map), the name of a map pack in the packs folder of the cache root, or an "
    "original source by its first letter or number 1 to 5"};
constexpr help::Option kLevelOption = {"--level L", "zoom level 0 (World) to 4 (Street); Etopo2 has level 0 only"};
constexpr help::Option kLatOption = {"--lat A", "latitude in degrees, north positive"};
constexpr help::Option kLonOption = {"--lon B", "longitude in degrees, east positive"};
constexpr help::Option kAerialOption = {"--aerial", "the aerial-photo layer (GoogleMaps, VirtualEarth, MapQuest)"};
constexpr help::Option kBigOption = {"--big", "the 4 x 4-tile view of Big Maps instead of 2 x 2"};
constexpr help::Option kRootOption = {"--root DIR", "the tile cache folder (the maps setting of vor_ini.txt); its packs "
                                                    "folder holds the map packs"};
constexpr const char* kDeviceText =
    "the receiver type, by its first letter in any case, like the unit setting: N NMEA, U EarthMate USB, "
    "T TripMate (all three NMEA 0183), E EarthMate (Zodiac binary), G Garmin (Garmin binary); decode also "
    "takes the whole words gpsd (gpsd's JSON reports) and network (NMEA)";

}  // namespace

const std::vector<Command>& command_table() {
    static const std::vector<Command> table = {
        {"decode", run_decode, "decode a receiver recording into fix records (JSON)",
         {"vortool decode --device DEVICE [--zone HOURS] [--chunk N] [--every] [--replies FILE] [FILE]"},
         "Reads what a GPS receiver sent (a log file, or standard input without FILE or with -), feeds it to "
         "the decoder of the receiver type in chunks exactly as the program does with a live receiver, and "
         "prints the fix record as one JSON line: utc, local, lat, lon, alt, speed_knots, course, fix, "
         "sats_in_view, satellites, last_message, talker and sky.\n"
         "\n"
         "Exit status 1 when the log cannot be read or the replies cannot be written, 2 for wrong arguments "
         "or a device type without a decoder.",
         {{"--device DEVICE", kDeviceText},
          {"--zone HOURS", "whole hours, -23 to 23, added to the receiver's UTC for the local time"},
          {"--chunk N", "bytes handed to the decoder at a time, 1 to 1048576 (default 80, as read from the port)"},
          {"--every", "print the record after every chunk that changed it, not once at the end"},
          {"--replies FILE", "write the bytes the program would send back to the receiver (start-up answers)"}}},

        {"sim", run_sim, "play a GPS receiver on a pseudo-terminal",
         {"vortool sim --device DEVICE [--track FILE] [--rate HZ] [--tcp PORT | --udp HOST:PORT] [--ais N] [--rtcm FILE]"},
         "Opens a pseudo-terminal, prints its path (such as /dev/pts/3) as the first line and then behaves "
         "like a receiver of the given type on it until interrupted: NMEA types send RMC, GGA, GSA and GSV "
         "sentences (a TripMate first greets with ASTRAL lines until answered), an EarthMate greets with "
         "EARTHA and then sends Zodiac messages, a Garmin answers position and time requests. Map a COM port "
         "to the printed path with a comN line of vor_ini.txt to watch it in the window.\n"
         "\n"
         "Exit status 1 when the track cannot be read or the terminal cannot be opened, 2 for wrong "
         "arguments.",
         {{"--device DEVICE", kDeviceText},
          {"--track FILE", "positions to play in a loop, one \"latitude longitude ...\" line each, as the track "
                           "log is written; without it a loop of about 1 km around the default start position"},
          {"--rate HZ", "fixes per second, above 0 and at most 100 (default 1)"},
          {"--tcp PORT", "NMEA types: serve the sentences to every client of 127.0.0.1:PORT instead of a terminal "
                         "(first line tcp://127.0.0.1:PORT)"},
          {"--udp HOST:PORT", "NMEA types: send each second's sentences as one datagram to the IPv4 HOST:PORT"},
          {"--rtcm FILE", "act as an RTK receiver: every byte the program writes to the terminal (its RTCM "
                          "corrections) is appended to FILE; "
                          "NMEA types report RTK float, then RTK fixed, while valid frames come"},
          {"--ais N", "NMEA types: add N AIS targets (0 to 100) on courses crossing the simulated track, as "
                      "!AIVDM lines after each epoch's sentences"}}},

        {"watch", run_watch, "print the fix of this folder's receiver as it changes",
         {"vortool watch [--device DEVICE] [--seconds S]"},
         "Opens the receiver that vor_set.txt and vor_ini.txt of the current folder name (the serial port and "
         "unit, gpsd, NMEA network or Remote) exactly as the window would, and prints the fix record as one "
         "JSON line in the form of vortool decode whenever it changes, from the receiver's first time, position "
         "or satellites on (nothing before that), until S seconds have passed or it is "
         "interrupted. Checks a receiver without the window.\n"
         "\n"
         "Exit status 1 when the receiver cannot be opened (with the cause), 2 for wrong arguments.",
         {{"--device DEVICE", "the device type instead of the unit setting (as for decode, also gpsd and network)"},
          {"--seconds S", "stop after S seconds (default: run until interrupted)"}}},

        {"ports", run_ports, "list the serial ports a receiver can be on, as JSON",
         {"vortool ports"},
         "Prints the serial devices of this machine as the COM settings dialog lists them: a JSON array with "
         "one object per device, its keys path (what to write as a comN line: the /dev/serial/by-id name when "
         "the device has one), device (the kernel's name, /dev/ttyACM0), kind (usb, acm, bluetooth or "
         "serial), description (what the system says: maker, product, USB id, driver) and accessible "
         "(whether this user may open it; when not, join the dialout group). Listed are the by-id names "
         "first, then ttyUSB*, ttyACM*, rfcomm* and the ttyS* ports that have a chip behind them.\n"
         "\n"
         "Exit status 2 for wrong arguments.",
         {}},

        {"tile", run_tile, "show where a position's tile lies and where it is cached",
         {"vortool tile --source SOURCE --level L (--lat A --lon B | --x X --y Y) [--aerial] [--root DIR]"},
         "Prints one JSON object with the world pixel (x, y), the tile's row and column, its cache folder "
         "and path and, for the Mercator services, the Virtual Earth quadkey.\n"
         "\n"
         "Exit status 1 when the source has no such level or layer, 2 for wrong arguments.",
         {kSourceOption, kLevelOption, kLatOption, kLonOption,
          {"--x X", "world pixel column, instead of --lat and --lon"},
          {"--y Y", "world pixel row"},
          kAerialOption,
          {"--root DIR", "the tile cache folder the paths start from (default ./Maps)"}}},

        {"fetch", run_fetch, "download the missing tiles of a view into the cache",
         {"vortool fetch --root DIR --source SOURCE --level L --lat A --lon B [--aerial] [--big]"},
         "Fills the cache for the view around a position the way the window does on line: missing tiles "
         "are downloaded through the proxy of vor_ini.txt in the working folder; tiles of the Atlas and "
         "Etopo2 are drawn and those of a map pack copied out of it, with no network. Prints one JSON line per "
         "view cell with slot, path and ok.\n"
         "\n"
         "Exit status 1 when the source has no such level or layer, 2 for wrong arguments; a tile that could "
         "not be had is reported with ok false, and the reason (blocked, rate limited, no tile there...) once "
         "per source on standard output.",
         {kRootOption, kCatalogueSourceOption, kLevelOption, kLatOption, kLonOption, kAerialOption, kBigOption}},

        {"render", run_render, "draw the view around a position from the tile cache into a picture",
         {"vortool render --root DIR --source SOURCE --level L --lat A --lon B [--aerial] [--big] [--hair N] "
          "[--track] [--online] [--night] --out FILE"},
         "Draws the view exactly as the window does off line: the tiles around the tile corner nearest the "
         "position, grey squares where none is cached, the cross-hair and the yellow position marker. Cached "
         "tiles that cannot be decoded are deleted, as in the window. Prints one line, \"centre X Y side W "
         "cached N marker C R\", followed by \"outside\" when the position lies beyond the view.\n"
         "\n"
         "Exit status 1 when the source has no tiles at that level or the picture cannot be written, 2 for "
         "wrong arguments.",
         {kRootOption, kCatalogueSourceOption, kLevelOption, kLatOption, kLonOption, kAerialOption, kBigOption,
          {"--online", "fetch the view's missing (and revalidate its stale) tiles first, as the window on line"},
          {"--hair N", "cross-hair width as the hair setting (default 1; 0 draws none)"},
          {"--track", "no cross-hair, as with the Track option on"},
          {"--night", "vector sources in their night style, as with the Night option on"},
          {"--out FILE", "the picture of the whole view: .bmp (24-bit, top-down), .ppm or .png by the name"}}},

        {"gif", run_gif, "convert between PPM and GIF with the cache's own GIF codec",
         {"vortool gif encode IN.ppm OUT.gif", "vortool gif decode IN.gif OUT.ppm"},
         "encode writes a binary PPM (P6, 24-bit) picture as GIF87a with the fixed palette of the Etopo2 "
         "tiles; decode writes the first image of a GIF at the logical screen's size as a binary PPM.\n"
         "\n"
         "Exit status 1 when a file cannot be read, decoded or written, 2 for wrong arguments.",
         {}},

        {"mvt", run_mvt, "print the features of a vector tile as JSON lines",
         {"vortool mvt FILE"},
         "Reads one vector tile (Mapbox Vector Tile 2.1, raw or gzip-compressed as map packs store them) and "
         "prints each feature of each layer as one line of JSON: {\"layer\": NAME, \"id\": ID or null, "
         "\"type\": \"Point\", \"LineString\", \"Polygon\" or \"Unknown\", \"properties\": {KEY: VALUE, ...}, "
         "\"geometry\": [[[x, y], ...], ...]}, one list per point, line or ring (rings closed, exterior rings "
         "clockwise on screen), in tile coordinates (0 to the layer's extent, y down). A malformed tile is "
         "refused whole: the reason goes to standard error.\n"
         "\n"
         "Exit status 1 when the file cannot be read or the tile is malformed (or, in a build without "
         "vector tiles, not available in this build), 2 for wrong arguments.",
         {}},

        {"ais", run_ais, "decode the AIS sentences of a log as JSON lines",
         {"vortool ais [--unscaled] [FILE]"},
         "Reads a log (FILE, or standard input) and decodes its !AIVDM and !AIVDO sentences (other lines are "
         "skipped; multi-sentence messages are put together) into one line of JSON per message, with gpsd's "
         "field names and values scaled as gpsdecode prints them (\"scaled\":true): degrees, knots and "
         "degrees of course. Types 1-5, 18, 19, 21, 24 and 27 are decoded field by field; others give their "
         "type, repeat and MMSI. As gpsd does, a type 24 part A is kept until its part B, which is printed with "
         "the name; a part B without its part A is named on standard error. A sentence with a bad checksum or "
         "malformed fields is named on standard error and skipped.\n"
         "\n"
         "Exit status 1 when the file cannot be read, 2 for wrong arguments.",
         {{"--unscaled", "the values as the messages carry them, as gpsdecode -u prints them (\"scaled\":false): "
                         "positions in 1/10000 minute (type 27: 1/10 minute), speed in 1/10 knot, course in 1/10 "
                         "degree; -u is the same"}}},

        {"ntrip", run_ntrip, "list an NTRIP caster's mountpoints or record its RTCM 3 corrections",
         {"vortool ntrip sources URL [--near LAT,LON] [--password-file FILE] [--v1]",
          "vortool ntrip get URL --out FILE [--seconds N] [--password-file FILE] [--v1]"},
         "URL is http://[user@]host[:port]/MOUNT (port 2101 when left out). sources prints the caster's source "
         "table, one mountpoint a line: name, format, format details, network, country and position, with the "
         "distance from LAT,LON and nearest first when --near is given. get streams the mountpoint's corrections "
         "into FILE, whole RTCM 3 frames whose checksum holds only, until N seconds have passed or it is "
         "interrupted, reconnecting when the caster goes away; a failure (401, no such mountpoint, refused) is "
         "named on standard error, and the count of frames at the end. With a user in the URL the password is "
         "read from ntrip_password.txt in the working folder (or FILE), which only its owner may read; it is "
         "never printed.\n"
         "\n"
         "Exit status 1 when the caster cannot be read (get: when no frame came), 2 for wrong arguments.",
         {{"--near LAT,LON", "sort by distance from this position (degrees), nearest first"},
          {"--out FILE", "the file the frames are written to"},
          {"--seconds N", "stop after N seconds"},
          {"--password-file FILE", "the file holding the password (default ntrip_password.txt)"},
          {"--v1", "use NTRIP 1 requests (default NTRIP 2)"}}},
        {"mqtt", run_mqtt, "publish to the fleet's MQTT broker, or print the fleet's positions",
         {"vortool mqtt publish LAT LON [--url URL] [--name NAME] [--password-file FILE] [--cafile FILE]",
          "vortool mqtt watch [--seconds S] [--count N] [--url URL] [--password-file FILE] [--cafile FILE]"},
         "Uses the mqtt=, mqttpass=, cafile= and name= lines of vor_ini.txt in the working folder, as the "
         "program does (see \"The fleet over MQTT\" in the manual); the options override them. publish sends "
         "one position (retained, with the current time) to PREFIX/NAME and waits for the broker to take it. "
         "watch subscribes to PREFIX/+ and prints each position as one line of JSON, {\"id\": the topic's "
         "last level, then the message's fields}, until S seconds have passed or N positions were printed "
         "(without either, until it is stopped). Malformed messages are skipped.\n"
         "\n"
         "Exit status 1 when the password file is refused, the broker refuses the user or the topic, the TLS "
         "certificate is not verified, or (publish) nothing was taken within 10 seconds; 2 for wrong arguments.",
         {{"--url URL", "mqtts://USER@HOST:PORT/PREFIX (or mqtt:// without TLS) instead of the mqtt= line"},
          {"--name NAME", "the topic level published under instead of the name= line (default: the user)"},
          {"--password-file FILE", "the file holding the password (only its owner may read it)"},
          {"--cafile FILE", "a further certificate authority to trust besides the system's"},
          {"--seconds S", "watch: stop after S seconds"},
          {"--count N", "watch: stop after N positions"}}},

        {"get", run_get, "fetch a URL (http:// own client, https:// verified TLS)",
         {"vortool get URL [FILE]"},
         "One GET request, through the proxy of vor_ini.txt in the working folder when it names one. The body "
         "is written to FILE; without FILE it is only fetched. http:// addresses go through the program's own "
         "client; https:// addresses through libcurl, with the certificate and host name checked against the "
         "system's authorities and the cafile= line of vor_ini.txt, the User-Agent naming the contact= line, "
         "and CONNECT through the proxy. A failure prints one line \"Error: CODE in URL: cause\".\n"
         "\n"
         "Exit status 0 when the transfer succeeded, 1 otherwise, 2 for wrong arguments.",
         {}},

        {"post", run_post, "post a form body with the program's HTTP client",
         {"vortool post URL BODY"},
         "One form POST (application/x-www-form-urlencoded), through the proxy of vor_ini.txt in the working "
         "folder when it names one, as the program sends its position to a base server:\n"
         "\n"
         "  vortool post http://HOST:4477/vor/sendbase.cgi 'latitude=60.175000&longitude=24.950000'\n"
         "\n"
         "Exit status 0 when the request was sent, 1 otherwise, 2 for wrong arguments.",
         {}},

        {"serve", run_serve, "run the position server that Remote mode listens with",
         {"vortool serve --port P [--bind ADDR]"},
         "Runs the position server in the foreground and prints {\"lat\":..,\"lon\":..} for every accepted "
         "position (with \"speed\" in knots, \"course\", \"alt\", \"accuracy\" and \"time\" in seconds since "
         "1970 when a phone tracker sent them) and {\"stale\":true} when the fix is dropped, until interrupted (Ctrl-C or SIGTERM).\n"
         "\n"
         "Exit status 1 when the port cannot be opened, 2 for wrong arguments.",
         {{"--port P", "the TCP port, 0 to 65535 (0 picks a free one, reported on standard error)"},
          {"--bind ADDR", "the address to listen on, as the bind setting (default: the host name's first address)"}}},

        {"sources", run_sources, "list the tile sources of the catalogue, as JSON",
         {"vortool sources [--root DIR]"},
         "Prints the tile source catalogue as the program reads it in the working folder (the built-in "
         "sources, then the lines of vor_src.txt, then with --root the map packs of DIR/packs), one JSON line per source and layer with the keys name, "
         "layer, template, zooms, attribution, conn, nobulk, fresh, maxzoom, menu_id and kind (original, remote, local, pack, vector, remote-vector, "
         "or dem for an elevation source, which also has dem: terrarium or terrainrgb). A malformed line of "
         "vor_src.txt is named on standard error with its line number and skipped.\n"
         "\n"
         "Exit status 2 for wrong arguments.",
         {kRootOption}},

        {"ele", run_ele, "print the height of a place from the elevation data, as JSON",
         {"vortool ele LAT LON [--root DIR]"},
         "Prints {\"lat\":..,\"lon\":..,\"ele_m\":..,\"source\":..} for the place LAT, LON (degrees, north and "
         "east positive): the height in metres from the .hgt files of DIR/dem (source hgt), else from the cached "
         "tiles of the first elevation source (kind=dem) of vor_src.txt in the working folder (source dem). "
         "Nothing is downloaded: fetch the tiles first (vortool fetch --source NAME).\n"
         "\n"
         "Exit status 1 with \"no elevation data at LAT, LON\" on standard error where there is none; 2 for "
         "wrong arguments.",
         {{"--root DIR", "the maps folder (the maps setting of vor_ini.txt; default .\\Maps)"}}},

        {"setting", run_setting, "read a settings key, or change one in vor_set.txt",
         {"vortool setting get FILE KEY", "vortool setting set KEY VALUE"},
         "get prints the value the program would read for KEY from FILE (exit status 1 when there is none). "
         "set changes KEY in vor_set.txt of the working folder the way the menus do (exit status 1 unless "
         "the file existed and was rewritten). Exit status 2 for wrong arguments.",
         {}},

        {"state", run_state, "print what the program takes from the settings files, as JSON",
         {"vortool state"},
         "Prints, as one JSON line, the window state that the program would build from the settings files of "
         "the working folder. Missing files are not written.\n"
         "\n"
         "Exit status 2 for wrong arguments.",
         {}},

        {"gpx", run_gpx, "write a track log as GPX 1.1",
         {"vortool gpx TRACKFILE [--name NAME]"},
         "Reads a track log (the file setting of vor_ini.txt: \"latitude longitude - calendar time\" lines) and "
         "writes it to standard output as GPX 1.1: one track named NAME (default: the file's name), one segment "
         "for each run of the program (a new run where the time steps back or jumps by more than ten minutes), "
         "times in UTC. The log's times are local; they are read in this process's time zone (TZ). Lines that "
         "are not a position are skipped; the log itself is never changed.\n"
         "\n"
         "Exit status 1 when the log cannot be read or the output cannot be written, 2 for wrong arguments.",
         {{"--name NAME", "the track's name in the file"}}},

        {"stats", run_stats, "print the trip figures of a saved track (JSON)",
         {"vortool stats [--dem DIR] FILE"},
         "Reads a track (a GPX file, a track log of the file setting, or a recording's .journal) and prints one "
         "JSON object of its trip figures, worked out as the Trip window works them out live: distance_m, "
         "moving_s, total_s, avg_moving_kmh, max_kmh, ascent_m, descent_m, min_ele_m, max_ele_m and points. "
         "A figure the track cannot give is null: the times and speeds without timed points, the heights "
         "without heights. Nothing is measured across segments (GPX segments, the log's runs, the "
         "recording's gaps). Track log times are read in this process's time zone (TZ).\n"
         "\n"
         "Exit status 1 when the file cannot be read, is malformed GPX, or DIR has no elevation data, 2 for "
         "wrong arguments.",
         {{"--dem DIR", "heights from the elevation data of the maps folder DIR instead of the track's"}}},
        {"fleet", run_fleet, "export a fleet device's stored positions as GPX 1.1",
         {"vortool fleet export --device ID [--from T] [--to T] [--db FILE] OUT.gpx"},
         "Reads the fleet history (fleet.sqlite of the working folder, or FILE) and writes the positions of "
         "device ID between the two times (seconds since 1970 or an ISO 8601 date and time, UTC unless it "
         "names a zone; both optional) to OUT.gpx as one GPX 1.1 track named after the device, oldest first.\n"
         "\n"
         "Exit status 1 when the history cannot be read or OUT cannot be written, 2 for wrong arguments.",
         {{"--device ID", "the device's id, as its tracker or copy sends it"},
          {"--from T", "the first time kept"},
          {"--to T", "the last time kept"},
          {"--db FILE", "the history file instead of fleet.sqlite"}}},
        {"find", run_find, "find places by name in the vector packs (JSON lines)",
         {"vortool find TEXT [--near LAT,LON] [--limit N] [--root DIR]"},
         "Searches the names of places, streets, points of interest and house numbers of the vector packs of "
         "DIR/packs, off line, and prints the best matches as JSON lines, best first: {\"name\":..,\"kind\":..,"
         "\"lat\":..,\"lon\":..,\"distance_m\":..,\"pack\":..,\"also\":[..]}. Every word of TEXT must start a "
         "word of the name, in any case and with or without accents, in any script; kind is the tile "
         "layer and class (place/town, transportation_name/primary, housenumber); also holds the place's names "
         "in other languages. Results are ranked by how well the name matches and, with --near, by the distance "
         "from there (distance_m, else null). A pack's index (PACK.search.sqlite beside it) is made first when "
         "it is missing or the pack has changed, with a line on standard error. TEXT that is a position "
         "(\"52.52, 13.405\", \"52 31 12 N 13 24 18 E\", \"N 52 31.2 E 13 24.3\") gives it first, kind "
         "coordinates.\n"
         "\n"
         "Exit status 1 when nothing is found, 2 for wrong arguments.",
         {{"--near LAT,LON", "rank nearer places first (any form TEXT takes)"},
          {"--limit N", "at most N results, 1 to 1000 (default 10)"},
          {"--root DIR", "the maps folder (the maps setting of vor_ini.txt; default .\\Maps)"}}},
        {"route", run_route, "a route between two positions, off line (JSON or GPX)",
         {"vortool route FROM TO [--profile car|bicycle|foot] [--via LAT,LON]... [--gpx] [--shortest] [--maps DIR] "
          "[--region NAME] [--router URL]"},
         "Finds the way from FROM to TO (positions in any form vortool find takes, \"47.501,10.010\"), through "
         "each --via position in order, with Routino over the routing data of DIR/routing/NAME (made by vortool "
         "routing build), or with the router at URL (OSRM, Valhalla or GraphHopper). Prints one JSON object: profile, router, length_m, "
         "time_s, legs (length_m, time_s between consecutive positions), manoeuvres (lat, lon, text such as "
         "\"Turn left onto High Street\", street, turn_deg, distance_m to the next one; the last is \"Arrive\") "
         "and line (every point of the way as [lat,lon]); with --gpx the GPX 1.1 route instead (a rte of the "
         "manoeuvres and a trk of the line).\n"
         "\n"
         "Exit status 1 when there is no routing data or no route (the reason on standard error), 2 for wrong "
         "arguments.",
         {{"--profile car|bicycle|foot", "who travels (default car): one-way streets bind cars and bicycles, "
                                        "footpaths are for walkers"},
          {"--via LAT,LON", "a position to pass on the way (repeatable, in order)"},
          {"--gpx", "print GPX 1.1 instead of JSON"},
          {"--shortest", "the shortest way instead of the quickest (Routino)"},
          {"--maps DIR", "the maps folder (the maps setting of vor_ini.txt; default .\\Maps)"},
          {"--region NAME", "the routing data to use (needed when DIR/routing holds several)"},
          {"--router URL", "ask the router at URL instead of Routino: OSRM at http://HOST:PORT, or "
                           "valhalla:URL, graphhopper:URL"}}},
        {"routing", run_routing, "build, download or list the routing data of the maps folder",
         {"vortool routing build FILE --region NAME [--maps DIR]",
          "vortool routing download --region NAME [--url URL] [--maps DIR]", "vortool routing list [--maps DIR]"},
         "build turns an OSM extract (FILE: .osm.pbf, .osm, .osm.bz2, .osm.gz or .o5m) into the routing data "
         "of region NAME, DIR/routing/NAME, with Routino's planetsplitter (a few seconds for a town, minutes "
         "for a country); the previous data of NAME stay until the new data are complete. download first "
         "fetches the extract to DIR/routing/NAME.osm.pbf from URL or from the extract service of vor_ini.txt "
         "(extracts=, with {region} for NAME), going on where a broken download stopped, then builds. "
         "Progress goes to standard error; the folder made is printed. list prints the regions with routing "
         "data, one a line.\n"
         "\n"
         "Exit status 1 when the extract cannot be fetched or read or planetsplitter fails, 2 for wrong "
         "arguments.",
         {{"--region NAME", "the region's name: letters, digits, - _ . and spaces"},
          {"--url URL", "where to download the extract from"},
          {"--maps DIR", "the maps folder (default .\\Maps)"}}},
        {"plot", run_plot, "draw a track's elevation or speed profile as PNG or SVG",
         {"vortool plot --profile elevation|speed FILE --out FILE.png|FILE.svg [--x distance|time] [--size WxH] "
          "[--units UNITS]"},
         "Reads a track (a GPX file, a recording's .journal or the track log) and draws its profile as the "
         "window's Profile dialog does: the heights as a filled area, or the speeds as a line (the fix's speed "
         "where the file has one, else from the positions over time with single jumps damped), against the "
         "distance along the track or the time since its first point, with round ticks, a title and the "
         "lowest and highest values marked. Segments are drawn apart; points without a height or time leave "
         "a gap. Prints \"points N length_m L seconds S\".\n"
         "\n"
         "Exit status 1 when the file cannot be read, is no track, has no heights (or speeds, or times for "
         "--x time) or the picture cannot be written, 2 for wrong arguments.",
         {{"--profile elevation|speed", "what is drawn: the heights or the speeds"},
          {"--out FILE", "the picture: PNG or SVG by the name's ending"},
          {"--x distance|time", "the x axis: distance along the track (default) or time since its start"},
          {"--size WxH", "the picture's size in pixels, each 100 to 8000 (default 800x400)"},
          {"--units UNITS", "metric (km, m, km/h), imperial (mi, ft, mph) or nautical (NM, m, kn); default: "
                            "by the speed setting of vor_ini.txt in the working folder"}}},

        {"pack", run_pack, "map packs: describe, export cached tiles, extract a region",
         {"vortool pack info FILE",
          "vortool pack export --source SOURCE --bounds W,S,E,N --levels A-B [--aerial] [--root DIR] OUT.mbtiles",
          "vortool pack extract --from URL|FILE|SOURCE --bounds W,S,E,N --zooms A-B OUT.pmtiles"},
         "info prints what a map pack holds. For an MBTiles pack: name, format, scheme, zooms, bounds, "
         "attribution and the number of tiles at each zoom. For a PMTiles archive: tile type, tile and "
         "internal compressions, zooms, bounds, centre, the numbers of tiles, entries and distinct tiles, and "
         "whether it is clustered. For vector packs (MBTiles format pbf, PMTiles tile type mvt) also each layer "
         "with its zooms and fields, and the tile schema the layers suggest (openmaptiles, protomaps or "
         "unknown). Control characters in the pack's text are printed as \\xNN escapes. The "
         "pack is opened read only and never changed. A pack that cannot be used (damaged, not a map pack, "
         "WebP, a compression not in this build, an endless or enormous view or table) is refused with the "
         "reason, naming the file.\n"
         "\n"
         "export writes the cached tiles of a source inside an area as a new raster pack (MBTiles 1.3, TMS rows) "
         "that this program and others read; it downloads nothing, and prints the number of tiles of each level. "
         "Sources whose tile policy forbids offline archives (nobulk, such as OpenStreetMap) are refused. The "
         "pack is written under a temporary name, flushed to the disk, and appears only when complete.\n"
         "\n"
         "extract copies the tiles of an area and zooms out of a PMTiles archive, at an https address (read "
         "with range requests: only the directories and tiles of the area) or in a file, into a new PMTiles "
         "file. It first prints how many tiles and megabytes it will fetch, then its progress on standard "
         "error. It builds OUT.part with a journal beside it: run the same command again after an interruption "
         "and it fetches only what is missing (or starts over when the archive changed on the server); OUT "
         "appears when complete. A catalogue source whose policy forbids offline archives (nobulk) is refused.\n"
         "\n"
         "Exit status 1 for a pack that cannot be used, a refused source, an area without cached tiles, an "
         "extract that failed or a file that cannot be written, 2 for wrong arguments.",
         {kCatalogueSourceOption,
          {"--bounds W,S,E,N", "the area: west, south, east and north edges in degrees (west above east crosses "
                               "the date line)"},
          {"--levels A-B", "zoom levels 0 (World) to 4 (Street), such as 0-4 or 2-3"},
          {"--aerial", "the aerial-photo layer"},
          {"--root DIR", "the tile cache folder (default .\\Maps)"},
          {"--from URL|FILE|SOURCE", "extract: the archive: an https address, a file, or a catalogue source whose "
                                     "template is the archive's address"},
          {"--zooms A-B", "extract: web zooms 0 to 31, such as 0-14"}}},
    };
    return table;
}

}  // namespace vg::cli
