#include "settings/preferences.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/files.h"
#include "settings/settings_file.h"
#include "settings/text_scan.h"

namespace vg {

namespace {

const char* file_name(SettingsFile f) { return f == SettingsFile::set ? kSetFile : kIniFile; }

// A whole decimal number in [low, high] and nothing else.
std::optional<long> whole_number(std::string_view text, long low, long high) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < low || n > high) return std::nullopt;
    return n;
}

bool one_of(std::string_view value, std::initializer_list<std::string_view> choices) {
    return std::find(choices.begin(), choices.end(), value) != choices.end();
}

// "host:port" with a host of letters, digits, '.', '-', '_' (empty when `host_optional`) and a port
// 1..65535.
std::string host_port_problem(std::string_view text, bool host_optional) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return "write it as host:port";
    const std::string_view host = text.substr(0, colon);
    if (host.empty() && !host_optional) return "the host is missing";
    for (char c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            return "the host holds a character a host name cannot";
    if (!whole_number(text.substr(colon + 1), 1, 65535)) return "the port must be a number from 1 to 65535";
    return {};
}

bool yes_or_no(std::string_view value) { return value == "yes" || value == "no"; }

// The largest cache size limit, in megabytes (100 TB): more would overflow no count, but no disk holds it.
constexpr long kMaxCacheMegabytes = 100'000'000;

