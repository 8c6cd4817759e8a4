// vortool's help: the command table, the command files and the running program agree, every command
// explains itself and refuses what it does not know.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace vg::cli {
namespace {

using test::run_program;

test::RunResult vortool(const std::vector<std::string>& args) {
    return run_program(test::vortool_path().string(), args);
}

// The command names `vortool help` lists: the first word of each line between "commands:" and the
// next empty line.
std::vector<std::string> listed_commands(const std::string& list) {
    std::vector<std::string> names;
    std::istringstream lines(list);
    std::string line;
    bool in_list = false;
    while (std::getline(lines, line)) {
        if (line == "commands:") in_list = true;
        else if (line.empty()) in_list = false;
        else if (in_list) names.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return names;
}

TEST(VortoolHelp, EveryCommandFileHasACompleteTableEntryAndTheProgramListsThem) {
    std::set<std::string> table_names;
    for (const Command& command : command_table()) {
        SCOPED_TRACE(command.name);
        EXPECT_TRUE(table_names.insert(command.name).second) << "listed twice";
        const std::string_view summary = command.summary ? command.summary : "";
        EXPECT_FALSE(summary.empty()) << "give the entry a one-line summary";
        EXPECT_EQ(summary.find('\n'), std::string_view::npos) << "the summary must fit one line";
        EXPECT_LE(summary.size() + 12, 79u) << "the summary is too long for the command list";
        EXPECT_TRUE(command.description && *command.description) << "give the entry a description";
        ASSERT_FALSE(command.usage.empty()) << "give the entry its usage forms";
        const std::string prefix = std::string("vortool ") + command.name;
        std::set<std::string> documented;
        for (const help::Option& option : command.options) {
            const std::string_view syntax = option.syntax;
            documented.insert(std::string(syntax.substr(0, syntax.find(' '))));
            EXPECT_TRUE(option.text && *option.text) << option.syntax;
        }
        for (const std::string_view form : command.usage) {
            EXPECT_EQ(form.substr(0, prefix.size()), prefix) << "a usage form starts with '" << prefix << "'";
            for (const std::string& word : help::option_words(form))
                EXPECT_TRUE(documented.count(word)) << form << ": add an options entry for " << word;
        }
    }

    // Every cmd_<name>.cpp is a command of the table.
    std::set<std::string> file_names;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(VG_SOURCE_DIR) / "src/cli")) {
        const std::string file = entry.path().filename().string();
        if (file.rfind("cmd_", 0) != 0 || entry.path().extension() != ".cpp") continue;
        std::string name = file.substr(4, file.size() - 8);
        // A command with one file per system (cmd_<name>_posix.cpp, cmd_<name>_windows.cpp).
        for (const std::string_view suffix : {"_posix", "_linux", "_windows"})
            if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                name.resize(name.size() - suffix.size());
        file_names.insert(name);
    }
    for (const std::string& name : file_names)
        EXPECT_TRUE(table_names.count(name)) << "src/cli/cmd_" << name << ".cpp has no entry in the command table of "
                                             << "src/cli/commands.cpp: add {\"" << name << "\", run_" << name
                                             << ", summary, {usage forms}, description, {options}}";
    for (const std::string& name : table_names)
        EXPECT_TRUE(file_names.count(name)) << "the command table names '" << name << "' but src/cli/cmd_" << name
                                            << ".cpp does not exist";

    // The program lists exactly the table, in its order, whichever way help is asked for.
    std::vector<std::string> in_table;
    for (const Command& command : command_table()) in_table.emplace_back(command.name);
    const auto help = vortool({"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(listed_commands(help.out), in_table);
    EXPECT_EQ(vortool({"--help"}).out, help.out);
    const auto bare = vortool({});
    EXPECT_EQ(bare.status, 2);  // no command is a usage error, with the list on standard error
    EXPECT_EQ(bare.err, help.out);
    EXPECT_EQ(bare.out, "");
}

TEST(VortoolHelp, EachCommandExplainsItselfAndRefusesWhatItDoesNotKnow) {
    for (const Command& command : command_table()) {
        SCOPED_TRACE(command.name);
        const auto help = vortool({"help", command.name});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(usage_text(command), 0), 0u) << help.out;
        for (const help::Option& option : command.options) EXPECT_NE(help.out.find(option.syntax), std::string::npos);
        const auto dashed = vortool({command.name, "--help"});
        EXPECT_EQ(dashed.status, 0);
        EXPECT_EQ(dashed.out, help.out);

        const auto wrong = vortool({command.name, "--no-such-option"});
        EXPECT_EQ(wrong.status, 2);
        EXPECT_EQ(wrong.out, "");
        EXPECT_NE(wrong.err.find("--no-such-option"), std::string::npos) << wrong.err;
        EXPECT_NE(wrong.err.find(std::string("vortool help ") + command.name), std::string::npos) << wrong.err;

        // Every documented option is one the command knows (alone it may lack its value or others).
        for (const std::string& word : help::option_words(usage_text(command))) {
            const auto alone = vortool({command.name, word});
            EXPECT_EQ(alone.err.find("unknown option"), std::string::npos) << word << ": " << alone.err;
        }
    }
}

TEST(VortoolHelp, VersionAndUnknownWords) {
    const auto version = vortool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("vortool ") + VG_VERSION + "\n");

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"frobnicate"}, {"--frobnicate"}, {"help", "frobnicate"}}) {
        const auto r = vortool(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.err.find("frobnicate'"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("vortool help"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace vg::cli
