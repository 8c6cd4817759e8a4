// The texts that explain the two programs to their users: vorglobal's options, the files and
// environment both programs read, and the writers that turn such texts into `--help` output and into
// man(7) manual pages. Everything a user reads about the options comes from these tables, so the help,
// the manual pages and the shell completion cannot drift apart.
//
// Text conventions: a text is prose; an empty line starts a new paragraph; a line that starts with two
// spaces is an example or a table line and is printed as it stands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vg::help {

struct Option {
    const char* syntax;  // the option as typed, with its value word: "--device DEVICE"
    const char* text;  // what it does
};

struct Section {
    const char* title;          // "FILES"
    const char* text;           // the introduction
    std::vector<Option> items;  // then one tagged paragraph per file, variable...
};

// `text` wrapped to `width` columns, each line indented by `indent` spaces; example lines kept.
std::string wrap(std::string_view text, int indent, int width = 79);

// One option a line: the syntax at `indent`, its text from column `text_column` (from the next line
// when the syntax is too long), wrapped to 79 columns.
std::string format_options(const std::vector<Option>& options, int indent = 2, int text_column = 24);

// A man(7) page, written in order.
class ManPage {
public:
    // The .TH line: `name` upper-cased, section 1, the release date and version.
    explicit ManPage(std::string_view name);

    void section(std::string_view title);     // .SH
    void subsection(std::string_view title);  // .SS
    void text(std::string_view text);         // paragraphs, example lines kept as they are
    // Command lines: the program words in bold, option names bold, value words (CAPITALS) in italics.
    void synopsis(const std::vector<std::string>& lines);
    void options(const std::vector<Option>& options);  // a tagged paragraph each
    void sections(const std::vector<Section>& sections);

    const std::string& str() const { return out_; }

private:
    std::string out_;
};

// Text escaped for roff: backslashes, minus signs, lines starting with a control character, and
// characters outside ASCII as named glyphs.
std::string roff_escape(std::string_view text);

// The option words of a usage or option syntax ("--device", "--zone"), in order, without repeats.
std::vector<std::string> option_words(std::string_view syntax);

// The FILES section both programs share: the settings files, the tile cache and the map packs.
const Section& files_section();

// What the exit statuses 0, 1 and 2 mean, shared by both programs.
const std::vector<Option>& exit_statuses();

// vorglobal: its options (besides --help, --version and --man-page), `vorglobal --help` and its page.
const std::vector<Option>& vorglobal_options();
// Whether a vorglobal option takes a value (the syntax names one); false for unknown options.
bool vorglobal_option_takes_value(std::string_view option);
std::string vorglobal_usage();
std::string vorglobal_man_page();

// The options every program has.
const std::vector<Option>& common_options(std::string_view program);

// "1.4"; the date of this release as YYYY-MM-DD.
const char* version();
const char* release_date();

}  // namespace vg::help
