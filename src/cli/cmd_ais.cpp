// vortool ais: decodes the !AIVDM / !AIVDO sentences of a log (any other lines skipped) into one JSON
// object per message, with gpsd's field names and values scaled as gpsd prints them by default
// (degrees, knots; "scaled":true), or as the messages carry them with --unscaled (gpsd's -u), so that
// the output can be compared with gpsd's. The descriptive "..._text" fields gpsd adds are left out
// (except a long-range report's status, which gpsd prints as its text when scaled).
#include <cstdio>
#include <map>
#include <string>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "gps/ais.h"

namespace vg::cli {
namespace {

class Json {
public:
    Json(const ais::Message& m, bool scaled) {
        out_ = "{\"class\":\"AIS\"";
        num("type", m.type);
        num("repeat", m.repeat);
        char mmsi[16];
        std::snprintf(mmsi, sizeof mmsi, "%u", m.mmsi);
        out_ += ",\"mmsi\":";
        out_ += mmsi;
        out_ += scaled ? ",\"scaled\":true" : ",\"scaled\":false";
    }
    void num(const char* key, long long v) {
        key_(key);
        out_ += std::to_string(v);
    }
    void flag(const char* key, bool v) {
        key_(key);
        out_ += v ? "true" : "false";
    }
    void text(const char* key, const std::string& v) {
        key_(key);
        append_json_string(out_, v, JsonText::utf8);
    }
    // A number already formatted (as gpsd formats it).
    void formatted(const char* key, const char* format, double v) {
        char text[48];
        std::snprintf(text, sizeof text, format, v);
        key_(key);
        out_ += text;
    }
    std::string done() { return out_ + "}\n"; }

private:
    void key_(const char* key) {
        out_ += ",\"";
        out_ += key;
        out_ += "\":";
    }
    std::string out_;
};

std::string two(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

void dimensions(Json& j, const ais::Message& m) {
    j.num("to_bow", m.to_bow);
    j.num("to_stern", m.to_stern);
    j.num("to_port", m.to_port);
    j.num("to_starboard", m.to_starboard);
}

// Scaled values, as gpsd prints them: degrees with six decimals (a long-range report: one), knots and
// degrees of course with one decimal, "nan" where a speed is not available.
struct Scale {
    bool on = false;
    void position(Json& j, const ais::Message& m) const {
        if (!on) {
            j.num("lon", m.lon);
            j.num("lat", m.lat);
        } else if (m.type == 27) {
            j.formatted("lon", "%.1f", m.lon / 600.0);
            j.formatted("lat", "%.1f", m.lat / 600.0);
        } else {
            j.formatted("lon", "%.6f", m.lon / 600000.0);
            j.formatted("lat", "%.6f", m.lat / 600000.0);
        }
    }
    void speed(Json& j, const ais::Message& m) const {
        if (!on) j.num("speed", m.speed);
        else if (m.speed == 1023) j.text("speed", "nan");
        else j.formatted("speed", "%.1f", m.speed / 10.0);
    }
    void course(Json& j, const ais::Message& m) const {
        if (!on) j.num("course", m.course);
        else j.formatted("course", "%.1f", m.course / 10.0);
    }
    void turn(Json& j, const ais::Message& m) const {
        if (!on) return j.num("turn", m.turn);
        if (m.turn == -128) return j.text("turn", "nan");
        if (m.turn == -127) return j.text("turn", "fastleft");
        if (m.turn == 127) return j.text("turn", "fastright");
        // The indicator is 4.733 times the square root of the rate in degrees a minute.
        const double root = m.turn / 4.733;
        j.formatted("turn", "%.0f", root < 0 ? -root * root : root * root);
    }
};

const char* status_text(int status) {
    static const char* const kText[] = {"Under way using engine", "At anchor", "Not under command",
                                        "Restricted manoeuverability", "Constrained by her draught", "Moored",
                                        "Aground", "Engaged in fishing", "Under way sailing",
                                        "Reserved for HSC", "Reserved for WIG", "Reserved",
                                        "Reserved", "Reserved", "AIS-SART is active", "Not defined"};
    return kText[status & 15];
}

// `names`: the last part A name of each MMSI, which a type 24 part B carries along as gpsd does.
std::string message_json(const ais::Message& m, std::map<std::uint32_t, std::string>& names, const Scale& sc) {
    Json j(m, sc.on);
    if (!m.decoded) return j.done();
    switch (m.type) {
    case 1: case 2: case 3:
        j.num("status", m.status);
        sc.turn(j, m);
        sc.speed(j, m);
        j.flag("accuracy", m.accuracy);
        sc.position(j, m);
        sc.course(j, m);
        j.num("heading", m.heading);
        j.num("second", m.second);
        j.num("maneuver", m.maneuver);
        j.flag("raim", m.raim);
        j.num("radio", m.radio);
        break;
    case 4:
        {
            char stamp[48];
            std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02dZ", m.year, m.month, m.day, m.hour,
                          m.minute, m.second);
            j.text("timestamp", stamp);
        }
        j.flag("accuracy", m.accuracy);
        sc.position(j, m);
        j.num("epfd", m.epfd);
        j.flag("raim", m.raim);
        j.num("radio", m.radio);
        break;
    case 5:
        j.num("imo", m.imo);
        j.num("ais_version", m.ais_version);
        j.text("callsign", m.callsign);
        j.text("shipname", m.shipname);
        j.num("shiptype", m.shiptype);
        dimensions(j, m);
        j.num("epfd", m.epfd);
        j.text("eta", two(m.eta_month) + "-" + two(m.eta_day) + "T" + two(m.eta_hour) + ":" + two(m.eta_minute) + "Z");
        if (sc.on) j.formatted("draught", "%.1f", m.draught / 10.0);
        else j.num("draught", m.draught);
        j.text("destination", m.destination);
        j.num("dte", m.dte ? 1 : 0);
        break;
    case 18: case 19:
        j.num("reserved", m.reserved);
        sc.speed(j, m);
        j.flag("accuracy", m.accuracy);
        sc.position(j, m);
        sc.course(j, m);
        j.num("heading", m.heading);
        j.num("second", m.second);
        j.num("regional", m.regional);
        if (m.type == 18) {
            j.flag("cs", m.cs);
            j.flag("display", m.display);
            j.flag("dsc", m.dsc);
            j.flag("band", m.band);
            j.flag("msg22", m.msg22);
            j.flag("raim", m.raim);
            j.num("radio", m.radio);
        } else {
            j.text("shipname", m.shipname);
            j.num("shiptype", m.shiptype);
            dimensions(j, m);
            j.num("epfd", m.epfd);
            j.flag("raim", m.raim);
            j.num("dte", m.dte ? 1 : 0);
            j.flag("assigned", m.assigned);
        }
        break;
    case 21:
        j.num("aid_type", m.aid_type);
        j.text("name", m.shipname);
        sc.position(j, m);
        j.flag("accuracy", m.accuracy);
        dimensions(j, m);
        j.num("epfd", m.epfd);
        j.num("second", m.second);
        j.num("regional", m.regional);
        j.flag("off_position", m.off_position);
        j.flag("raim", m.raim);
        j.flag("virtual_aid", m.virtual_aid);
        break;
    case 24: {
        // As gpsd: part A waits for its part B, which carries its name; a part B without one is dropped.
        const auto it = names.find(m.mmsi);
        if (it == names.end()) return {};
        j.text("shipname", it->second);
        names.erase(it);
        j.num("shiptype", m.shiptype);
        j.text("vendorid", m.vendorid);
        j.num("model", m.model);
        j.num("serial", m.serial);
        j.text("callsign", m.callsign);
        if (m.mothership_mmsi) j.num("mothership_mmsi", m.mothership_mmsi);
        else dimensions(j, m);
        break;
    }
    case 27:
        if (sc.on) j.text("status", status_text(m.status));
        else j.num("status", m.status);
        j.flag("accuracy", m.accuracy);
        sc.position(j, m);
        j.num("speed", m.speed);
        j.num("course", m.course);
        j.flag("raim", m.raim);
        j.flag("gnss", m.gnss);
        break;
    default:
        break;
    }
    return j.done();
}

}  // namespace

int run_ais(int argc, char** argv) {
    Scale scale{true};
    if (argc >= 1 && (std::string(argv[0]) == "--unscaled" || std::string(argv[0]) == "-u")) {
        scale.on = false;
        ++argv;
        --argc;
    }
    if (argc >= 1 && argv[0][0] == '-' && argv[0][1] != '\0') return usage_error("ais", "unknown option", argv[0]);
    if (argc > 1) return usage_error("ais", "reads one log file (or standard input)");
    std::FILE* in = argc == 1 && std::string(argv[0]) != "-" ? std::fopen(argv[0], "rb") : stdin;
    if (!in) {
        std::fprintf(stderr, "vortool ais: cannot read %s\n", argv[0]);
        return 1;
    }
    ais::AisAssembler assembler;
    std::map<std::uint32_t, std::string> names;
    std::string line;
    bool too_long = false;
    for (int c; (c = std::fgetc(in)) != EOF || !line.empty();) {
        if (c != '\n' && c != EOF) {
            // Lines longer than any sentence are dropped up to their end.
            if (line.size() < 1024) line += static_cast<char>(c);
            else too_long = true;
            continue;
        }
        if (!too_long) {
            if (const auto m = assembler.feed_line(line)) {
                const bool part_a = m->type == 24 && m->partno == 0;
                if (part_a) {
                    if (names.size() >= 4096) names.clear();  // bounded: parts A never completed
                    names[m->mmsi] = m->shipname;
                }
                const std::string json = part_a ? std::string() : message_json(*m, names, scale);
                if (json.empty() && !part_a)
                    std::fprintf(stderr, "vortool ais: a type 24 part B from %09u without its part A\n", m->mmsi);
                std::fwrite(json.data(), 1, json.size(), stdout);
            } else if (!assembler.last_error().empty()) {
                std::fprintf(stderr, "vortool ais: %s: %s\n", assembler.last_error().c_str(), line.c_str());
            }
        }
        line.clear();
        too_long = false;
        if (c == EOF) break;
    }
    const bool read_error = std::ferror(in);
    if (in != stdin) std::fclose(in);
    if (read_error) {
        std::fprintf(stderr, "vortool ais: read error\n");
        return 1;
    }
    return 0;
}

}  // namespace vg::cli
