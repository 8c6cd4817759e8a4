#include "app/help_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>

#ifndef VG_RELEASE_DATE
#define VG_RELEASE_DATE "2026-12-07"
#endif

namespace vg::help {

namespace {

bool is_example_line(std::string_view line) { return line.size() >= 2 && line[0] == ' ' && line[1] == ' '; }

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// Appends `words` wrapped to `width`, each line starting with `indent` spaces.
void wrap_words(std::string& out, std::string_view prose, int indent, int width) {
    std::istringstream in{std::string(prose)};
    std::string word;
    int column = 0;
    while (in >> word) {
        const int length = static_cast<int>(word.size());
        if (column > 0 && column + 1 + length > width) {
            out += '\n';
            column = 0;
        }
        if (column == 0) {
            out.append(static_cast<std::size_t>(indent), ' ');
            column = indent;
        } else {
            out += ' ';
            ++column;
        }
        out += word;
        column += length;
    }
    if (column > 0) out += '\n';
}

// Reads one UTF-8 sequence at `text[i]`; the code point, or the byte itself when it is not valid UTF-8.
std::uint32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto byte = static_cast<unsigned char>(text[i++]);
    int extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    std::uint32_t point = extra == 3 ? byte & 0x07u : extra == 2 ? byte & 0x0Fu : extra == 1 ? byte & 0x1Fu : byte;
    if (i + static_cast<std::size_t>(extra) > text.size()) return byte;
    for (int k = 0; k < extra; ++k) {
        const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((next & 0xC0) != 0x80) return byte;
        point = (point << 6) | (next & 0x3Fu);
    }
    i += static_cast<std::size_t>(extra);
    return point;
}

bool is_value_word(std::string_view word) {
    bool upper = false;
    for (const char ch : word) {
        if (ch >= 'A' && ch <= 'Z') upper = true;
        else if (!(ch >= '0' && ch <= '9') && ch != '_' && ch != '.') return false;
    }
    return upper;
}

bool is_word_char(char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' ||
           ch == '_' || ch == '.';
}

// A command line in roff: option names bold, value words italic, other words bold when `bold_words`.
std::string roff_command_line(std::string_view line, std::size_t bold_prefix) {
    std::string out = "\\fB" + roff_escape(line.substr(0, bold_prefix)) + "\\fR";
    line.remove_prefix(bold_prefix);
    std::size_t i = 0;
    bool after_option = false;
    while (i < line.size()) {
        if (!is_word_char(line[i])) {
            // An option and its value word stay on one line.
            const bool keep = line[i] == ' ' && after_option && i + 1 < line.size() && is_word_char(line[i + 1]);
            out += keep ? "\\ " : roff_escape(line.substr(i, 1));
            after_option = false;
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < line.size() && is_word_char(line[end])) ++end;
        const std::string_view word = line.substr(i, end - i);
        after_option = word.size() > 1 && word[0] == '-';
        if (after_option) out += "\\fB" + roff_escape(word) + "\\fR";
        else if (is_value_word(word)) out += "\\fI" + roff_escape(word) + "\\fR";
        else out += roff_escape(word);
        i = end;
    }
    return out;
}

}  // namespace

std::string wrap(std::string_view text, int indent, int width) {
    std::string out;
    std::string prose;
    auto flush = [&] {
        if (!prose.empty()) wrap_words(out, prose, indent, width);
        prose.clear();
    };
    for (const std::string_view line : split_lines(text)) {
        if (line.find_first_not_of(' ') == std::string_view::npos) {
            flush();
            out += '\n';
        } else if (is_example_line(line)) {
            flush();
            out.append(static_cast<std::size_t>(indent), ' ');
            out.append(line);
            out += '\n';
        } else {
            prose.append(line);
            prose += ' ';
        }
    }
    flush();
    return out;
}

