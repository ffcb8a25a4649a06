#pragma once
// Whole runs of the built program in a child process (environment, limits, a signal after a
// number of frames), the small generated series those runs read, and the check that every
// report ends with the same whole frame.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto::testing {

// How a child run of the built program is set up.
struct ChildSetup {
    std::vector<std::string> environment;  // NAME=VALUE to set, or NAME alone to unset
    rlim_t addressLimit = RLIM_INFINITY;
    // Done to the running child once its console shows this many finished frames.
    std::function<void(pid_t)> action;
    int actionAfterFrames = 0;
};

struct ChildOutput {
    int status = -1;  // exit status, or 128 + signal when killed
    std::string console;
    std::string errors;
};

// Runs the built program in a child with a CPU-time limit, so that a hang fails the test.
inline ChildOutput runChild(std::vector<std::string> words, const ChildSetup& setup = {}) {
    words.insert(words.begin(), VANTO_EXE);
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        for (const std::string& e : setup.environment) {
            const size_t eq = e.find('=');
            if (eq == std::string::npos) {
                unsetenv(e.c_str());
            } else {
                setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
            }
        }
        // Sanitizer builds: the list of leak suppressions used would add lines to stderr.
        if (const char* lsan = getenv("LSAN_OPTIONS"))
            setenv("LSAN_OPTIONS", (std::string(lsan) + ":print_suppressions=0").c_str(), 1);
        signal(SIGXFSZ, SIG_IGN);  // writes past a file-size limit fail with EFBIG instead
        const rlimit cpu{60, 60}, address{setup.addressLimit, setup.addressLimit};
        setrlimit(RLIMIT_CPU, &cpu);
        setrlimit(RLIMIT_AS, &address);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    ChildOutput result;
    bool acted = !setup.action;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.console : result.errors).append(buffer, static_cast<size_t>(n));
        }
        if (!acted) {
            int finished = 0;
            for (size_t at = 0; (at = result.console.find("--- Analysis Finished in ", at)) != std::string::npos; ++at)
                ++finished;
            if (finished >= setup.actionAfterFrames) {
                setup.action(pid);
                acted = true;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// A child run in which the output whose path ends with suffix is on a full disk: every write
// to it fails with ENOSPC (the fault shim, preloaded).
inline ChildSetup fullDiskFor(const std::string& suffix) {
    ChildSetup setup;
    setup.environment = {std::string("LD_PRELOAD=") + VANTO_FAULT_SHIM, "VANTO_FAIL_PATH=" + suffix,
                         "VANTO_FAIL_AFTER_BYTES=0", "VANTO_FAIL_AT_OPEN"};
    // A preloaded library comes before the sanitizer runtime in sanitizer builds.
    const char* asan = getenv("ASAN_OPTIONS");
    setup.environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
    return setup;
}

// Generated frames f_1.png .. f_<present>.png of 96 x 64 pixels in dir, and f_<count>.png so
// that the series reaches its -count; the frame numbers between are gaps, analysed with the
// last frame that loaded (the run then ends with status 2).
inline std::vector<std::string> seriesWords(const TempDir& dir, int count, int present = 3) {
    SeriesParams params;
    params.width = 96;
    params.height = 64;
    params.cellCount = 5;
    std::vector<uint8_t> frame(96 * 64);
    for (int j = 1; j <= present || j == count; j = j < present ? j + 1 : std::max(j + 1, count)) {
        const std::string path = dir.file("f_" + std::to_string(j) + ".png");
        if (std::filesystem::exists(path)) continue;
        renderSyntheticFrame(params, j, frame.data());
        writeGrayPng(path.c_str(), 96, 64, frame.data());
    }
    return {"-source", dir.path() + "/f_%d.png", "-w", "96", "-h", "64", "-count", std::to_string(count),
            "-threshold", "20", "-size", "5"};
}

inline std::vector<std::string> with(std::vector<std::string> words, const std::vector<std::string>& more) {
    words.insert(words.end(), more.begin(), more.end());
    return words;
}

// The frame numbers of a report's rows, after skipHeaderLines; every line must be whole.
inline std::vector<int> reportFrames(const std::string& path, size_t skipHeaderLines) {
    const std::string text = readFile(path);
    EXPECT_TRUE(text.empty() || text.back() == '\n') << path << " ends inside a line";
    std::vector<int> frames;
    const auto lines = splitLines(text);
    for (size_t i = skipHeaderLines; i < lines.size(); ++i) frames.push_back(std::stoi(lines[i]));
    return frames;
}

// Both reports end with the same whole frame: the frames in the average report are 1 .. n
// and the cell report has rows of those frames only. Returns n.
inline int expectWholeFrames(const TempDir& out) {
    const auto average = reportFrames(out.file("_average.csv"), 2);
    for (size_t i = 0; i < average.size(); ++i) EXPECT_EQ(average[i], static_cast<int>(i) + 1);
    const int last = static_cast<int>(average.size());
    const auto cells = reportFrames(out.file("_cell.csv"), 1);
    if (last > 0) {
        EXPECT_FALSE(cells.empty());
        EXPECT_EQ(cells.empty() ? 0 : cells.back(), last) << "the cell report ends with another frame";
    }
    return last;
}

// A refused run creates nothing but its record in the output folder: only _run.json, ending
// "refused" with status 1 and the run's refusals as its errors.
inline void expectOnlyRefusalRecord(const TempDir& out) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(out.path())) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"_run.json"}) << "a refused run creates nothing else";
    const auto record = nlohmann::json::parse(readFile(out.file("_run.json")), nullptr, false);
    EXPECT_EQ(record.value("ending", ""), "refused");
    EXPECT_EQ(record.value("exit_status", 0), 1);
    EXPECT_FALSE(record.value("errors", nlohmann::json::array()).empty());
}

}  // namespace vanto::testing
