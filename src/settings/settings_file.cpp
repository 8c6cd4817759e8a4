#include "settings/settings_file.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/files.h"
#include "settings/text_scan.h"

namespace vg {

namespace {

// An open file descriptor, closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the close succeeded (a late write error shows up here).
    bool close() {
        if (fd_ < 0) return true;
        const int rc = close_file(fd_);
        fd_ = -1;
        return rc == 0;
    }
    void reset() { close(); }

private:
    int fd_;
};

// Opens a regular file for reading. A directory, a device or a pipe counts as "cannot be opened":
// a settings file has an end, and a device such as /dev/zero would never give one.
Fd open_for_reading(const std::filesystem::path& file) {
    Fd fd(open_file(file, O_RDONLY | O_NONBLOCK));
    if (!fd.valid()) return fd;
    if (regular_size(fd.get()) < 0) return Fd();
    return fd;
}

// The bytes of a settings file as a C text-mode stream hands them to its reader: a CR right before a
// LF is dropped. Lines are taken with the rule of fgets: at most `limit` characters, up to and
// including a LF.
class TextSource {
public:
    explicit TextSource(std::string_view bytes) : data_(bytes) {}
    explicit TextSource(int fd) : fd_(fd) {}

    bool next_piece(std::string& out, std::size_t limit) {
        out.clear();
        while (out.size() < limit) {
            const int c = get();
            if (c < 0) break;
            out.push_back(static_cast<char>(c));
            if (c == '\n') break;
        }
        return !out.empty();
    }

private:
    int get() {
        const int c = raw_get();
        if (c == '\r' && raw_peek() == '\n') return raw_get();
        return c;
    }
    int raw_get() {
        const int c = raw_peek();
        if (c >= 0) ++pos_;
        return c;
    }
    int raw_peek() {
        if (pos_ >= data_.size() && !refill()) return -1;
        return static_cast<unsigned char>(data_[pos_]);
    }
    bool refill() {
        if (fd_ < 0) return false;
        for (;;) {
            const long n = read_file_some(fd_, chunk_, sizeof chunk_);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {  // end of file; a read error ends the file there too
                fd_ = -1;
                return false;
            }
            data_ = std::string_view(chunk_, static_cast<std::size_t>(n));
            pos_ = 0;
            return true;
        }
    }

