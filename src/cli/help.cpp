// vortool's help for users, made from the command table: the list of commands, one command's usage,
// the manual page and the bash completion script.
#include <algorithm>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "gps/device_type.h"
#include "tiles/map_source.h"

namespace vg::cli {

namespace {

constexpr const char* kDescription =
    "vortool is the command-line companion of VorGlobal, for scripts, tests and users: it decodes receiver "
    "recordings and plays a receiver on a pseudo-terminal, locates, downloads and draws map tiles from the "
    "same cache as the window, reads and changes the settings files, and speaks the program's HTTP and "
    "position-server protocols. Every command works in the current folder, which holds the settings "
    "files, as the window does.";

// Option words of a command, from its usage forms and its option list, in order.
std::vector<std::string> command_option_words(const Command& command) {
    std::vector<std::string> words;
    auto add = [&](std::string_view syntax) {
        for (std::string& word : help::option_words(syntax))
            if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(std::move(word));
    };
    for (const char* form : command.usage) add(form);
    for (const help::Option& option : command.options) add(option.syntax);
    return words;
}

// Sub-command words: the word after the command name in each form when it is a plain lower-case word.
std::vector<std::string> subcommand_words(const Command& command) {
    std::vector<std::string> words;
    const std::string prefix = std::string("vortool ") + command.name + " ";
    for (const std::string_view form : command.usage) {
        if (form.substr(0, prefix.size()) != prefix) continue;
        const std::string_view rest = form.substr(prefix.size());
        const std::string word(rest.substr(0, rest.find(' ')));
        if (!word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
            words.push_back(word);
    }
    return words;
}

std::string join(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

// What the completion offers after an option, from the option's value word.
enum class ValueKind { None, Device, Source, File, Folder, Other };

ValueKind value_kind(std::string_view syntax) {
    const auto space = syntax.find(' ');
    if (space == std::string_view::npos) return ValueKind::None;
    const std::string_view value = syntax.substr(space + 1);
    if (value == "DEVICE") return ValueKind::Device;
    if (value == "SOURCE") return ValueKind::Source;
    if (value == "DIR") return ValueKind::Folder;
    if (value.find("FILE") != std::string_view::npos) return ValueKind::File;
    return ValueKind::Other;
}

// A summary as a sentence: capital first letter, full stop.
std::string sentence(std::string_view summary) {
    std::string out(summary);
    if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 'a' + 'A');
    return out + ".";
}

}  // namespace

const Command* find_command(std::string_view name) {
    for (const Command& command : command_table())
        if (name == command.name) return &command;
    return nullptr;
}

bool option_takes_value(const char* command, std::string_view option) {
    const Command* entry = find_command(command);
    if (!entry) return false;
    for (const help::Option& o : entry->options) {
        const std::string_view syntax = o.syntax;
        const auto space = syntax.find(' ');
        if (syntax.substr(0, space) == option) return space != std::string_view::npos;
    }
    return false;
}

std::string usage_text(const Command& command) {
    std::string out;
    for (const char* form : command.usage) out += std::string(out.empty() ? "usage: " : "       ") + form + "\n";
    return out;
}

std::string command_list_text() {
    std::size_t width = 0;
    for (const Command& command : command_table()) width = std::max(width, std::strlen(command.name));
    std::string out = "usage: vortool COMMAND [ARGUMENTS]\n\n" + help::wrap(kDescription, 0) + "\ncommands:\n";
    for (const Command& command : command_table()) {
        std::string line = std::string("  ") + command.name;
        line.append(width + 4 - line.size(), ' ');
        out += line + command.summary + "\n";
    }
    out += "\noptions:\n" + help::format_options(help::common_options("vortool"), 2, 21);
    out += "\n" + help::wrap("'vortool help COMMAND' or 'vortool COMMAND --help' shows a command's usage and options.", 0);
    return out;
}

std::string command_help_text(const Command& command) {
    std::string out = usage_text(command) + "\n" + sentence(command.summary) + "\n\n" + help::wrap(command.description, 0);
    if (!command.options.empty()) out += "\noptions:\n" + help::format_options(command.options);
    return out;
}

int usage_error(const char* command, std::string_view problem, const char* word) {
    std::string text = std::string("vortool ") + command + ": " + std::string(problem);
    if (word) text += std::string(": ") + word;
    text += "\n";
    if (const Command* entry = find_command(command)) text += usage_text(*entry);
    text += std::string("Try 'vortool help ") + command + "' for more information.\n";
    std::fputs(text.c_str(), stderr);
    return 2;
}

std::string vortool_man_page() {
    help::ManPage page("vortool");
    page.section("NAME");
    page.text("vortool - command-line companion of VorGlobal: receivers, map tiles, settings, network");
    page.section("SYNOPSIS");
    page.synopsis({"vortool COMMAND [ARGUMENTS]", "vortool help [COMMAND]", "vortool COMMAND --help",
                   "vortool --version | --man-page"});
    page.section("DESCRIPTION");
    page.text(kDescription);
    page.section("OPTIONS");
    page.options(help::common_options("vortool"));
    page.section("COMMANDS");
    for (const Command& command : command_table()) {
        page.subsection(command.name);
        std::vector<std::string> forms(command.usage.begin(), command.usage.end());
        page.synopsis(forms);
        page.text(sentence(command.summary) + "\n\n" + command.description);
        page.options(command.options);
    }
    page.sections({help::files_section(),
                   {"ENVIRONMENT",
                    "vortool reads no environment variables of its own; the proxy comes from the prxy setting "
                    "in vor_ini.txt of the current folder, not from http_proxy.",
                    {}}});
    page.section("EXIT STATUS");
    page.options(help::exit_statuses());
    page.section("EXAMPLES");
    page.text(
        "Decode a recorded NMEA log with the clock two hours ahead of UTC:\n"
        "\n"
        "  vortool decode --device NMEA --zone 2 garmin48.log\n"
        "\n"
        "Play a TripMate on a pseudo-terminal and let the window read it as COM1:\n"
        "\n"
        "  vortool sim --device TripMate &\n"
        "  echo com1=/dev/pts/3 >> vor_ini.txt\n"
        "\n"
        "Fill the cache for a 4 x 4 view of London before going off line, then draw it:\n"
        "\n"
        "  vortool fetch --root ./Maps --source v --level 3 --lat 51.5 --lon -0.12 --big\n"
        "  vortool render --root ./Maps --source v --level 3 --lat 51.5 --lon -0.12 --out london.png\n"
        "\n"
        "Read a setting as the program does, and change the map source as the Maps menu does:\n"
        "\n"
        "  vortool setting get vor_ini.txt maps\n"
        "  vortool setting set site OpenStreetMap");
    page.section("SEE ALSO");
    page.text("vorglobal(1)");
    return page.str();
}

std::string bash_completion_script() {
    std::vector<std::string> names;
    for (const Command& command : command_table()) names.push_back(command.name);
    // The device words; sim plays only the receivers of a serial line.
    std::vector<std::string> devices, serial_devices;
    for (const DeviceTypeInfo& info : kDeviceTypes) {
        const std::string_view unit = info.unit_value;
        devices.emplace_back(unit.substr(0, unit.find(' ')));
        if (info.type != DeviceType::Remote && !is_network_device(info.type)) serial_devices.push_back(devices.back());
    }
    std::vector<std::string> sources;
    for (const MapSourceInfo& info : kMapSources) sources.emplace_back(info.site_value);

    std::string s =
        "# bash completion for vortool                                  -*- shell-script -*-\n"
        "# Made by vortool --bash-completion from its command table; edit that, not this file.\n"
        "\n"
        "# Source names, one a line: the catalogue as the current folder's settings make it, when this\n"
        "# vortool can list it, else the built-in services.\n"
        "_vortool_sources() {\n"
        "    \"$1\" sources 2>/dev/null | sed -n 's/.*\"name\": *\"\\([^\"]*\\)\".*/\\1/p' | sort -u | grep . ||\n"
        "        printf '%s\\n' " + join(sources) + "\n"
        "}\n"
        "\n"
        "_vortool() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} tool=${COMP_WORDS[0]}\n"
        "    COMPREPLY=()\n"
        "    if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
        "        COMPREPLY=($(compgen -W '" + join(names) + " help --help --version' -- \"$cur\"))\n"
        "        return\n"
        "    fi\n"
        "    local options='' subcommands='' IFS=$' \\t\\n'\n"
        "    case ${COMP_WORDS[1]} in\n"
        "    help)\n"
        "        [ \"$COMP_CWORD\" -eq 2 ] && COMPREPLY=($(compgen -W '" + join(names) + "' -- \"$cur\"))\n"
        "        return ;;\n";
    for (const Command& command : command_table()) {
        s += std::string("    ") + command.name + ")\n";
        s += "        options='" + join(command_option_words(command)) + " --help'\n";
        if (const auto subs = subcommand_words(command); !subs.empty()) s += "        subcommands='" + join(subs) + "'\n";
        // Option values, by the value word of the option.
        std::string devices_case, sources_case, files_case, folders_case, other_case;
        for (const help::Option& option : command.options) {
            const std::string_view syntax = option.syntax;
            const std::string word(syntax.substr(0, syntax.find(' ')));
            std::string* list = nullptr;
            switch (value_kind(syntax)) {
            case ValueKind::Device: list = &devices_case; break;
            case ValueKind::Source: list = &sources_case; break;
            case ValueKind::File: list = &files_case; break;
            case ValueKind::Folder: list = &folders_case; break;
            case ValueKind::Other: list = &other_case; break;
            case ValueKind::None: break;
            }
            if (list) *list += (list->empty() ? "" : "|") + word;
        }
        if (!(devices_case + sources_case + files_case + folders_case + other_case).empty()) {
            s += "        case $prev in\n";
            if (!devices_case.empty())
                s += "        " + devices_case + ") COMPREPLY=($(compgen -W '" +
                     join(std::string_view(command.name) == "sim" ? serial_devices : devices) + "' -- \"$cur\")); return ;;\n";
            if (!sources_case.empty())
                s += "        " + sources_case +
                     ") IFS=$'\\n' COMPREPLY=($(compgen -W \"$(_vortool_sources \"$tool\")\" -- \"$cur\")); return ;;\n";
            if (!files_case.empty()) s += "        " + files_case + ") IFS=$'\\n' COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
            if (!folders_case.empty())
                s += "        " + folders_case + ") IFS=$'\\n' COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n";
            if (!other_case.empty()) s += "        " + other_case + ") return ;;\n";
            s += "        esac ;;\n";
        } else {
            s += "        ;;\n";
        }
    }
    s +=
        "    *) return ;;\n"
        "    esac\n"
        "    if [ \"$COMP_CWORD\" -eq 2 ] && [ -n \"$subcommands\" ]; then\n"
        "        COMPREPLY=($(compgen -W \"$subcommands\" -- \"$cur\"))\n"
        "        return\n"
        "    fi\n"
        "    if [[ $cur == -* ]]; then\n"
        "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
        "        return\n"
        "    fi\n"
        "    IFS=$'\\n' COMPREPLY=($(compgen -f -- \"$cur\"))\n"
        "} &&\n"
        "    complete -o filenames -F _vortool vortool\n";
    return s;
}

}  // namespace vg::cli
