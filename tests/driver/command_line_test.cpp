#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/command_line.h"

namespace vanto {
namespace {

RunConfig parse(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data()).config;
}

TEST(CommandLine, DefaultsComeFromTheProgramPath) {
    const RunConfig c = parse({"/opt/bin/vanto"});
    EXPECT_EQ(c.sourcePattern, "/opt/bin/vanto");
    EXPECT_EQ(c.outputDir, "/opt/bin/vanto");
    EXPECT_EQ(c.frameCount, 0);
    EXPECT_EQ(c.frameWidth, 0);
    EXPECT_EQ(c.frameHeight, 0);
    EXPECT_EQ(c.originX, 0);
    EXPECT_EQ(c.originY, 0);
    EXPECT_EQ(c.smallCellArea, 0);
    EXPECT_EQ(c.threshold, 0);
    EXPECT_FALSE(c.drawCalculation || c.drawIds || c.drawVoronoi);
}

TEST(CommandLine, TrackExportOptions) {
    const RunConfig none = parse({"vanto"});
    EXPECT_TRUE(none.ctcDir.empty());
    EXPECT_FALSE(none.writeTracks);
    EXPECT_EQ(none.pixelSize, 0.0);
    EXPECT_EQ(none.frameInterval, 0.0);
    const RunConfig c =
        parse({"vanto", "-ctc", "res", "-tracks", "-pixel-size", "0.65", "-frame-interval", "2.5e1", "-pixel-size"});
    EXPECT_EQ(c.ctcDir, "res");
    EXPECT_TRUE(c.writeTracks);
    EXPECT_EQ(c.pixelSize, 0.65);
    EXPECT_EQ(c.frameInterval, 25.0);
}

TEST(CommandLine, EveryOptionSetsItsField) {
    const RunConfig c = parse({"vanto", "-x", "3", "-y", "-4", "-w", "640", "-h", "480", "-count", "12", "-size",
                               "50", "-threshold", "20", "-source", "f_%03d.png", "-output", "out", "-id", "-image",
                               "-voronoi"});
    EXPECT_EQ(c.originX, 3);
    EXPECT_EQ(c.originY, -4);
    EXPECT_EQ(c.frameWidth, 640);
    EXPECT_EQ(c.frameHeight, 480);
    EXPECT_EQ(c.frameCount, 12);
    EXPECT_EQ(c.smallCellArea, 50);
    EXPECT_EQ(c.threshold, 20);
    EXPECT_EQ(c.sourcePattern, "f_%03d.png");
    EXPECT_EQ(c.outputDir, "out");
    EXPECT_TRUE(c.drawIds && c.drawCalculation && c.drawVoronoi);
}

TEST(CommandLine, AValueOptionDoesNotTakeAnotherOptionWord) {
    const RunConfig a = parse({"vanto", "-count", "3", "-image"});
    EXPECT_EQ(a.frameCount, 3);
    EXPECT_TRUE(a.drawCalculation);
    // The option word is read as the option it is, and the value option is an error.
    std::vector<std::string> words = {"vanto", "-count", "-image", "3"};
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    const ParsedCommandLine b = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(b.config.frameCount, 0);
    EXPECT_FALSE(b.config.hasCount);
    EXPECT_TRUE(b.config.drawCalculation);
    EXPECT_EQ(b.errors, std::vector<std::string>({"-count needs a value, not the option -image"}));
    const RunConfig c = parse({"vanto", "-output", "-voronoi"});
    EXPECT_EQ(c.outputDir, "vanto");
    EXPECT_TRUE(c.drawVoronoi);
}

TEST(CommandLine, WordsAreMatchedWhole) {
    const RunConfig c = parse({"vanto", "-x5", "-counts", "7", "-Image", "-x", "5"});
    EXPECT_EQ(c.originX, 5);
    EXPECT_EQ(c.frameCount, 0);
    EXPECT_FALSE(c.drawCalculation);
}

TEST(CommandLine, NumbersFollowAtoi) {
    EXPECT_EQ(parse({"vanto", "-threshold", "12abc"}).threshold, 12);
    EXPECT_EQ(parse({"vanto", "-threshold", "abc"}).threshold, 0);
    EXPECT_EQ(parse({"vanto", "-threshold", "  -7x"}).threshold, -7);
    EXPECT_EQ(parse({"vanto", "-threshold", "+9"}).threshold, 9);
    EXPECT_EQ(parse({"vanto", "-threshold", ""}).threshold, 0);
}

TEST(CommandLine, LastValueWinsAndATrailingValueOptionIsIgnored) {
    const RunConfig c = parse({"vanto", "-w", "10", "-w", "20", "-voronoi", "-voronoi", "-h"});
    EXPECT_EQ(c.frameWidth, 20);
    EXPECT_EQ(c.frameHeight, 0);
    EXPECT_TRUE(c.drawVoronoi);
}

TEST(CommandLine, TheProgramPathIsExaminedLikeAnyWord) {
    const RunConfig c = parse({"-image", "-count", "2"});
    EXPECT_TRUE(c.drawCalculation);
    EXPECT_EQ(c.frameCount, 2);
    EXPECT_EQ(c.outputDir, "-image");
}

TEST(CommandLine, CaretsBecomePercentInTheFirst256Characters) {
    EXPECT_EQ(parse({"vanto", "-source", "img^04d.tif"}).sourcePattern, "img%04d.tif");
    EXPECT_EQ(parse({"vanto", "-source", "img%04d.tif"}).sourcePattern, "img%04d.tif");
    std::string longWord(255, 'a');
    longWord += "^^";
    const std::string pattern = parse({"vanto", "-source", longWord}).sourcePattern;
    EXPECT_EQ(pattern.substr(255), "%^");
    EXPECT_EQ(parse({"vanto", "-output", "a^b"}).outputDir, "a^b");
}

TEST(FramePattern, ExactlyOneIntegerConversion) {
    EXPECT_TRUE(isFramePattern("frame_%04d.tif"));
    EXPECT_TRUE(isFramePattern("%d"));
    EXPECT_TRUE(isFramePattern("100%%/f%-5x.png"));
    EXPECT_TRUE(isFramePattern("f%+.3i"));
    EXPECT_FALSE(isFramePattern("frame.tif"));
    EXPECT_FALSE(isFramePattern("%d_%d.tif"));
    EXPECT_FALSE(isFramePattern("%s.tif"));
    EXPECT_FALSE(isFramePattern("%ld.tif"));
    EXPECT_FALSE(isFramePattern("%*d.tif"));
    EXPECT_FALSE(isFramePattern("%04d%"));
    EXPECT_FALSE(isFramePattern("%n%d"));
}

}  // namespace
}  // namespace vanto
