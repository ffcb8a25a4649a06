#pragma once
// Plain CSV tables (one header line, comma-separated, no quoting) read strictly for the tests.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "run_fixture.h"

namespace vanto::testing {

struct CsvTable {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    bool has(const std::string& name) const {
        for (const auto& h : header)
            if (h == name) return true;
        return false;
    }
    size_t column(const std::string& name) const {
        for (size_t i = 0; i < header.size(); ++i)
            if (header[i] == name) return i;
        ADD_FAILURE() << "no column " << name;
        return 0;
    }
    const std::string& at(size_t row, const std::string& name) const { return rows[row][column(name)]; }
};

inline std::vector<std::string> commaFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ',')) fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.push_back("");
    return fields;
}

// Every column named, every row as wide as the header.
inline CsvTable readCsvTable(const std::string& path) {
    CsvTable csv;
    const auto lines = splitLines(readFile(path));
    if (lines.empty()) {
        ADD_FAILURE() << path << " is empty";
        return csv;
    }
    csv.header = commaFields(lines[0]);
    for (const auto& name : csv.header) EXPECT_FALSE(name.empty()) << path << ": " << lines[0];
    for (size_t i = 1; i < lines.size(); ++i) {
        csv.rows.push_back(commaFields(lines[i]));
        EXPECT_EQ(csv.rows.back().size(), csv.header.size()) << path << " line " << i + 1 << ": " << lines[i];
        EXPECT_EQ(lines[i].find('"'), std::string::npos) << path << " line " << i + 1 << " is quoted";
    }
    return csv;
}

}  // namespace vanto::testing