    std::string_view data_;
    std::size_t pos_ = 0;
    int fd_ = -1;
    char chunk_[4096];
};

// A piece as the C string functions of a reader see it: up to its first NUL.
std::string_view c_view(const std::string& piece) { return std::string_view(piece.c_str()); }

std::string_view c_view(std::string_view text) {
    const auto nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::optional<std::string> find_in(TextSource& source, std::string_view key) {
    key = c_view(key);
    std::string piece;
    while (source.next_piece(piece, kSettingPiece)) {
        std::string line(c_view(piece));
        if (!line.empty()) line[0] = lower_ascii(line[0]);
        if (line.find(key) == std::string::npos) continue;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;  // no value: not this line
        return line.substr(eq + 1);
    }
    return std::nullopt;
}

std::optional<ProxySetting> proxy_in(TextSource& source) {
    std::string piece;
    while (source.next_piece(piece, kProxyPiece)) {
        std::string line(c_view(piece));
        if (line.find("prox=") == std::string::npos && line.find("prxy=") == std::string::npos) continue;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        const auto colon = line.find(':');
        if (colon != std::string::npos) line[colon] = ' ';
        TextScanner scanner(std::string_view(line).substr(std::min<std::size_t>(5, line.size())));
        const auto host = scanner.word();
        if (!host) return std::nullopt;
        scanner.skip_space();
        const auto port = scanner.integer();
        if (!port || *port < 1 || *port > 65535) return std::nullopt;
        return ProxySetting{*host, *port};
    }
    return std::nullopt;
}

std::string position_line(TextSource& source) {
    std::string piece;
    if (!source.next_piece(piece, kPositionPiece)) return {};
    std::string line(c_view(piece));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

StartPosition position_in(TextSource& source) {
    const std::string lat_line = position_line(source);
    const std::string lon_line = position_line(source);
    StartPosition pos;
    pos.latitude = parse_position_line(lat_line);
    if (!lat_line.empty() && lat_line[0] == 'S') pos.latitude = -pos.latitude;
    pos.longitude = parse_position_line(lon_line);
    if (!lon_line.empty() && lon_line[0] == 'W') pos.longitude = -pos.longitude;
    return pos;
}

using ReadResult = SettingsRead;

ReadResult read_whole(const std::filesystem::path& file, std::string& out) {
    out.clear();
    Fd fd(open_file(file, O_RDONLY | O_NONBLOCK));
    if (!fd.valid()) return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
    if (regular_size(fd.get()) < 0) return ReadResult::failed;
    char chunk[4096];
    for (;;) {
        const long n = read_file_some(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadResult::failed;
        if (n == 0) return ReadResult::ok;
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

bool has_line_break_or_nul(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

}  // namespace

SettingsRead read_settings_bytes(const std::filesystem::path& file, std::string& out) { return read_whole(file, out); }

std::optional<std::string> find_setting(std::string_view contents, std::string_view key) {
    TextSource source(contents);
    return find_in(source, key);
}

SettingLookup look_up_setting(const std::filesystem::path& file, std::string_view key) {
    Fd fd = open_for_reading(file);
    if (!fd.valid()) return {SettingLookup::Status::NoFile, {}};
    TextSource source(fd.get());
    auto found = find_in(source, key);
    if (!found) return {SettingLookup::Status::NotFound, {}};
    return {SettingLookup::Status::Found, std::move(*found)};
}

std::string config_file_missing_text(const std::filesystem::path& file) {
    return "Config file " + file.string() + " not found!";
}

std::optional<std::string> setting_value(const std::filesystem::path& file, std::string_view key) {
    SettingLookup found = look_up_setting(file, key);
    if (found.status != SettingLookup::Status::Found) return std::nullopt;
    return std::move(found.value);
}

bool read_setting(const std::filesystem::path& file, std::string_view key, std::string& value) {
    auto found = setting_value(file, key);
    if (!found) return false;
    value = std::move(*found);
    return true;
}

std::string rewrite_setting_contents(std::string_view contents, std::string_view key, std::string_view value) {
    const std::string replacement = std::string(key) + "=" + std::string(value);
    std::string out;
    out.reserve(contents.size() + replacement.size() + 2);
    bool replaced = false;
    std::size_t start = 0;
    while (start < contents.size()) {
        const auto lf = contents.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? contents.size() : lf;
        std::string_view line = contents.substr(start, end - start);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);  // CR LF
        if (line.substr(0, key.size()) == key) {
            out += replacement;
            replaced = true;
        } else {
            out += line;
        }
        out += "\r\n";
        start = end + 1;
    }
    const std::string by_rule = replaced ? out : out + replacement + "\r\n";
    // The lookup takes the first line that contains the key anywhere: when that is another line (the
    // key inside another word, a comment, another case), the new line goes first instead.
    if (find_setting(by_rule, key) == value) return by_rule;
    return replacement + "\r\n" + out;
}

bool write_setting(std::string_view key, std::string_view value, const std::filesystem::path& dir) {
    return write_setting_file(dir / kSetFile, key, value);
}

bool write_setting_file(const std::filesystem::path& file, std::string_view key, std::string_view value) {
    // An empty key would match every line; a line end would split the new line in two.
    if (key.empty() || has_line_break_or_nul(key) || has_line_break_or_nul(value)) return false;
    std::string old;
    const ReadResult read = read_whole(file, old);
    if (read == ReadResult::failed) return false;  // there is a file we cannot read: do not replace it
    const std::string contents = rewrite_setting_contents(read == ReadResult::ok ? old : std::string(), key, value);
    // A key or value that the lookup cannot read back (an upper-case first letter, a value beyond
    // the 127 characters a lookup sees) is refused rather than written without effect.
    if (find_setting(contents, key) != value) return false;
    if (!write_file_replacing(file, contents, {.keep_permissions = true, .flush = true})) return false;
    return read == ReadResult::ok;
}

std::optional<ProxySetting> parse_proxy_setting(std::string_view contents) {
    TextSource source(contents);
    return proxy_in(source);
}

std::optional<ProxySetting> read_proxy_setting(const std::filesystem::path& ini_file) {
    Fd fd = open_for_reading(ini_file);
    if (!fd.valid()) return std::nullopt;
    TextSource source(fd.get());
    return proxy_in(source);
}

std::string default_file_contents(std::string_view file_name) {
    if (file_name == kIniFile) {
        return std::string("maps=.\\Maps\r\nzoom=2\r\nhair=1\r\nzone=local\r\ndash=\r\nfile=\r\nplot=no\r\nprxy=\r\nbase=") +
               kDefaultBaseValue + "\r\n";
    }
    // No `port` line: no receiver is chosen until the user picks one (App::receiver_chosen).
    if (file_name == kSetFile) return "site=OpenStreetMap\r\nsize=small\r\nunit=NMEA\r\n";
    if (file_name == kPosFile) return "N 60 10 30\r\nE 24 55 00\r\n";
    return {};
}

void write_default_files(const std::filesystem::path& dir) {
    for (const char* name : {kIniFile, kSetFile, kPosFile}) {
        const std::filesystem::path file = dir / name;
        if (open_for_reading(file).valid()) continue;
        // Only a file that does not exist is created; something else of that name is left alone.
        Fd fd(open_file(file, O_WRONLY | O_CREAT | O_EXCL));
        if (!fd.valid()) continue;
        const std::string contents = default_file_contents(name);
        const bool ok = write_all(fd.get(), contents.data(), contents.size());
        if (!fd.close() || !ok) remove_file(file);  // no half-written defaults
    }
}

double parse_position_line(std::string_view line) {
    line = c_view(line);
    {
        // "%c %d %d %d": hemisphere, degrees, minutes, seconds.
        TextScanner scan(line);
        if (scan.character()) {
            const auto degrees = scan.integer();
            const auto minutes = degrees ? scan.integer() : std::nullopt;
            const auto seconds = minutes ? scan.integer() : std::nullopt;
            if (seconds) return *degrees + *minutes / 60.0 + *seconds / 3600.0;
        }
    }
    {
        // "%c %lf": hemisphere and DDDMM.SS, the two decimals being seconds.
        TextScanner scan(line);
        if (scan.character()) {
            if (const auto v = scan.decimal()) {
                return std::floor(*v / 100) + std::floor(std::fmod(*v, 100)) / 60 + (std::fmod(*v, 1) / 0.6) / 60;
            }
        }
    }
    return 0;
}

StartPosition parse_start_position(std::string_view contents) {
    TextSource source(contents);
    return position_in(source);
}

std::optional<StartPosition> read_start_position(const std::filesystem::path& pos_file) {
    Fd fd = open_for_reading(pos_file);
    if (!fd.valid()) return std::nullopt;
    TextSource source(fd.get());
    return position_in(source);
}

std::optional<std::string> read_relay_key(const std::filesystem::path& ini_file) {
    const auto value = setting_value(ini_file, "relaykey");
    if (!value) return std::nullopt;
    const std::string_view key = trim_blanks(*value);
    if (key.empty()) return std::nullopt;
    return std::string(key);
}

}  // namespace vg