// The check of each key's value; "" when it can be saved.
std::string value_problem(std::string_view name, std::string_view v) {
    if (name == "unit") return v.empty() ? "choose a receiver" : "";
    if (name == "port") {
        // COMn[,baud[,parity[,databits[,stopbits]]]]
        if (!port_number_of(v)) return "the port must start with COM and a number from 0 to 255";
        std::vector<std::string_view> fields;
        std::size_t start = 0;
        for (;;) {
            const auto comma = v.find(',', start);
            fields.push_back(v.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        if (fields.size() > 5) return "too many fields after the port";
        if (fields.size() > 1 &&
            !one_of(fields[1], {"1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"}))
            return "the speed must be one of 1200 to 115200 bits per second";
        if (fields.size() > 2 && !one_of(fields[2], {"n", "e", "o"})) return "the parity must be n, e or o";
        if (fields.size() > 3 && !whole_number(fields[3], 5, 8)) return "the data bits must be 5 to 8";
        if (fields.size() > 4 && !one_of(fields[4], {"1", "2"})) return "the stop bits must be 1 or 2";
        return {};
    }
    if (name == "shading") return whole_number(v, 0, 100) ? "" : "must be a whole number of percent from 0 to 100";
    if (name == "night" || name == "hillshade" || name == "plot" || name == "record") return yes_or_no(v) ? "" : "must be yes or no";
    if (name == "gpsd") return v.empty() ? "" : host_port_problem(v, false);
    if (name == "nmea") {
        if (v.empty()) return {};
        if (v.substr(0, 6) == "tcp://") return host_port_problem(v.substr(6), false);
        if (v.substr(0, 6) == "udp://") return host_port_problem(v.substr(6), true);
        return "write it as tcp://host:port or udp://:port";
    }
    if (name == "base") {
        std::string_view text = v;
        if (text.substr(0, 7) == "http://") text.remove_prefix(7);
        return host_port_problem(text, false);
    }
    if (name == "bind") {
        if (v.empty()) return {};
        int parts = 0;
        std::size_t start = 0;
        for (;;) {
            const auto dot = v.find('.', start);
            const auto part = v.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
            if (!whole_number(part, 0, 255) || ++parts > 4) return "write an address such as 0.0.0.0 or 127.0.0.1";
            if (dot == std::string_view::npos) break;
            start = dot + 1;
        }
        return parts == 4 ? "" : "write an address such as 0.0.0.0 or 127.0.0.1";
    }
    if (name == "relaykey") {
        if (v.empty()) return {};
        if (trim_blanks(v) != v) return "the key cannot start or end with a blank";
        return v.size() < 8 ? "the key must be at least 8 characters long" : "";
    }
    if (name == "prxy") return v.empty() ? "" : host_port_problem(v, false);
    if (name == "speed") return one_of(v, {"kmh", "mph", "kn"}) ? "" : "must be kmh, mph or kn";
    if (name == "zone") {
        if (v == "local" || v.empty()) return {};
        TextScanner scan(v);
        const auto hours = scan.integer();
        if (!hours || *hours < -12 || *hours > 14) return "write local, or hours from -12 to 14 and a label";
        const auto label = scan.word();
        scan.skip_space();
        if (label && label->size() > 7) return "the label can have at most 7 characters";
        if (!scan.at_end()) return "only one label word can follow the hours";
        return {};
    }
    if (name == "hair") return whole_number(v, 0, 99) ? "" : "must be a whole number of pixels from 0 to 99";
    if (name == "stale") return whole_number(v, 1, 3600) ? "" : "must be a whole number of seconds from 1 to 3600";
    if (name == "recsplit") return one_of(v, {"day", "none"}) ? "" : "must be day or none";
    if (name == "cachemb")
        return whole_number(v, 0, kMaxCacheMegabytes) ? "" : "must be whole megabytes, 0 for none";
    if (name == "file") return v.size() > 63 ? "at most 63 characters are used" : "";
    return {};  // paths: cafile, recdir, comN
}

}  // namespace

const std::vector<PreferenceKey>& preference_keys() {
    static const std::vector<PreferenceKey> keys = {
        // Receiver.
        {"unit", SettingsFile::set, "unit", "EarthMate"},
        {"port", SettingsFile::set, "port", "COM1"},
        {"gpsd", SettingsFile::ini, "gpsd=", ""},
        {"nmea", SettingsFile::ini, "nmea=", ""},
        {"base", SettingsFile::ini, "base", kDefaultBaseValue},
        {"bind", SettingsFile::ini, "bind", ""},
        {"relaykey", SettingsFile::ini, "relaykey", ""},
        // Maps.
        {"cafile", SettingsFile::ini, "cafile=", ""},
        {"prxy", SettingsFile::ini, "prxy", ""},
        {"cachemb", SettingsFile::ini, "cachemb=", "0"},
        // Display.
        {"speed", SettingsFile::ini, "speed=", "kmh"},
        {"zone", SettingsFile::ini, "zone", "0"},
        {"hair", SettingsFile::ini, "hair", "0"},
        {"night", SettingsFile::set, "night", "no"},
        {"hillshade", SettingsFile::set, "hillshade", "no"},
        {"shading", SettingsFile::set, "shading", "60"},
        {"plot", SettingsFile::ini, "plot", "no"},
        {"stale", SettingsFile::ini, "stale", "3"},
        // Recording.
        {"record", SettingsFile::ini, "record=", "yes"},
        {"recdir", SettingsFile::ini, "recdir=", ""},
        {"recsplit", SettingsFile::ini, "recsplit=", "day"},
    };
    return keys;
}

std::optional<PreferenceKey> preference_key(std::string_view name) {
    for (const PreferenceKey& k : preference_keys())
        if (k.name == name) return k;
    if (name.size() > 3 && name.substr(0, 3) == "com" && name[3] != '0' && whole_number(name.substr(3), 1, 255))
        return PreferenceKey{name, SettingsFile::ini, name, ""};
    return std::nullopt;
}

std::optional<int> port_number_of(std::string_view port_value) {
    if (port_value.substr(0, 3) != "COM") return std::nullopt;
    const std::string_view digits = port_value.substr(3, port_value.find(',') - std::min<std::size_t>(3, port_value.size()));
    const auto n = whole_number(digits, 0, 255);
    if (!n) return std::nullopt;
    return static_cast<int>(*n);
}

Preferences read_preferences(const std::filesystem::path& dir) {
    Preferences out;
    for (const PreferenceKey& k : preference_keys())
        out[std::string(k.name)] = setting_value(dir / file_name(k.file), k.lookup).value_or(std::string(k.fallback));
    if (const auto n = port_number_of(out["port"]); n && *n > 0) {
        const std::string com = "com" + std::to_string(*n);
        out[com] = setting_value(dir / kIniFile, com).value_or("");
    }
    return out;
}

std::string preference_problem(std::string_view name, std::string_view value) {
    if (!preference_key(name)) return "unknown setting " + std::string(name);
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return std::string(name) + ": a value cannot hold a line end";
    const std::string why = value_problem(name, value);
    return why.empty() ? why : std::string(name) + ": " + why;
}

PreferencesWritten write_preferences(const std::filesystem::path& dir, const Preferences& before,
                                     const Preferences& after) {
    PreferencesWritten result;
    std::array<std::vector<std::pair<std::string, std::string>>, 2> edits;  // per file
    for (const auto& [name, value] : after) {
        const auto old = before.find(name);
        if (old != before.end() && old->second == value) continue;
        if (std::string why = preference_problem(name, value); !why.empty()) {
            result.failure = std::move(why);
            return result;
        }
        edits[static_cast<std::size_t>(preference_key(name)->file)].emplace_back(name, value);
    }
    for (const SettingsFile f : {SettingsFile::set, SettingsFile::ini}) {
        const auto& list = edits[static_cast<std::size_t>(f)];
        if (list.empty()) continue;
        const std::filesystem::path path = dir / file_name(f);
        std::string contents;
        if (read_settings_bytes(path, contents) == SettingsRead::failed) {
            result.failure = std::string(file_name(f)) + " cannot be read";
            return result;
        }
        for (const auto& [name, value] : list) {
            contents = rewrite_setting_contents(contents, name, value);
            // What the program would not read back as written is refused.
            if (find_setting(contents, preference_key(name)->lookup) != value) {
                result.failure = name + ": the program would not read this value back (too long?)";
                return result;
            }
        }
        if (!write_file_replacing(path, contents, {.keep_permissions = true, .flush = true})) {
            result.failure = std::string(file_name(f)) + " could not be written";
            return result;
        }
        for (const auto& edit : list) result.changed.push_back(edit.first);
    }
    return result;
}

std::vector<std::string> source_lines_of(std::string_view contents) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < contents.size()) {
        const auto lf = contents.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? contents.size() : lf;
        std::string_view line = contents.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (const std::string_view t = trim_blanks(line); !t.empty() && t.front() != '#') out.emplace_back(line);
        start = end + 1;
    }
    return out;
}