std::string format_options(const std::vector<Option>& options, int indent, int text_column) {
    std::string out;
    for (const Option& option : options) {
        std::string head(static_cast<std::size_t>(indent), ' ');
        head += option.syntax;
        std::string body = wrap(option.text, text_column);
        if (static_cast<int>(head.size()) + 2 <= text_column) {
            // The first line of the text goes beside the syntax.
            head.append(static_cast<std::size_t>(text_column) - head.size(), ' ');
            body.erase(0, static_cast<std::size_t>(text_column));
            out += head + body;
        } else {
            out += head + '\n' + body;
        }
    }
    return out;
}

std::string roff_escape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char ch = text[i];
        if (static_cast<unsigned char>(ch) >= 0x80) {
            const std::uint32_t point = next_code_point(text, i);
            char name[16];
            std::snprintf(name, sizeof name, "\\[u%04X]", static_cast<unsigned>(point));
            out += name;
            continue;
        }
        ++i;
        if (ch == '\\') out += "\\e";
        else if (ch == '-') out += "\\-";
        else if ((ch == '.' || ch == '\'') && (out.empty() || out.back() == '\n')) out += "\\&" + std::string(1, ch);
        else out += ch;
    }
    return out;
}

ManPage::ManPage(std::string_view name) {
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
    out_ = ".\\\" Generated from the program's own help texts; edit those, not this file.\n";
    out_ += ".TH " + upper + " 1 " + release_date() + " \"VorGlobal " + version() + "\" \"User Commands\"\n";
    out_ += ".nh\n.ad l\n";  // paths and option names are not hyphenated; ragged right
}

void ManPage::section(std::string_view title) { out_ += ".SH " + roff_escape(title) + "\n"; }

void ManPage::subsection(std::string_view title) { out_ += ".SS " + roff_escape(title) + "\n"; }

void ManPage::text(std::string_view text) {
    bool in_example = false;
    bool start_paragraph = true;
    for (const std::string_view line : split_lines(text)) {
        if (line.find_first_not_of(' ') == std::string_view::npos) {
            if (in_example) out_ += ".fi\n.in\n";
            in_example = false;
            start_paragraph = true;
            continue;
        }
        if (is_example_line(line)) {
            if (!in_example) out_ += ".PP\n.in +4n\n.nf\n";
            in_example = true;
            out_ += roff_escape(line.substr(2)) + "\n";
            continue;
        }
        if (in_example) {
            out_ += ".fi\n.in\n";
            start_paragraph = true;
        }
        in_example = false;
        if (start_paragraph) out_ += ".PP\n";
        start_paragraph = false;
        out_ += roff_escape(line.substr(line.find_first_not_of(' '))) + "\n";
    }
    if (in_example) out_ += ".fi\n.in\n";
}

void ManPage::synopsis(const std::vector<std::string>& lines) {
    // One form a line; a long one wraps with a hanging indent.
    out_ += ".PP\n.in +8n\n";
    for (const std::string& line : lines) {
        // The program name and any sub-command words before the first option or value are bold.
        std::size_t prefix = 0;
        std::istringstream words(line);
        std::string word;
        std::size_t at = 0;
        while (words >> word) {
            const std::size_t start = line.find(word, at);
            if (word[0] == '-' || word[0] == '[' || word[0] == '(' || is_value_word(word)) break;
            at = start + word.size();
            prefix = at;
        }
        out_ += ".ti -8n\n" + roff_command_line(line, prefix) + "\n.br\n";
    }
    out_ += ".in -8n\n";
}

void ManPage::options(const std::vector<Option>& options) {
    for (const Option& option : options) {
        out_ += ".TP\n" + roff_command_line(option.syntax, 0) + "\n";
        std::string body;
        for (const std::string_view line : split_lines(option.text)) {
            if (line.find_first_not_of(' ') == std::string_view::npos) {
                body += ".IP\n";
                continue;
            }
            body += roff_escape(line.substr(line.find_first_not_of(' '))) + "\n";
        }
        out_ += body;
    }
}

void ManPage::sections(const std::vector<Section>& list) {
    for (const Section& s : list) {
        section(s.title);
        text(s.text);
        options(s.items);
    }
}

