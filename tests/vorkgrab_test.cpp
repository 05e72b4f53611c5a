// The host program as a person uses it: a process with arguments and files in a
// folder of its own.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "ToolRunner.h"

namespace {

namespace fs = std::filesystem;
using vorktest::Decode;
using vorktest::FilesIn;
using vorktest::Image;
using vorktest::MatchPattern;
using vorktest::PatternMatch;
using vorktest::ReadTextFile;
using vorktest::RunTool;
using vorktest::TempDir;
using vorktest::ToolResult;
using vorktest::ToolRun;
using vorktest::WriteTextFile;

class VorkgrabTest : public ::testing::Test {
protected:
    TempDir dir;
    ToolResult Run(const std::vector<std::string>& args) const { return RunTool(dir.path(), args); }
    PatternMatch Picture(const std::string& file) const { return MatchPattern(Decode(dir.path() / file)); }
};

// What a snap run leaves: its exit code, what it says, and exactly the pictures
// it saved, each the camera's picture. A run cut short says so and how far it got.
TEST_F(VorkgrabTest, SnapRunsSaveWhatTheyWereAskedFor) {
    WriteTextFile(dir.path() / "fast.ini", "[cam]\nFriendlyName=Fast\nDevicePath=f\nFrameRate=max\n"
                                           "Formats=320x240 RGB24 30\n");
    WriteTextFile(dir.path() / "slow.ini", "[cam]\nFriendlyName=Slow\nDevicePath=s\nFormats=640x480 RGB24 0.0001\n");
    WriteTextFile(dir.path() / "taken_1.bmp", "the user's");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string says;
        std::vector<fs::path> saved;
        const char* locale;  // LC_ALL, or none
    } cases[] = {
        {{"--continuous", "--cameras", "fast.ini", "--count", "3", "--every", "100", "--out", "run/f_%03d.ppm"}, 0,
         "300 frames", {"run", "run/f_000.ppm", "run/f_001.ppm", "run/f_002.ppm"}, nullptr},
        {{"--out", "d%d/x.bmp", "--count", "3"}, 0, "", {"d0", "d0/x.bmp", "d1", "d1/x.bmp", "d2", "d2/x.bmp"}, nullptr},
        {{"--out", "w_%5d.ppm", "--count", "2"}, 0, "", {"w_    0.ppm", "w_    1.ppm"}, nullptr},
        {{"--out", "\xc3\xbc_%d.png"}, 0, "", {"\xc3\xbc_0.png"}, "C"},
        {{"--out", "\xc3\xa9_%d.png"}, 0, "", {"\xc3\xa9_0.png"}, "C.UTF-8"},
        {{"--continuous", "--count", "3", "--cameras", "slow.ini", "--timeout", "1000", "--out", "s%d.png"}, 1,
         "vorkgrab: no picture could be taken: no frame within --timeout 1000 ms", {}, nullptr},
        {{"--out", "taken_%d.bmp", "--count", "3"}, 1,
         "vorkgrab: taken_1.bmp exists (--force replaces it); 1 picture was saved before", {"taken_0.bmp"}, nullptr},
        {{"--continuous", "--out", "taken_%d.bmp", "--count", "3"}, 1,
         "vorkgrab: taken_1.bmp exists (--force replaces it); 1 picture was saved before", {"taken_0.bmp"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args.back());
        const std::vector<fs::path> before = FilesIn(dir.path());
        ToolRun run;
        run.args = {"snap"};
        run.args.insert(run.args.end(), c.args.begin(), c.args.end());
        run.limitSeconds = 40;
        if (c.locale) run.env = {{"LC_ALL", c.locale}};
        const ToolResult r = RunTool(dir.path(), run);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        std::vector<fs::path> made;
        for (const fs::path& file : FilesIn(dir.path()))
            if (std::find(before.begin(), before.end(), file) == before.end()) made.push_back(file);
        EXPECT_EQ(made, c.saved);
        for (const fs::path& file : made) {
            if (fs::is_regular_file(dir.path() / file)) {
                EXPECT_EQ(Picture(file).worst, 0) << file;
            }
            fs::remove_all(dir.path() / file);
        }
    }
    EXPECT_EQ(ReadTextFile(dir.path() / "taken_1.bmp"), "the user's");
}

TEST_F(VorkgrabTest, PicturesWaitForTheCameraToSettle) {
    struct Case {
        int darkFrames;
        const char* skip;  // "" for the default
        double low, high;  // the picture's level as a share of the scene's
    } cases[] = {{10, "", 0.95, 1.05}, {10, "0", 0.0, 0.15}, {10, "5", 0.35, 0.65}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.darkFrames) + " dark frames, --skip " + c.skip);
        WriteTextFile(dir.path() / "dark.ini", "[d]\nFriendlyName=D\nDevicePath=d\nFormats=640x480 RGB24 30\n"
                                               "FrameRate=max\nDarkFrames=" + std::to_string(c.darkFrames) + "\n");
        std::vector<std::string> args{"snap", "--cameras", "dark.ini", "--out", "d.ppm", "--force"};
        if (*c.skip) args.insert(args.end(), {"--skip", c.skip});
        const ToolResult r = Run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const double level = Picture("d.ppm").level;
        EXPECT_GE(level, c.low);
        EXPECT_LE(level, c.high);
        EXPECT_EQ(r.err.find("dropped") != std::string::npos, *c.skip == 0 || std::string(c.skip) != "0") << r.err;
    }
}