std::string rewrite_source_lines(std::string_view contents, const std::vector<std::string>& lines) {
    std::string out;
    std::size_t next = 0;
    std::size_t start = 0;
    while (start < contents.size()) {
        const auto lf = contents.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? contents.size() : lf + 1;
        const std::string_view whole = contents.substr(start, end - start);  // with its line end
        std::string_view line = whole;
        if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end;
        if (const std::string_view t = trim_blanks(line); t.empty() || t.front() == '#') {
            out += whole;
        } else if (next < lines.size()) {
            if (lines[next] == line) out += whole;
            else out += lines[next] + (whole.size() > line.size() ? std::string(whole.substr(line.size())) : "\r\n");
            ++next;
        }
        // A source line beyond the new list is dropped.
    }
    if (next < lines.size() && !out.empty() && out.back() != '\n') out += "\r\n";
    for (; next < lines.size(); ++next) out += lines[next] + "\r\n";
    return out;
}

std::vector<std::string> read_source_lines(const std::filesystem::path& dir) {
    std::string contents;
    if (read_settings_bytes(dir / "vor_src.txt", contents) != SettingsRead::ok) return {};
    return source_lines_of(contents);
}

bool write_source_lines(const std::filesystem::path& dir, const std::vector<std::string>& lines) {
    for (const std::string& l : lines)
        if (l.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return false;
    const std::filesystem::path path = dir / "vor_src.txt";
    std::string contents;
    if (read_settings_bytes(path, contents) == SettingsRead::failed) return false;
    return write_file_replacing(path, rewrite_source_lines(contents, lines), {.keep_permissions = true, .flush = true});
}

}  // namespace vg