std::vector<std::string> option_words(std::string_view syntax) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < syntax.size()) {
        if (syntax[i] == '-' && i + 1 < syntax.size() && syntax[i + 1] == '-' && (i == 0 || !is_word_char(syntax[i - 1]))) {
            std::size_t end = i;
            while (end < syntax.size() && is_word_char(syntax[end])) ++end;
            std::string word(syntax.substr(i, end - i));
            if (word.size() > 2 && std::find(words.begin(), words.end(), word) == words.end())
                words.push_back(word);
            i = end;
        } else {
            ++i;
        }
    }
    return words;
}

const char* version() { return VG_VERSION; }
const char* release_date() { return VG_RELEASE_DATE; }

const Section& files_section() {
    static const Section section = {
        "FILES",
         "The settings files are read from the working folder (see vorglobal --home). A missing one is "
         "written with its default lines when the window starts. Lines are key=value with four-letter "
         "lower-case keys.",
         {{"vor_set.txt",
           "What you change from the menus and dialogs: site (map source), size (small or large), unit "
           "(receiver type) and port (COMn[,baud[,parity[,databits[,stopbits]]]]). The program rewrites "
           "it one key at a time through a new copy, so lines added by hand are kept."},
          {"vor_ini.txt",
           "Yours to edit; the program only reads it: maps (the tile cache folder, default .\\Maps), zoom "
           "(start level 0 to 4), hair (cross-hair width), zone (hours from UTC and a label), dash (speed "
           "display), file (track log), plot (draw the tracks as lines), record, recdir and recsplit (the "
           "daily GPX recording of every fix: on, its folder, day or none), prxy (HTTP proxy host:port), base "
           "(base server host:port), bind (the position server's address) and comN lines that map a COM "
           "port to a device, such as com1=/dev/ttyUSB0."},
          {"vor_pos.txt",
           "The start position: a latitude line and a longitude line such as N 60 10 30 and E 24 55 00. "
           "Rewritten with the first position fix of each run."},
          {"vor_src.txt",
           "Optional catalogue of extra tile sources, one a line: name|layer|template|zooms|attribution|flags. "
           "Lines starting with # are comments; a line with the name of a built-in source replaces it."},
          {"Maps/",
           "The tile cache (the maps setting): one folder per source, then one folder level per zoom "
           "level, with the tile's row and column in octal in every folder and file name. A file of "
           "0 bytes counts as missing. A cache folder can be copied to another machine."},
          {"Maps/packs/",
           "Map packs (.mbtiles files) inside the cache folder; each becomes a map source. They are read, "
           "never changed."},
          {"tcpip.tmp", "Scratch file of the connection check, removed again afterwards."}}};
    return section;
}

const std::vector<Option>& exit_statuses() {
    static const std::vector<Option> statuses = {
        {"0", "success"},
        {"1", "the work failed: a file could not be read or written, a request failed, nothing was found"},
        {"2", "a wrong command, option or argument; the message names it"},
    };
    return statuses;
}

const std::vector<Option>& common_options(std::string_view program) {
    static const std::vector<Option> vortool = {
        {"--help", "list the commands (with a command: its usage and options) and exit"},
        {"--version", "print the version and exit"},
        {"--man-page", "print this manual page in man(7) format and exit"},
        {"--bash-completion", "print the bash completion script and exit"},
    };
    static const std::vector<Option> vorglobal = {
        {"--help", "print the options and exit"},
        {"--version", "print the version and exit"},
        {"--man-page", "print the manual page in man(7) format and exit"},
    };
    return program == "vortool" ? vortool : vorglobal;
}

const std::vector<Option>& vorglobal_options() {
    static const std::vector<Option> options = {
        {"--home",
         "run in ~/.local/share/vorglobal (or $XDG_DATA_HOME/vorglobal) instead of the working folder, "
         "created when missing; the desktop menu entry starts the program this way"},
        {"--screenshot FILE", "save the window's client area as PNG after the first map is shown, and print "
                              "\"screenshot FILE\""},
        {"--exit-after MS", "close the window (and any message box) MS milliseconds after start"},
        {"--script FILE",
         "run inputs at given times, one a line: \"MS command ID\" (a menu command by its id), \"MS click X Y\", "
         "\"MS right X Y\" (client pixels), \"MS key left|up|right|down\", \"MS screenshot FILE\"; each prints "
         "\"done ELAPSED STEP\" (ms since start) when run"},
        {"--print-titles", "print every new window title as \"title TEXT\""},
    };
    return options;
}

