// The host program as a person uses it: a process with arguments and files in a
// folder of its own.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ToolRunner.h"

namespace {

namespace fs = std::filesystem;
using vorktest::Decode;
using vorktest::Image;
using vorktest::ReadTextFile;
using vorktest::RunTool;
using vorktest::TempDir;
using vorktest::ToolResult;
using vorktest::WriteTextFile;
using Result = ToolResult;

class VorkgrabTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(VorkgrabTest, SnapsAreSavedTheRightWayUpForEveryPixelFormat) {
    WriteTextFile(dir.path() / "cams.ini",
                  "[cam]\nFriendlyName=Cam\nDevicePath=p\nFormats=640x480 RGB24 30, 640x480 RGB32 30, "
                  "640x480 RGB565 30, 640x480 RGB555 30, 640x480 RGB8 30\n");
    struct Case {
        const char* mode;
        const char* mirrorV;
        const char* mirrorH;
        const char* file;
    } cases[] = {{"4", "1", "0", "a.png"}, {"5", "0", "0", "b.bmp"}, {"3", "1", "1", "c.ppm"},
                 {"2", "0", "1", "d.png"}, {"0", "1", "0", "e.bmp"}};
    for (const Case& c : cases) {
        WriteTextFile(dir.path() / "vork.ini", std::string("[DSGRABBER_Channel0]\nMirrorImgVerticalInPlace=") +
                                                   c.mirrorV + "\nMirrorImgHorizontalInPlace=" + c.mirrorH + "\n");
        Result r = RunTool(dir.path(), {"snap", "--cameras", "cams.ini", "--ini", "vork.ini", "--color-mode", c.mode,
                                        "--out", std::string("out/") + c.file});
        ASSERT_EQ(r.exitCode, 0) << c.mode << ": " << r.err;
        Image image = Decode(dir.path() / "out" / c.file);
        ASSERT_EQ(image.width, 640);
        ASSERT_EQ(image.height, 480);
        EXPECT_TRUE(image.White(20, 20)) << "marker missing top left, mode " << c.mode;
        EXPECT_FALSE(image.White(619, 20)) << c.mode;
        EXPECT_FALSE(image.White(20, 459)) << c.mode;
        EXPECT_FALSE(image.White(619, 459)) << c.mode;
        if (std::string(c.mode) != "0") {
            EXPECT_GT(image.At(20, 100)[2], 100);  // the blue bar, left
            EXPECT_LT(image.At(20, 100)[0], 60);
        }
    }
    EXPECT_FALSE(fs::exists(dir.path() / "out" / "a.png.part"));
}

TEST_F(VorkgrabTest, BadInputGetsAOneLineErrorAndTheRightExitCode) {
    WriteTextFile(dir.path() / "nocam.ini", "[cam]\nFriendlyName=Broken\nBind=0\n");
    WriteTextFile(dir.path() / "badcams.ini", "[cam]\nFormats=640x480 RGB99 30\n");
    WriteTextFile(dir.path() / "afile", "x");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    } cases[] = {
        {{"dance"}, 2, "vorkgrab: unknown command dance"},
        {{"snap", "--frobnicate"}, 2, "vorkgrab: unknown option --frobnicate"},
        {{"snap", "--count", "many"}, 2, "vorkgrab: --count: 'many' is not a whole number"},
        {{"snap", "--size", "640by480"}, 2, "vorkgrab: --size: '640by480' is not WIDTHxHEIGHT"},
        {{"snap", "--out", "x.gif"}, 2, "vorkgrab: --out: 'x.gif' must end in .png, .jpg, .bmp or .ppm"},
        {{}, 2, "vorkgrab: no command given"},
        {{"list", "--ini", "nofolder/missing.ini"}, 1, "vorkgrab: --ini: the folder of"},
        {{"list", "--cameras", "missing.ini"}, 1, "vorkgrab: missing.ini: cannot be read"},
        {{"list", "--cameras", "badcams.ini"}, 1, "vorkgrab: badcams.ini: [cam] Formats: bad value"},
        {{"snap", "--cameras", "nocam.ini", "--out", "n.png"}, 1, "vorkgrab: no camera could be opened"},
        {{"snap", "--out", "afile/x.png"}, 1, "vorkgrab: cannot create the output folder afile"},
        {{"set", "brightness"}, 2, "vorkgrab: set: 'brightness' is not NAME=PERCENT"},
    };
    for (const Case& c : cases) {
        Result r = RunTool(dir.path(), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        // One line says what went wrong; event reports may come before it.
        const size_t at = r.err.find(c.message);
        EXPECT_TRUE(at == 0 || (at != std::string::npos && r.err[at - 1] == '\n')) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir.path() / "n.png"));
}

