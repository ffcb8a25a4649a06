#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/run.h"

namespace vanto::testing {

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vanto-test-XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct RunOutput {
    int status = -1;
    std::string console;
    std::string errors;
};

// The command line of the words given, the program's path put first, as the run reads it.
inline ParsedCommandLine parseWords(std::vector<std::string> words) {
    words.insert(words.begin(), "vanto");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// One whole run of the program in this process, the first word standing for its path.
inline RunOutput runProgram(std::vector<std::string> words) {
    words.insert(words.begin(), "vanto");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    std::ostringstream console, errors;
    RunOutput out;
    out.status = runVanto(static_cast<int>(argv.size()), argv.data(), console, errors);
    out.console = console.str();
    out.errors = errors.str();
    return out;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The fields of a report line; every field is followed by a comma, so the last comma ends it.
inline std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
        fields.push_back(line.substr(start, comma - start));
    return fields;
}

}  // namespace vanto::testing