bool vorglobal_option_takes_value(std::string_view option) {
    for (const Option& o : vorglobal_options()) {
        const std::string_view syntax = o.syntax;
        if (syntax.substr(0, syntax.find(' ')) == option) return syntax.find(' ') != std::string_view::npos;
    }
    return false;
}

std::string vorglobal_usage() {
    std::string out = "usage: vorglobal";
    for (const Option& o : vorglobal_options()) out += std::string(" [") + o.syntax + "]";
    out += "\n  Runs in the working directory, which holds vor_set.txt, vor_ini.txt and vor_pos.txt.\n";
    std::vector<Option> all = vorglobal_options();
    for (const Option& o : common_options("vorglobal")) all.push_back(o);
    out += format_options(all, 2, 21);
    return out;
}

std::string vorglobal_man_page() {
    ManPage page("vorglobal");
    page.section("NAME");
    page.text("vorglobal - GPS moving map over web map tiles, on line or from the tile cache");
    page.section("SYNOPSIS");
    std::string line = "vorglobal";
    for (const Option& o : vorglobal_options()) line += std::string(" [") + o.syntax + "]";
    page.synopsis({line, "vorglobal --help | --version | --man-page"});
    page.section("DESCRIPTION");
    page.text(
        "VorGlobal reads position fixes from a GPS receiver and draws the position, the time, the speed and "
        "an optional track over a map made of 256 x 256 pixel tiles. Tiles are downloaded from web tile "
        "services into a cache folder while the program is on line, and drawn from that cache when it is "
        "off line.\n"
        "\n"
        "Receivers speak NMEA 0183 (NMEA, EarthMate USB, TripMate), the Zodiac binary protocol (EarthMate) or "
        "the Garmin binary protocol, on a serial port chosen as COM1 to COM9; COMn is /dev/ttyS(n-1) unless "
        "a comN line of vor_ini.txt names another device. The Remote device takes positions that another "
        "running copy posts to a small position server on port 4477.\n"
        "\n"
        "The toolbar pans the view one tile at a time and chooses one of five zoom levels, World to Street; "
        "the left mouse button zooms in on a point, the right one zooms out. The arrow keys pan; Shift+Page "
        "Up connects the receiver and Shift+Page Down disconnects it. The program works in the folder it "
        "is started from, which holds its settings files and, by default, the tile cache.");
    page.section("OPTIONS");
    page.options(vorglobal_options());
    page.options(common_options("vorglobal"));
    page.sections({files_section(),
                   {"ENVIRONMENT",
                    "The proxy comes from the prxy setting in vor_ini.txt, not from http_proxy.",
                    {{"HOME, XDG_DATA_HOME",
                      "--home works in $XDG_DATA_HOME/vorglobal, or ~/.local/share/vorglobal when that is not set."},
                     {"QT_QPA_PLATFORM",
                      "The Qt platform of the window; offscreen runs vorglobal without a display, for scripts "
                      "and tests."}}}});
    page.section("EXIT STATUS");
    page.options(exit_statuses());
    page.text("A wrong option or script is reported, with exit status 2, before any window opens.");
    page.section("EXAMPLES");
    page.text(
        "Start with the settings and the cache in ~/.local/share/vorglobal, as the menu entry does:\n"
        "\n"
        "  vorglobal --home\n"
        "\n"
        "Try it without a receiver: play one on a pseudo-terminal, map COM1 to it and choose NMEA and "
        "Connect in the window:\n"
        "\n"
        "  vortool sim --device NMEA &\n"
        "  echo com1=/dev/pts/3 >> vor_ini.txt\n"
        "  vorglobal\n"
        "\n"
        "Take a picture of the first map without a display:\n"
        "\n"
        "  QT_QPA_PLATFORM=offscreen vorglobal --screenshot map.png --exit-after 5000");
    page.section("SEE ALSO");
    page.text("vortool(1)");
    return page.str();
}

}  // namespace vg::help
