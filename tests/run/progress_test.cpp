#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/progress_meter.h"
#include "run_fixture.h"
#include "synthetic_series.h"

namespace vanto {
namespace {

using testing::readFile;
using testing::runProgram;
using testing::splitLines;
using testing::TempDir;

TEST(ProgressMeter, LinesAreThrottledAndTheLastFrameIsAlwaysReported) {
    ProgressMeter meter;
    std::ostringstream out;
    meter.start(true, 10, 1000);
    for (int32_t frame = 1; frame <= 10; ++frame) meter.frameDone(frame, 1000 + frame * 200, out);
    // 200 ms a frame: a line at frames 3 (600 ms), 6 (1,200 ms since start, 600 since the last),
    // 9, and the last frame whatever its distance to the one before.
    EXPECT_EQ(splitLines(out.str()), (std::vector<std::string>{
                                         "vanto: 3 of 10 frames done, 5.0 frames/s, 1 s left",
                                         "vanto: 6 of 10 frames done, 5.0 frames/s, 1 s left",
                                         "vanto: 9 of 10 frames done, 5.0 frames/s, 0 s left",
                                         "vanto: 10 of 10 frames done, 5.0 frames/s, 0 s left",
                                     }));
}

TEST(ProgressMeter, LongRunsTellMinutesAndHoursAndADisabledMeterWritesNothing) {
    ProgressMeter meter;
    std::ostringstream out;
    meter.start(true, 100000, 0);
    meter.frameDone(1, 1000, out);     // 99,999 s left
    meter.frameDone(100, 100000, out);  // 1 frame/s, 99,900 s
    meter.start(true, 200, 0);
    meter.frameDone(10, 10000, out);  // 190 s
    meter.start(false, 10, 0);
    meter.frameDone(10, 10000, out);
    EXPECT_EQ(splitLines(out.str()), (std::vector<std::string>{
                                         "vanto: 1 of 100000 frames done, 1.0 frames/s, 27 h 46 min left",
                                         "vanto: 100 of 100000 frames done, 1.0 frames/s, 27 h 45 min left",
                                         "vanto: 10 of 200 frames done, 1.0 frames/s, 3 min 10 s left",
                                     }));
}

TEST(ProgressMeter, InPlaceOneLineIsRewrittenClearedAndEnded) {
    ProgressMeter meter;
    std::ostringstream out;
    meter.start(true, 100, 0, true);
    meter.frameDone(1, 1000, out);     // due: drawn
    meter.frameDone(2, 1100, out);     // not due: nothing
    meter.clearLine(out);              // wiped for a console line
    meter.frameDone(3, 1200, out);     // not due, but drawn again as it stood
    meter.frameDone(90, 9000, out);    // due: rewritten; the shorter line wipes what is left
    meter.endLine(out);                // ended for a message
    meter.endLine(out);                // nothing more to end
    meter.frameDone(100, 10000, out);  // the last frame: drawn and ended
    const std::string first = "vanto: 1 of 100 frames done, 1.0 frames/s, 1 min 39 s left";
    const std::string later = "vanto: 90 of 100 frames done, 10.0 frames/s, 1 s left";
    const std::string last = "vanto: 100 of 100 frames done, 10.0 frames/s, 0 s left";
    const std::string blanks(first.size(), ' ');
    EXPECT_EQ(out.str(), "\r" + first + "\r" + blanks + "\r" + "\r" + first + "\r" + later +
                             std::string(first.size() - later.size(), ' ') + "\n" + "\r" + last + "\n");
}

TEST(ProgressMeter, ARunWithProgressKeepsItsConsoleAndLogAndReportsOnStandardError) {
    TempDir dir;
    SeriesParams params;
    params.width = 64;
    params.height = 64;
    params.cellCount = 3;
    std::vector<uint8_t> frame(64 * 64);
    for (int32_t j = 1; j <= 2; ++j) {
        renderSyntheticFrame(params, j, frame.data());
        ASSERT_TRUE(writeGrayPng(dir.file("f_00" + std::to_string(j) + ".png").c_str(), 64, 64, frame.data()));
    }
    const std::vector<std::string> words = {"-source", dir.path() + "/f_^03d.png", "-w", "64", "-h", "64",
                                            "-count", "2", "-threshold", "20", "-output", dir.path()};
    std::vector<std::string> withProgress = words;
    withProgress.insert(withProgress.begin() + 2, "-progress");  // anywhere among the words
    const auto plain = runProgram(words);
    const std::string plainLog = readFile(dir.file("_log.txt"));
    const auto shown = runProgram(withProgress);
    ASSERT_EQ(shown.status, 0);
    EXPECT_EQ(plain.errors, "");
    const auto errors = splitLines(shown.errors);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().rfind("vanto: 2 of 2 frames done, ", 0), 0u) << shown.errors;
    // Console and log differ only in the per-frame times.
    auto untimed = [](const std::string& text) {
        std::vector<std::string> lines;
        for (const auto& line : splitLines(text))
            if (line.rfind("--- Analysis Finished in ", 0) != 0) lines.push_back(line);
        return lines;
    };
    EXPECT_EQ(untimed(shown.console), untimed(plain.console));
    EXPECT_EQ(untimed(readFile(dir.file("_log.txt"))), untimed(plainLog));
}

// -quiet: no per-frame line on the console, whatever happens in the frame; the log keeps
// them all and standard error still names the unreadable frame.
TEST(QuietConsole, ThePerFrameLinesStayInTheLogOnly) {
    TempDir dir;
    SeriesParams params;
    params.width = 64;
    params.height = 64;
    params.cellCount = 3;
    std::vector<uint8_t> frame(64 * 64);
    for (int32_t j : {1, 3}) {
        renderSyntheticFrame(params, j, frame.data());
        ASSERT_TRUE(writeGrayPng(dir.file("f_00" + std::to_string(j) + ".png").c_str(), 64, 64, frame.data()));
    }
    std::ofstream(dir.file("f_002.png")) << "not an image";  // frame 2 cannot be read
    const std::vector<std::string> words = {"-source", dir.path() + "/f_^03d.png", "-w", "64", "-h", "64",
                                            "-count", "3", "-threshold", "20", "-output", dir.path()};
    const auto plain = runProgram(words);
    const std::string plainLog = readFile(dir.file("_log.txt"));
    std::vector<std::string> quietWords = words;
    quietWords.push_back("-quiet");
    const auto quiet = runProgram(quietWords);
    ASSERT_EQ(plain.status, 2) << plain.errors;
    ASSERT_EQ(quiet.status, 2) << quiet.errors;
    EXPECT_EQ(quiet.errors, plain.errors);
    auto untimed = [](const std::string& text) {
        std::vector<std::string> lines;
        for (const auto& line : splitLines(text))
            if (line.rfind("--- Analysis Finished in ", 0) != 0) lines.push_back(line);
        return lines;
    };
    EXPECT_EQ(untimed(readFile(dir.file("_log.txt"))), untimed(plainLog));
    // The quiet console is the plain one without the lines of frames 1 to 3.
    const auto plainLines = splitLines(plain.console);
    const auto memory = std::find(plainLines.begin(), plainLines.end(), "--- Memory Prepared ---");
    ASSERT_NE(memory, plainLines.end());
    const std::vector<std::string> header(plainLines.begin(), memory + 2);  // and its blank line
    EXPECT_EQ(splitLines(quiet.console), header);
    EXPECT_NE(std::find(plainLines.begin(), plainLines.end(), "Image Load Error"), plainLines.end());
    EXPECT_GT(plainLines.size(), header.size() + 6);
    EXPECT_NE(quiet.errors.find("frame 2"), std::string::npos) << quiet.errors;
}

// The program itself with standard error on a terminal (a pseudo-terminal) and the console
// on a pipe: the meter's line is rewritten in place and ended once, after the last frame.
TEST(ProgressMeter, OnATerminalTheLineIsRewrittenInPlace) {
    TempDir dir;
    SeriesParams params;
    params.width = 64;
    params.height = 64;
    params.cellCount = 3;
    std::vector<uint8_t> frame(64 * 64);
    for (int32_t j = 1; j <= 3; ++j) {
        renderSyntheticFrame(params, j, frame.data());
        ASSERT_TRUE(writeGrayPng(dir.file("f_00" + std::to_string(j) + ".png").c_str(), 64, 64, frame.data()));
    }
    std::vector<std::string> words = {VANTO_EXE, "-source", dir.path() + "/f_^03d.png", "-w", "64", "-h", "64",
                                      "-count", "3", "-threshold", "20", "-output", dir.path(), "-threads", "1"};
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int master = -1, slave = -1, console[2];
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(pipe(console), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(console[1], 1);
        dup2(slave, 2);
        close(console[0]);
        close(master);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(slave);
    close(console[1]);
    std::string shown, printed;
    char buffer[4096];
    for (ssize_t n; (n = read(console[0], buffer, sizeof buffer)) > 0;) printed.append(buffer, static_cast<size_t>(n));
    // The terminal's side ends with an error once the child and its copies have closed it.
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, static_cast<size_t>(n));
    int status = 0;
    waitpid(pid, &status, 0);
    close(console[0]);
    close(master);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    // The terminal turns "\n" into "\r\n": one line ended, after the last frame's figures.
    EXPECT_NE(shown.find("\rvanto: 3 of 3 frames done, "), std::string::npos) << shown;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 6), "left\r\n") << shown;
    EXPECT_NE(printed.find("--- Analysis Finished in "), std::string::npos);
}

}  // namespace
}  // namespace vanto
