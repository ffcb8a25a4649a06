// The faults the fuzz harnesses found, replayed from their saved inputs in fuzz/regressions.
// Each runs in a child process under a resource limit, so that a fault fails the test instead
// of exhausting the machine.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../fuzz/frame_input.h"
#include "image/frame_loader.h"
#include "load_frame.h"
#include "run_fixture.h"

namespace vanto {
namespace {

using testing::TempDir;

std::vector<uint8_t> savedInput(const std::string& harness, const std::string& name) {
    std::ifstream in(std::string(VANTO_FUZZ_REGRESSIONS) + "/" + harness + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs body in a child under the limits; the child's exit status (2 for an exception), or
// 128 + the signal that ended it.
template <typename Body>
int inChild(rlim_t addressBytes, rlim_t cpuSeconds, Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit cpu{cpuSeconds, cpuSeconds};
        setrlimit(RLIMIT_CPU, &cpu);
        if (addressBytes) {
            const rlimit as{addressBytes, addressBytes};
            setrlimit(RLIMIT_AS, &as);
        }
        int code = 2;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool underAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// A bomb frame (a few hundred bytes declaring gigabytes) is an unreadable frame with a reason,
// read within a 512 MB address space, and leaves the gray plane as it was.
void expectBombRefused(const std::string& name) {
    const std::vector<uint8_t> input = savedInput("frame_loader", name);
    fuzz::FrameInput in;
    ASSERT_TRUE(fuzz::splitFrameInput(input.data(), input.size(), in)) << name;
    TempDir dir;
    const std::string path = dir.file("frame");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(in.file), in.fileSize);
    // AddressSanitizer reserves more address space than the limit; the processor limit stays.
    const int status = inChild(underAddressSanitizer() ? 0 : 512u << 20, 10, [&] {
        Canvas canvas;
        canvas.createCanvas(in.width, in.height);
        std::fill(canvas.gray.begin(), canvas.gray.end(), 0xAB);
        const Status r = loadFrame(canvas, path.c_str(), in.originX, in.originY);
        const bool untouched = std::all_of(canvas.gray.begin(), canvas.gray.end(), [](uint8_t v) { return v == 0xAB; });
        return r.code != StatusCode::ok && !r.detail.empty() && untouched ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << name << ": 1 = loaded or no reason, 2 = out of memory, above 128 = killed (time)";
}

TEST(FuzzRegression, HugeInterlacedPngDecodedWhole) { expectBombRefused("huge_interlaced_png_decoded_whole"); }
TEST(FuzzRegression, HugeStripDecodedWhole) { expectBombRefused("huge_strip_decoded_whole"); }
TEST(FuzzRegression, HugeSingleRowStripDecodedWhole) {
    expectBombRefused("huge_single_row_strip_decoded_whole");
}
TEST(FuzzRegression, HugeTileDecodedWhole) { expectBombRefused("huge_tile_decoded_whole"); }
// A text chunk declaring a gigabyte, before the truncated pixels of a huge interlaced frame.
TEST(FuzzRegression, HugeTextChunkAllocated) { expectBombRefused("huge_text_chunk_allocated"); }

// A frame pattern whose paths cannot fit is refused within a second of processor time.
void expectPatternRefusedAtOnce(const std::string& name) {
    const std::vector<uint8_t> input = savedInput("command_line", name);
    ASSERT_FALSE(input.empty()) << name;
    std::vector<std::string> words(1);
    for (const uint8_t c : input) {
        if (c == 0) {
            words.emplace_back();
        } else {
            words.back().push_back(static_cast<char>(c));
        }
    }
    TempDir dir;
    words.erase(words.begin());  // the program's path
    for (const char* w : {"-count", "1", "-w", "8", "-h", "8", "-output"}) words.push_back(w);
    words.push_back(dir.path());
    const int status = inChild(0, 1, [&] { return testing::runProgram(words).status; });
    EXPECT_EQ(status, 1) << name << ": above 128 = killed by signal (processor time)";
}

TEST(FuzzRegression, FramePatternHugeWidthSlow) { expectPatternRefusedAtOnce("frame_pattern_huge_width_slow"); }
TEST(FuzzRegression, FramePatternHugePrecisionSlow) {
    expectPatternRefusedAtOnce("frame_pattern_huge_precision_slow");
}

}  // namespace
}  // namespace vanto
