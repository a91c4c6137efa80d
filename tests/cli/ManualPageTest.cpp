// The manual page and --help cannot drift apart: the page's OPTIONS entries
// and the help's option lines name the same options, every one of them is
// understood by the command line, and both list the same exit statuses as
// the program's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Options.h"

namespace {

using Names = std::set<std::string>;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string ReadFile(const char* path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(std::string("cannot read ") + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "-h", "--check"... as written in `text` (a value after '=' or a blank is
// not part of the name).
Names OptionNames(const std::string& text) {
    static const std::regex option(R"((^|[^A-Za-z0-9-])(--?[a-z][a-z-]*))");
    Names names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        names.insert((*it)[2]);
    }
    return names;
}

struct Listed {
    Names options;
    Names statuses;
};

// --help: the lines of "Options :" begin with the options, up to two
// blanks; those of "Code de sortie" with the status.
Listed FromHelp(const std::string& help) {
    Listed listed;
    enum { Before, InOptions, InStatuses } where = Before;
    static const std::regex status(R"(^ {1,3}([0-9]+)  )");
    for (const std::string& line : Lines(help)) {
        if (line.starts_with("Options :")) {
            where = InOptions;
        } else if (line.starts_with("Code de sortie")) {
            where = InStatuses;
        } else if (where == InOptions && line.starts_with("  -")) {
            const std::string start = line.substr(2, line.find("  ", 2) - 2);
            for (const std::string& name : OptionNames(start)) listed.options.insert(name);
        } else if (std::smatch m; where == InStatuses && std::regex_search(line, m, status)) {
            listed.statuses.insert(m[1]);
        }
    }
    return listed;
}

// The page: in OPTIONS and in CODE DE RETOUR, the line after each .TP holds
// the entry's options or status ("\-" is roff's minus sign).
Listed FromPage(const std::string& page) {
    Listed listed;
    std::string section;
    bool tagLine = false;
    for (std::string line : Lines(page)) {
        if (line.starts_with(".SH ")) {
            section = line.substr(4);
            section.erase(std::remove(section.begin(), section.end(), '"'), section.end());
            tagLine = false;
            continue;
        }
        if (line == ".TP") {
            tagLine = true;
            continue;
        }
        if (!tagLine) continue;
        tagLine = false;
        for (std::size_t at; (at = line.find("\\-")) != std::string::npos;)
            line.replace(at, 2, "-");
        if (section == "OPTIONS") {
            for (const std::string& name : OptionNames(line)) listed.options.insert(name);
        } else if (section == "CODE DE RETOUR") {
            std::smatch m;
            if (std::regex_match(line, m, std::regex(R"(\.B ([0-9]+))")))
                listed.statuses.insert(m[1]);
        }
    }
    return listed;
}

const Listed& Page() {
    static const Listed page = FromPage(ReadFile(MANUAL_PAGE));
    return page;
}

}  // namespace

TEST(ManualPage, ListsTheOptionsOfTheHelpAndNoOther) {
    const Listed help = FromHelp(cli::HelpText());
    ASSERT_GE(help.options.size(), 8u) << "the help's option lines were not found";
    EXPECT_EQ(Page().options, help.options);
}

TEST(ManualPage, EveryOptionItNamesIsUnderstood) {
    ASSERT_FALSE(Page().options.empty());
    for (const std::string& name : Page().options) {
        try {
            cli::ParseArguments({name});
        } catch (const cli::UsageError& error) {
            // An option that wants a value says so; an unknown one says that.
            EXPECT_EQ(std::string_view(error.what()).find("inconnue"), std::string_view::npos)
                << name << ": " << error.what();
        }
    }
}

TEST(ManualPage, ListsTheExitStatusesOfTheHelpAndOfTheProgram) {
    const Names program{
        std::to_string(cli::kExitUsage),       std::to_string(cli::kExitNoAnswer),
        std::to_string(cli::kExitCheckError),  std::to_string(cli::kExitReaderFound),
        std::to_string(cli::kExitUnreachable), std::to_string(cli::kExitNothingFound)};
    EXPECT_EQ(FromHelp(cli::HelpText()).statuses, program);
    EXPECT_EQ(Page().statuses, program);
}
