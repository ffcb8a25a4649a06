// The pixel size and frame interval read from TIFF files: OME-XML, ImageJ descriptions and
// resolution tags, their units, and which of them wins.
#include <gtest/gtest.h>

#include <string>

#include "frame_files.h"
#include "image/file_units.h"
#include "run_fixture.h"

namespace vanto {
namespace {

using testing::TempDir;
using testing::TiffPage;

std::string omeXml(const std::string& pixelAttributes) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\"><Image ID=\"Image:0\">"
           "<Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" Type=\"uint16\" SizeX=\"8\" SizeY=\"8\" SizeC=\"1\" "
           "SizeZ=\"1\" SizeT=\"2\" " +
           pixelAttributes + "><TiffData/></Pixels></Image></OME>";
}

TEST(FileUnits, OmeXmlSizesAndIncrementsInTheirUnits) {
    UnitFields f;
    f.description = omeXml("PhysicalSizeX=\"650\" PhysicalSizeXUnit=\"nm\" PhysicalSizeY=\"0.9\" "
                           "TimeIncrement=\"30\" TimeIncrementUnit=\"s\"");
    FileUnits u = unitsOfFields(f);
    EXPECT_DOUBLE_EQ(u.pixelSize, 0.65);
    EXPECT_DOUBLE_EQ(u.frameInterval, 0.5);
    EXPECT_EQ(u.pixelSizeFrom, "OME-XML");
    EXPECT_EQ(u.frameIntervalFrom, "OME-XML");

    // Without units the schema's defaults hold: micrometres and seconds.
    f.description = omeXml("PhysicalSizeX=\"0.325\" TimeIncrement=\"120\"");
    u = unitsOfFields(f);
    EXPECT_DOUBLE_EQ(u.pixelSize, 0.325);
    EXPECT_DOUBLE_EQ(u.frameInterval, 2);

    // The micro sign in UTF-8, hours; PhysicalSizeXUnit is not taken for PhysicalSizeX's value.
    f.description = omeXml("PhysicalSizeXUnit=\"\xC2\xB5m\" PhysicalSizeX=\"1.5\" TimeIncrement=\"0.25\" "
                           "TimeIncrementUnit=\"h\"");
    u = unitsOfFields(f);
    EXPECT_DOUBLE_EQ(u.pixelSize, 1.5);
    EXPECT_DOUBLE_EQ(u.frameInterval, 15);

    // A unit it does not know, or a value that is no positive number, tells nothing.
    f.description = omeXml("PhysicalSizeX=\"2\" PhysicalSizeXUnit=\"furlong\" TimeIncrement=\"-5\"");
    u = unitsOfFields(f);
    EXPECT_EQ(u.pixelSize, 0);
    EXPECT_EQ(u.frameInterval, 0);
    EXPECT_TRUE(u.pixelSizeFrom.empty() && u.frameIntervalFrom.empty());
}

TEST(FileUnits, ImageJDescriptionsGiveTheResolutionTagsTheirUnit) {
    UnitFields f;
    f.description = "ImageJ=1.53t\nimages=4\nframes=4\nunit=micron\nfinterval=90\nloop=false\n";
    f.xResolution = 4;  // pixels per micron
    f.resolutionUnit = 1;
    FileUnits u = unitsOfFields(f);
    EXPECT_DOUBLE_EQ(u.pixelSize, 0.25);
    EXPECT_DOUBLE_EQ(u.frameInterval, 1.5);
    EXPECT_EQ(u.pixelSizeFrom, "ImageJ description");
    EXPECT_EQ(u.frameIntervalFrom, "ImageJ description");

    // ImageJ's escaped micro sign, nanometres, a time unit of its own.
    f.description = "ImageJ=1.54f\nunit=nm\nfinterval=2\ntunit=min\n";
    f.xResolution = 0.01f;
    u = unitsOfFields(f);
    EXPECT_NEAR(u.pixelSize, 0.1, 1e-6);
    EXPECT_DOUBLE_EQ(u.frameInterval, 2);
    f.description = "ImageJ=1.54f\nunit=\\u00B5m\n";
    f.xResolution = 2;
    EXPECT_DOUBLE_EQ(unitsOfFields(f).pixelSize, 0.5);

    // An uncalibrated ImageJ image (unit=pixel, ResolutionUnit none) tells nothing.
    f.description = "ImageJ=1.54f\nunit=pixel\n";
    EXPECT_EQ(unitsOfFields(f).pixelSize, 0);
}

TEST(FileUnits, ResolutionTagsPerInchOrCentimetre) {
    UnitFields f;
    f.xResolution = 25400;  // per inch: 1 um
    f.resolutionUnit = 2;
    FileUnits u = unitsOfFields(f);
    EXPECT_DOUBLE_EQ(u.pixelSize, 1);
    EXPECT_EQ(u.pixelSizeFrom, "TIFF resolution");
    EXPECT_EQ(u.frameInterval, 0);
    f.xResolution = 40000;  // per centimetre: 0.25 um
    f.resolutionUnit = 3;
    EXPECT_DOUBLE_EQ(unitsOfFields(f).pixelSize, 0.25);
    // No unit, or the 72 per inch that programs write when they know none, is no calibration.
    f.resolutionUnit = 1;
    EXPECT_EQ(unitsOfFields(f).pixelSize, 0);
    f.xResolution = 72;
    f.resolutionUnit = 2;
    EXPECT_EQ(unitsOfFields(f).pixelSize, 0);
}

TEST(FileUnits, OmeXmlBeforeImageJBeforeResolutionTags) {
    UnitFields f;
    f.xResolution = 10000;  // per centimetre: 1 um
    f.resolutionUnit = 3;
    f.description = omeXml("PhysicalSizeX=\"0.5\"");
    EXPECT_DOUBLE_EQ(unitsOfFields(f).pixelSize, 0.5);
    EXPECT_EQ(unitsOfFields(f).pixelSizeFrom, "OME-XML");
    // OME-XML without a pixel size leaves it to the tags, and still gives its interval.
    f.description = omeXml("TimeIncrement=\"60\"");
    FileUnits u = unitsOfFields(f);
    EXPECT_DOUBLE_EQ(u.pixelSize, 1);
    EXPECT_EQ(u.pixelSizeFrom, "TIFF resolution");
    EXPECT_EQ(u.frameIntervalFrom, "OME-XML");
    // ImageJ's unit turns the same tags into its own unit instead of centimetres.
    f.description = "ImageJ=1.53t\nunit=mm\nfinterval=6\n";
    f.xResolution = 2;
    u = unitsOfFields(f);
    EXPECT_DOUBLE_EQ(u.pixelSize, 500);
    EXPECT_EQ(u.pixelSizeFrom, "ImageJ description");
    EXPECT_DOUBLE_EQ(u.frameInterval, 0.1);
}

// The same read back from files written with libtiff.
TEST(FileUnits, ReadFromTiffFiles) {
    TempDir dir;
    TiffPage page = testing::grayPage(8, 8);
    page.data.assign(64, 7);

    TiffPage ome = page;
    ome.description = omeXml("PhysicalSizeX=\"0.65\" PhysicalSizeXUnit=\"\xC2\xB5m\" TimeIncrement=\"5\" "
                             "TimeIncrementUnit=\"min\"");
    ome.xResolution = 100;
    ome.resolutionUnit = 3;
    ASSERT_TRUE(testing::writeTiffPages(dir.file("ome.tif"), {ome, page}));
    FileUnits u = readFileUnits(dir.file("ome.tif").c_str());
    EXPECT_DOUBLE_EQ(u.pixelSize, 0.65);
    EXPECT_DOUBLE_EQ(u.frameInterval, 5);
    EXPECT_EQ(u.pixelSizeFrom, "OME-XML");

    TiffPage imagej = page;
    imagej.description = "ImageJ=1.53t\nimages=3\nframes=3\nunit=micron\nfinterval=30\n";
    imagej.xResolution = 2;
    imagej.resolutionUnit = 1;
    ASSERT_TRUE(testing::writeTiffPages(dir.file("imagej.tif"), {imagej, page, page}));
    u = readFileUnits(dir.file("imagej.tif").c_str());
    EXPECT_DOUBLE_EQ(u.pixelSize, 0.5);
    EXPECT_DOUBLE_EQ(u.frameInterval, 0.5);
    EXPECT_EQ(u.pixelSizeFrom, "ImageJ description");

    TiffPage plain = page;
    plain.xResolution = 5000;  // per centimetre: 2 um
    plain.resolutionUnit = 3;
    ASSERT_TRUE(testing::writeTiffPages(dir.file("plain.tif"), {plain}));
    u = readFileUnits(dir.file("plain.tif").c_str());
    EXPECT_DOUBLE_EQ(u.pixelSize, 2);
    EXPECT_EQ(u.frameInterval, 0);
    EXPECT_EQ(u.pixelSizeFrom, "TIFF resolution");

    ASSERT_TRUE(testing::writeTiffPages(dir.file("bare.tif"), {page}));
    EXPECT_EQ(readFileUnits(dir.file("bare.tif").c_str()).pixelSize, 0);
    EXPECT_EQ(readFileUnits(dir.file("missing.tif").c_str()).pixelSize, 0);
}

}  // namespace
}  // namespace vanto
