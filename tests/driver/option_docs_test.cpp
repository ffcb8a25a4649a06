// The places outside the program that name its options: the workflow's sample-sheet schema,
// the command-line fuzz dictionary and the README's option tables. Each must name exactly
// the options of the table, so that an option added to the table is added to each of them
// (or, for the sheet, declared here as one it leaves out).
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "driver/option_table.h"

namespace vanto {
namespace {

using Words = std::set<std::string>;

std::string sourceFile(const std::string& path) {
    std::ifstream in(std::string(VANTO_SOURCE_DIR) + "/" + path);
    EXPECT_TRUE(in.good()) << path;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Words tableWords() {
    Words words;
    for (const OptionEntry& option : optionTable()) words.insert(option.word);
    return words;
}

// An option word: one or two dashes and a letter first, so that "-2147483648" is none.
bool isOptionWord(const std::string& word) { return std::regex_match(word, std::regex("--?[A-Za-z][A-Za-z0-9-]*")); }

Words without(Words words, const Words& left) {
    for (const std::string& w : left) words.erase(w);
    return words;
}

// Columns of the sheet schema: a column becomes the program option of its "option" key
// (program_options in workflow/scripts/sheet.py).
struct SheetColumns {
    Words options;        // the options named by columns
    Words withoutOption;  // the columns that name none
};

SheetColumns sheetColumns(const std::string& schema) {
    SheetColumns columns;
    const std::regex column(R"(^\s+([A-Za-z_][A-Za-z0-9_]*):\s*\{(.*)\}\s*$)");
    const std::regex option(R"((?:^|[{,])\s*option:\s*([^,}\s]+))");
    std::istringstream lines(schema);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, column)) continue;
        const std::string entry = m[2];
        if (std::smatch o; std::regex_search(entry, o, option)) {
            columns.options.insert(o[1]);
        } else {
            columns.withoutOption.insert(m[1]);
        }
    }
    return columns;
}

// The columns that are no option: the series' name, further words, the job's size (its threads
// reach the program as -threads, given by workflow/scripts/run_series.py) and the ctc switch
// (which run_series.py turns into -ctc with the series' own folder).
const Words kSheetColumnsWithoutOption = {"name", "extra", "threads", "mem_mb", "runtime", "ctc"};

// The options the sheet has no column for: given by the workflow itself (-output, -threads),
// no use in a batch job (the answers, the console's progress meter), or reached through the
// "extra" column.
const Words kOptionsWithoutSheetColumn = {
    "-output", "-threads", "-help", "--help", "--version", "-progress", "-id", "-image",
    "-voronoi", "-strict", "-ctc", "-tracks", "-pixel-size", "-frame-interval",
    "-smooth", "-edge-cut", "-split", "-split-gray", "-keep-divisions", "-min-contrast", "-halo", "-halo-cells", "-grow", "-min-area", "-max-area", "-quiet", "-close-gaps",
    "-gap-distance", "-objects", "-measure-channel", "-measure-source",
};

TEST(OptionDocs, TheSheetSchemaNamesEveryOptionButItsDeclaredExceptions) {
    const SheetColumns columns = sheetColumns(sourceFile("workflow/config/sheet.schema.yaml"));
    EXPECT_EQ(columns.withoutOption, kSheetColumnsWithoutOption);
    EXPECT_EQ(columns.options, without(tableWords(), kOptionsWithoutSheetColumn));
    for (const std::string& word : kOptionsWithoutSheetColumn) EXPECT_TRUE(tableWords().count(word)) << word;
}

// A libFuzzer dictionary: one quoted entry a line, optionally named (name="value"), with \xNN
// escapes; comments start with #.
Words dictionaryOptions(const std::string& dictionary) {
    Words words;
    std::istringstream lines(dictionary);
    for (std::string line; std::getline(lines, line);) {
        const size_t open = line.find('"');
        const size_t close = line.rfind('"');
        if (line.empty() || line[0] == '#' || open == std::string::npos || close <= open) continue;
        const std::string value = line.substr(open + 1, close - open - 1);
        if (isOptionWord(value)) words.insert(value);
    }
    return words;
}

TEST(OptionDocs, TheFuzzDictionaryNamesEveryOption) {
    EXPECT_EQ(dictionaryOptions(sourceFile("fuzz/command_line.dict")), tableWords());
}

// Every option word that opens a backticked span in the first column of a markdown table
// row whose first column names things: code spans only, with commas, "and" or "or" between
// them (a row of prose, such as a measurement that quotes another tool's option, is none).
Words readmeOptions(const std::string& readme) {
    Words words;
    std::istringstream lines(readme);
    const std::regex span("`([^`]*)`");
    const std::regex joiners(R"(^(\s|,|/|\band\b|\bor\b)*$)");
    for (std::string line; std::getline(lines, line);) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] != '|') continue;
        const size_t end = line.find('|', start + 1);
        const std::string first = line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        if (!std::regex_match(std::regex_replace(first, span, ""), joiners)) continue;
        for (std::sregex_iterator i(first.begin(), first.end(), span), e; i != e; ++i) {
            std::istringstream spanWords((*i)[1].str());
            std::string word;
            if (spanWords >> word && isOptionWord(word)) words.insert(word);
        }
    }
    return words;
}

TEST(OptionDocs, TheReadmeTablesNameEveryOption) {
    EXPECT_EQ(readmeOptions(sourceFile("README.md")), tableWords());
}

// The readers themselves, on text of each kind that names options in other places too.
TEST(OptionDocs, TheReadersTakeOnlyTheOptionPlaces) {
    EXPECT_EQ(readmeOptions("| `-a X`, `-b` | `-c` in the second column |\n|---|---|\n"
                            "  | `-d LO HI` and `-2` | |\ntext `-e` outside tables\n| `name` | `-f` |\n"
                            "| runs with `-g 5` against `-h` | 3 ms |\n|`-i`|\n"),
              Words({"-a", "-b", "-d", "-i"}));
    EXPECT_EQ(dictionaryOptions("# \"-a\"\n\"-b\"\nkw=\"--c\"\n\"-1\"\n\"%d\"\n"), Words({"-b", "--c"}));
    const SheetColumns columns = sheetColumns(
        "# option: -z\ncolumns:\n  a: {type: text, option: -a, description: \"b, option: -q\"}\n"
        "  b_c: {type: integer, description: \"no option\"}\n");
    EXPECT_EQ(columns.options, Words({"-a"}));
    EXPECT_EQ(columns.withoutOption, Words({"b_c"}));
}

}  // namespace
}  // namespace vanto