TEST_F(VorkgrabTest, ExistingPicturesAreReplacedOnlyWhenForced) {
    WriteTextFile(dir.path() / "keep.ppm", "precious");
    Result r = RunTool(dir.path(), {"snap", "--out", "keep.ppm"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("keep.ppm exists (--force replaces it)"), std::string::npos);
    EXPECT_EQ(ReadTextFile(dir.path() / "keep.ppm"), "precious");
    r = RunTool(dir.path(), {"snap", "--out", "keep.ppm", "--force"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Decode(dir.path() / "keep.ppm").width, 640);
}

TEST_F(VorkgrabTest, AContinuousRunCountsItsFrames) {
    WriteTextFile(dir.path() / "fast.ini", "[cam]\nFriendlyName=Fast\nDevicePath=f\nFrameRate=max\n"
                                           "Formats=320x240 RGB24 30\n");
    Result r = RunTool(dir.path(), {"snap", "--continuous", "--cameras", "fast.ini", "--count", "3", "--every", "100",
                                    "--out", "run/f_%03d.ppm", "--size", "320x240"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("300 frames"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("3 saved"), std::string::npos) << r.err;
    for (const char* f : {"f_000.ppm", "f_001.ppm", "f_002.ppm"}) EXPECT_TRUE(fs::exists(dir.path() / "run" / f));
    EXPECT_FALSE(fs::exists(dir.path() / "run" / "f_003.ppm"));
}

double MeanLevel(const Image& image) {
    double sum = 0;
    for (uint8_t v : image.rgb) sum += v;
    return image.rgb.empty() ? 0 : sum / static_cast<double>(image.rgb.size());
}

TEST_F(VorkgrabTest, PicturesWaitForTheCameraToSettle) {
    ASSERT_EQ(RunTool(dir.path(), {"snap", "--out", "full.ppm"}).exitCode, 0);
    const double full = MeanLevel(Decode(dir.path() / "full.ppm"));
    struct Case {
        int darkFrames;
        const char* skip;  // "" for the default
        double low, high;  // the picture's level as a share of the settled picture's
    } cases[] = {{10, "", 0.95, 1.05}, {10, "0", 0.0, 0.15}, {10, "5", 0.35, 0.65}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.darkFrames) + " dark frames, --skip " + c.skip);
        WriteTextFile(dir.path() / "dark.ini", "[d]\nFriendlyName=D\nDevicePath=d\nFormats=640x480 RGB24 30\nFrameRate=max\nDarkFrames=" +
                                                   std::to_string(c.darkFrames) + "\n");
        std::vector<std::string> args{"snap", "--cameras", "dark.ini", "--out", "d.ppm", "--force"};
        if (*c.skip) args.insert(args.end(), {"--skip", c.skip});
        const Result r = RunTool(dir.path(), args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const double level = MeanLevel(Decode(dir.path() / "d.ppm")) / full;
        EXPECT_GE(level, c.low);
        EXPECT_LE(level, c.high);
        EXPECT_EQ(r.err.find("dropped") != std::string::npos, *c.skip == 0 || std::string(c.skip) != "0") << r.err;
    }
}

TEST_F(VorkgrabTest, AContinuousRunOutlivesAPulledCamera) {
    WriteTextFile(dir.path() / "usb.ini", "[u]\nFriendlyName=USB\nDevicePath=usb-1\nFormats=320x240 RGB24 30\nUnplug=300/300\n");
    const std::string ini = "[DSGRABBER]\r\nFriendlyNamePart=USB\r\nDevicePath=usb-1\r\n";
    WriteTextFile(dir.path() / "user.ini", ini);
    const std::vector<std::string> run{"snap",    "--continuous", "--seconds", "1.5",      "--every", "5",
                                       "--ini",   "user.ini",     "--cameras", "usb.ini", "--out",   "u/f_%03d.ppm",
                                       "--size",  "320x240"};
    Result r = RunTool(dir.path(), run);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("the camera was lost; waiting for it to come back"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the camera is back after"), std::string::npos) << r.err;
    EXPECT_EQ(ReadTextFile(dir.path() / "user.ini"), ini);
    EXPECT_TRUE(fs::exists(dir.path() / "u" / "f_004.ppm")) << "no pictures after the return";
    EXPECT_EQ(Decode(dir.path() / "u" / "f_004.ppm").width, 320) << "the size in force was not applied again";
    std::vector<std::string> once = run;
    once.insert(once.end(), {"--no-reconnect", "--force"});
    r = RunTool(dir.path(), once);
    EXPECT_EQ(r.exitCode, 3) << r.err;
}

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
    } cases[] = {{webcam, "640x480", "2", "640x480 YUY2", "640x480", false},
                 {webcam, "320x240", "5", "320x240 YUY2", "320x240", false},
                 {webcam, "1280x720", "3", "1280x720 MJPG", "1280x720", false},
                 {webcam, "640x480", "4", "640x480 YUY2", "640x480", false},
                 {webcam, "", "", "640x480 YUY2", "640x480", false},
                 {"mjpg.ini", "", "", "1280x720 MJPG", "1280x720", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cameras + " " + c.size + " mode " + c.mode);
        std::vector<std::string> options{"--cameras", c.cameras};
        if (*c.size) options.insert(options.end(), {"--size", c.size, "--color-mode", c.mode});
        std::vector<std::string> format{"format"}, snap{"snap", "--out", "w.ppm", "--force"};
        format.insert(format.end(), options.begin(), options.end());
        snap.insert(snap.end(), options.begin(), options.end());
        if (c.continuous) snap.push_back("--continuous");
        Result r = RunTool(dir.path(), format);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find(std::string("camera      ") + c.camera), std::string::npos) << r.out;
        r = RunTool(dir.path(), snap);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Image image = Decode(dir.path() / "w.ppm");
        EXPECT_EQ(std::to_string(image.width) + "x" + std::to_string(image.height), c.picture);
        EXPECT_TRUE(image.White(image.width / 32, image.height / 32)) << "marker top left";
        EXPECT_FALSE(image.White(image.width - 1 - image.width / 32, image.height - 1 - image.height / 32));
    }
}

TEST_F(VorkgrabTest, PicturesAreSmallPngAndJpegFiles) {
    Result r = RunTool(dir.path(), {"snap", "--out", "small.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(fs::file_size(dir.path() / "small.png"), 100u * 1024) << "the PNG is not compressed";
    for (const char* quality : {"90", "20"}) {
        const std::string name = std::string("q") + quality + ".jpg";
        r = RunTool(dir.path(), {"snap", "--out", name, "--quality", quality});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Image image = Decode(dir.path() / name);
        ASSERT_EQ(image.width, 640);
        EXPECT_TRUE(image.White(20, 20)) << "marker top left";
        EXPECT_GT(image.At(20, 100)[2], 100);  // the blue bar
    }
    EXPECT_LT(fs::file_size(dir.path() / "q20.jpg"), fs::file_size(dir.path() / "q90.jpg"));
    r = RunTool(dir.path(), {"snap", "--out", "x.jpg", "--quality", "0"});
    EXPECT_EQ(r.exitCode, 2);
}

}  // namespace