// The common webcam sends YUY2 and MJPG only: the graph's converter and
// decompressor give RGB pictures of the scene, at the camera's size.
TEST_F(VorkgrabTest, TheWebcamDescriptionGivesPicturesThroughTheGraphsFilters) {
    const std::string webcam = std::string(VORK_CAMERAS_DIR) + "/webcam.ini";
    WriteTextFile(dir.path() / "mjpg.ini", "[m]\nFriendlyName=M\nDevicePath=m\nFormats=1280x720 MJPG 30, 640x480 MJPG 30\n");
    struct Case {
        std::string cameras;
        const char* size;  // "" and "": no option, as a new user runs it
        const char* mode;
        const char* camera;  // what the format command says the camera sends
        const char* picture;
        bool continuous;
    } cases[] = {{webcam, "", "", "640x480 YUY2", "640x480", false},
                 {webcam, "1280x720", "3", "1280x720 MJPG", "1280x720", false},
                 {"mjpg.ini", "", "", "1280x720 MJPG", "1280x720", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cameras + " " + c.size + " mode " + c.mode);
        std::vector<std::string> options{"--cameras", c.cameras};
        if (*c.size) options.insert(options.end(), {"--size", c.size, "--color-mode", c.mode});
        std::vector<std::string> format{"format"}, snap{"snap", "--out", "w.ppm", "--force"};
        format.insert(format.end(), options.begin(), options.end());
        snap.insert(snap.end(), options.begin(), options.end());
        if (c.continuous) snap.push_back("--continuous");
        ToolResult r = Run(format);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find(std::string("camera      ") + c.camera), std::string::npos) << r.out;
        r = Run(snap);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Image image = Decode(dir.path() / "w.ppm");
        EXPECT_EQ(std::to_string(image.width) + "x" + std::to_string(image.height), c.picture);
        // JPEG's 8x8 blocks ring along edges, and 16-bit modes lose low bits.
        const PatternMatch m = MatchPattern(image);
        EXPECT_LE(m.worstFlat, 36) << m.where;
        EXPECT_LE(m.error, 8);
    }
}

TEST_F(VorkgrabTest, PicturesAreSmallPngAndJpegFiles) {
    ToolResult r = Run({"snap", "--out", "small.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(fs::file_size(dir.path() / "small.png"), 100u * 1024) << "the PNG is not compressed";
    // Away from edges a JPEG keeps the colours, less so at lower quality.
    for (const auto& [quality, tolerance] : {std::pair{"90", 28}, {"20", 64}}) {
        const std::string name = std::string("q") + quality + ".jpg";
        r = Run({"snap", "--out", name, "--quality", quality});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_LE(Picture(name).worstFlat, tolerance) << Picture(name).where;
    }
    EXPECT_LT(fs::file_size(dir.path() / "q20.jpg"), fs::file_size(dir.path() / "q90.jpg"));
}

}  // namespace
