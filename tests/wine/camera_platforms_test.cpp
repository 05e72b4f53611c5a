// The host program against the same camera descriptions on two platforms: the
// simulated DirectShow of this build, and Wine's own DirectShow with the
// vorkvcam filter registered for each description. A case that passes on one
// and fails on the other is a misunderstanding of DirectShow on one side.
//
// The Wine cases run when VORK_WINE_BIN names the folder of the x86_64 build
// (vorkgrab.exe, its DLLs and vorkvcam.dll) and skip otherwise; scripts/wine-test.sh
// builds that folder and runs them in a fresh Wine prefix.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#include "TestSupport.h"
#include "ToolRunner.h"

namespace {

namespace fs = std::filesystem;
using vorktest::Decode;
using vorktest::Image;
using vorktest::MatchPattern;
using vorktest::PatternMatch;
using vorktest::ReadTextFile;
using vorktest::TempDir;
using vorktest::ToolResult;
using vorktest::ToolRun;
using vorktest::WriteTextFile;

const char kWineLoader[] = "/usr/lib/wine/wine64";
const char kWineServer[] = "/usr/lib/wine/wineserver";

std::string WineBin() {
    const char* bin = std::getenv("VORK_WINE_BIN");
    return bin ? fs::absolute(bin).string() : std::string();
}

// Console output of a Windows program ends its lines with CR LF.
std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// One Wine prefix for the whole run, made fresh, and its server shut down at
// the end so that nothing of it outlives the tests.
class WinePrefix : public ::testing::Environment {
public:
    void SetUp() override {
        if (WineBin().empty()) return;
        prefix_ = std::make_unique<TempDir>();
        setenv("WINEPREFIX", (prefix_->path() / "prefix").c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "winealsa.drv,winepulse.drv=d", 1);
        ToolRun boot;
        boot.launcher = {kWineLoader, "wineboot", "-i"};
        boot.limitSeconds = 180;
        const ToolResult r = vorktest::RunTool(prefix_->path(), boot);
        ready_ = r.exitCode == 0;
        if (!ready_) std::fprintf(stderr, "wineboot failed: %s\n", r.err.c_str());
    }
    void TearDown() override {
        if (!prefix_) return;
        ToolRun stop;
        stop.launcher = {kWineServer, "-k"};
        vorktest::RunTool(prefix_->path(), stop);
        prefix_.reset();
    }
    static bool Ready() { return ready_; }

private:
    std::unique_ptr<TempDir> prefix_;
    static inline bool ready_ = false;
};

[[maybe_unused]] ::testing::Environment* const g_prefix = ::testing::AddGlobalTestEnvironment(new WinePrefix);

// Where the cameras come from and how the program runs.
class Platform {
public:
    virtual ~Platform() = default;
    // Makes the described cameras the machine's cameras; false with a reason.
    virtual bool Describe(const fs::path& dir, const std::string& cameras, std::string& why) = 0;
    // The one default camera of a machine without a description.
    virtual bool DescribeDefault(const fs::path& dir, std::string& why) = 0;
    // No camera at all.
    virtual bool RemoveAll(const fs::path& dir, std::string& why) = 0;
    virtual ToolResult Run(const fs::path& dir, std::vector<std::string> args) = 0;
};

class Simulation : public Platform {
public:
    bool Describe(const fs::path& dir, const std::string& cameras, std::string&) override {
        WriteTextFile(dir / "cams.ini", cameras);
        described_ = true;
        return true;
    }
    bool DescribeDefault(const fs::path&, std::string&) override {
        described_ = false;
        return true;
    }
    bool RemoveAll(const fs::path& dir, std::string& why) override { return Describe(dir, "", why); }
    ToolResult Run(const fs::path& dir, std::vector<std::string> args) override {
        if (described_) args.insert(args.end(), {"--cameras", "cams.ini"});
        return vorktest::RunTool(dir, args);
    }

private:
    bool described_ = false;
};

class Wine : public Platform {
public:
    bool Describe(const fs::path& dir, const std::string& cameras, std::string& why) override {
        WriteTextFile(dir / "cams.ini", cameras);
        return Regsvr32(dir, {"/n", "/i:cams.ini"}, why);
    }
    bool DescribeDefault(const fs::path& dir, std::string& why) override { return Regsvr32(dir, {}, why); }
    bool RemoveAll(const fs::path& dir, std::string& why) override { return Regsvr32(dir, {"/u"}, why); }
    ToolResult Run(const fs::path& dir, std::vector<std::string> args) override {
        ToolRun run;
        run.launcher = {kWineLoader, WineBin() + "/vorkgrab.exe"};
        run.args = std::move(args);
        ToolResult r = vorktest::RunTool(dir, run);
        r.out = WithoutCarriageReturns(r.out);
        r.err = WithoutCarriageReturns(r.err);
        return r;
    }

private:
    static bool Regsvr32(const fs::path& dir, const std::vector<std::string>& options, std::string& why) {
        ToolRun reg;
        reg.launcher = {kWineLoader, "regsvr32", "/s"};
        reg.launcher.insert(reg.launcher.end(), options.begin(), options.end());
        reg.launcher.push_back(WineBin() + "/vorkvcam.dll");
        const ToolResult r = vorktest::RunTool(dir, reg);
        why = "regsvr32 ended with " + std::to_string(r.exitCode) + ": " + r.err;
        return r.exitCode == 0;
    }
};

class CameraPlatforms : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "Wine") {
            if (WineBin().empty()) GTEST_SKIP() << "VORK_WINE_BIN is not set (scripts/wine-test.sh sets it)";
            ASSERT_TRUE(WinePrefix::Ready()) << "the Wine prefix could not be made";
            platform_ = std::make_unique<Wine>();
            // Whatever an earlier case left, crashed or not: no camera of ours,
            // registered or unplugged.
            std::string why;
            ASSERT_TRUE(platform_->RemoveAll(dir.path(), why)) << why;
        } else {
            platform_ = std::make_unique<Simulation>();
        }
    }
    void Describe(const std::string& cameras) {
        std::string why;
        ASSERT_TRUE(platform_->Describe(dir.path(), cameras, why)) << why;
    }
    ToolResult Run(std::vector<std::string> args) { return platform_->Run(dir.path(), std::move(args)); }
    std::string Ini() const { return ReadTextFile(dir.path() / "vork.ini"); }
    PatternMatch Picture(const std::string& file, bool grey = false) const {
        return MatchPattern(Decode(dir.path() / file), grey);
    }
    bool OnWine() const { return GetParam() == "Wine"; }

    TempDir dir;
    std::unique_ptr<Platform> platform_;
};

const char kTwins[] =
    "[one]\nFriendlyName=USB Camera\nDevicePath=path-1\n"
    "[two]\nFriendlyName=Other\nDevicePath=path-2\n"
    "[three]\nFriendlyName=USB Camera\nDevicePath=path-3\n";

TEST_P(CameraPlatforms, ListGivesTwinsASuffixAndMarksTheConnectedCamera) {
    Describe(kTwins);
    ToolResult r = Run({"list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "*  0  USB Camera                        path-1\n"
              "   1  Other                             path-2\n"
              "   2  USB Camera_2                      path-3\n");
}

TEST_P(CameraPlatforms, TheDefaultCameraAndNoCameraAtAll) {
    std::string why;
    ASSERT_TRUE(platform_->DescribeDefault(dir.path(), why)) << why;
    ToolResult r = Run({"list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "*  0  VORK Virtual Camera               "
              "\\\\?\\root#vorkcam#0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global\n");
    r = Run({"snap", "--out", "default.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Picture("default.bmp").worst, 0) << Picture("default.bmp").where;
    ASSERT_TRUE(platform_->RemoveAll(dir.path(), why)) << why;
    r = Run({"list"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("event 9: CVORKDirectShowGrabber::InitBoard:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("vorkgrab: no camera"), std::string::npos) << r.err;
}

TEST_P(CameraPlatforms, NamesAndPathsOutsideAsciiComeThroughUnchanged) {
    Describe("[a]\nFriendlyName=Kamera \xC3\x9C \xE2\x82\xAC\nDevicePath=p\xC3\xA4th\n"
             "[b]\nFriendlyName=Kamera \xC3\x9C \xE2\x82\xAC\nDevicePath=\xE8\xB7\xAF\xE5\xBE\x84\n");
    ToolResult r = Run({"list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "*  0  Kamera \xC3\x9C \xE2\x82\xAC                     p\xC3\xA4th\n"
              "   1  Kamera \xC3\x9C \xE2\x82\xAC_1                   \xE8\xB7\xAF\xE5\xBE\x84\n");
    // The profile functions read UTF-8 only after its byte-order mark; without
    // one the file is in the Windows code page, where Latin-1 bytes work.
    WriteTextFile(dir.path() / "vork.ini", "\xEF\xBB\xBF[DSGRABBER]\nDevicePath=\xE8\xB7\xAF\xE5\xBE\x84\n");
    r = Run({"list", "--ini", "vork.ini"});
    EXPECT_NE(r.out.find("*  1  Kamera"), std::string::npos) << r.out;
    WriteTextFile(dir.path() / "vork.ini", "[DSGRABBER]\nDevicePath=\xE8\xB7\xAF\xE5\xBE\x84\n");
    r = Run({"list", "--ini", "vork.ini"});
    EXPECT_NE(r.out.find("*  0  Kamera"), std::string::npos) << "UTF-8 without its mark is not that path: " << r.out;
    WriteTextFile(dir.path() / "vork.ini", "[DSGRABBER]\nDevicePath=p\xE4th\nFriendlyNamePart=Kamera\n");
    Describe("[b]\nFriendlyName=Kamera\nDevicePath=other\n[a]\nFriendlyName=Kamera\nDevicePath=p\xC3\xA4th\n");
    r = Run({"list", "--ini", "vork.ini"});
    EXPECT_NE(r.out.find("*  1  Kamera_1"), std::string::npos) << "a Latin-1 path in a file without a mark: " << r.out;
}

TEST_P(CameraPlatforms, ListShowsAtMostTwentyCameras) {
    std::string cameras;
    for (int i = 0; i < 22; ++i)
        cameras += "[c" + std::to_string(i) + "]\nFriendlyName=Cam " + std::to_string(i) + "\nDevicePath=p" +
                   std::to_string(i) + "\n";
    Describe(cameras);
    ToolResult r = Run({"list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> shown;
    for (std::string line; std::getline(lines, line);) shown.push_back(line);
    ASSERT_EQ(shown.size(), 20u) << r.out;
    EXPECT_NE(shown.front().find("Cam 0 "), std::string::npos);
    EXPECT_NE(shown.back().find("Cam 19 "), std::string::npos);
}

TEST_P(CameraPlatforms, TheDevicePathChoosesBetweenTwins) {
    Describe(kTwins);
    WriteTextFile(dir.path() / "vork.ini", "[DSGRABBER]\nFriendlyNamePart=USB Camera\nDevicePath=path-3\n");
    ToolResult r = Run({"list", "--ini", "vork.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("*  2  USB Camera_2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   0  USB Camera "), std::string::npos) << r.out;
    // The file is the user's: a relative --ini is this folder's, on every platform.
    EXPECT_EQ(Ini(), "[DSGRABBER]\nFriendlyNamePart=USB Camera\nDevicePath=path-3\n");
}

TEST_P(CameraPlatforms, AnUnknownCameraFallsBackToTheFirstAndTheIniSaysSo) {
    Describe(kTwins);
    WriteTextFile(dir.path() / "vork.ini", "[DSGRABBER]\nFriendlyNamePart=Missing\nDevicePath=nowhere\n[Other]\nKeep=1\n");
    ToolResult r = Run({"list", "--ini", "vork.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("*  0  USB Camera "), std::string::npos) << r.out;
    const std::string ini = WithoutCarriageReturns(Ini());
    EXPECT_NE(ini.find("FriendlyNamePart=USB Camera\n"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("Missing"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[Other]\nKeep=1"), std::string::npos) << ini;
}

// Every colour mode, size and mirroring gives the scene as the camera shows it,
// in every lossless file kind: rows padded to 4 bytes, odd sizes, 5- and 6-bit
// channels (which lose their low bits), and RGB8 in grey. The odd sizes are
// the simulation's only.
TEST_P(CameraPlatforms, SnapsAreThePatternInEveryModeSizeAndMirroring) {
    const std::string odd = ", 641x481 RGB24 30, 641x481 RGB565 30, 643x5 RGB555 30, 641x3 RGB32 30, 1x1 RGB24 30, "
                            "3x3 RGB24 30, 16384x1 RGB24 30";
    Describe("[cam]\nFriendlyName=Cam\nDevicePath=p\nFrameRate=max\nFormats=640x480 RGB24 30, 320x240 RGB24 30, "
             "640x480 RGB32 30, 320x240 RGB32 30, 640x480 RGB565 30, 640x480 RGB555 30, 640x480 RGB8 30" +
             (OnWine() ? std::string() : odd) + "\n");
    struct Case {
        const char* mode;
        const char* size;
        const char* mirror;  // vertical, horizontal
        const char* file;
        bool wine;
    } cases[] = {
        {"4", "640x480", "10", "a.png", true},     {"4", "320x240", "01", "b.bmp", true},
        {"4", "640x480", "11", "c.ppm", true},     {"4", "320x240", "00", "d.bmp", true},
        {"5", "640x480", "00", "e.png", true},     {"5", "320x240", "11", "f.bmp", true},
        {"5", "640x480", "10", "g.bmp", true},     {"3", "640x480", "11", "h.bmp", true},
        {"2", "640x480", "01", "i.png", true},     {"0", "640x480", "10", "j.bmp", true},
        {"4", "641x481", "10", "k.bmp", false},    {"4", "641x481", "01", "l.png", false},
        {"3", "641x481", "11", "m.ppm", false},    {"2", "643x5", "10", "n.bmp", false},
        {"5", "641x3", "00", "o.png", false},      {"4", "1x1", "11", "p.ppm", false},
        {"4", "3x3", "10", "q.bmp", false},        {"4", "16384x1", "11", "r.ppm", false},
    };
    for (const Case& c : cases) {
        if (OnWine() && !c.wine) continue;
        SCOPED_TRACE(std::string("mode ") + c.mode + " " + c.size + " mirror " + c.mirror + " " + c.file);
        WriteTextFile(dir.path() / "vork.ini", std::string("[DSGRABBER_Channel0]\nMirrorImgVerticalInPlace=") +
                                                   c.mirror[0] + "\nMirrorImgHorizontalInPlace=" + c.mirror[1] + "\n");
        const ToolResult r = Run({"snap", "--ini", "vork.ini", "--color-mode", c.mode, "--size", c.size, "--out", c.file});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Image image = Decode(dir.path() / c.file);
        EXPECT_EQ(std::to_string(image.width) + "x" + std::to_string(image.height), c.size);
        const PatternMatch m = MatchPattern(image, *c.mode == '0');
        EXPECT_LE(m.worst, *c.mode == '2' || *c.mode == '3' ? 8 : *c.mode == '0' ? 2 : 0) << m.where;
    }
}

TEST_P(CameraPlatforms, AHundredContinuousFramesNeverCountBackwards) {
    Describe("[cam]\nFriendlyName=Cam\nDevicePath=p\nFormats=320x240 RGB24 30\nFrameRate=max\n");
    ToolResult r = Run({"snap", "--continuous", "--count", "100", "--out", "f/%03d.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    long last = -1;
    int advances = 0;
    for (int i = 0; i < 100; ++i) {
        char name[16];
        std::snprintf(name, sizeof(name), "f/%03d.bmp", i);
        const PatternMatch m = Picture(name);
        EXPECT_EQ(m.worst, 0) << name << ": " << m.where;
        const long counter = m.counter;
        ASSERT_GE(counter, 0) << name;
        EXPECT_GE(counter, last) << name << " went backwards";
        if (counter > last) ++advances;
        last = counter;
    }
    EXPECT_GT(advances, 50) << "the counter hardly moved: " << last;
}

TEST_P(CameraPlatforms, ASetBrightnessIsReadBackFromTheCamera) {
    Describe("[cam]\nFriendlyName=Cam\nDevicePath=p\n");
    // Focus starts automatic: the mode changes with the value.
    ToolResult r = Run({"set", "brightness=60", "focus=40:manual"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "brightness    60% manual\nfocus         40% manual\n");
    r = Run({"props"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("brightness    50% manual\n"), std::string::npos) << "each run opens the camera afresh: " << r.out;
}

// Brightness moves the level by its share of the range (clipped at white); no
// contrast leaves one grey.
TEST_P(CameraPlatforms, SnapSetShowsInThePicture) {
    Describe("[cam]\nFriendlyName=Cam\nDevicePath=p\n");
    ToolResult r = Run({"snap", "--set", "brightness=85", "--out", "bright.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Run({"snap", "--set", "brightness=15", "--set", "contrast=0", "--out", "flat.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(Picture("bright.bmp").level, 1.4);
    EXPECT_LT(Picture("flat.bmp").level, 0.6);
    const Image flat = Decode(dir.path() / "flat.bmp");
    for (const auto& [x, y] : {std::pair{140, 2}, {20, 100}, {600, 400}}) EXPECT_NEAR(flat.At(x, y)[0], flat.At(20, 400)[2], 2);
    r = Run({"snap", "--set", "roll=5", "--out", "never.bmp"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir.path() / "never.bmp"));
}

TEST_P(CameraPlatforms, ACameraWithoutControlsSaysSo) {
    Describe("[cam]\nFriendlyName=Cam\nDevicePath=p\nProcAmp=0\nCameraControl=0\n");
    ToolResult r = Run({"props"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("brightness    not supported\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("zoom          not supported\n"), std::string::npos) << r.out;
}

TEST_P(CameraPlatforms, FormatChangesWhatTheCameraDelivers) {
    Describe("[cam]\nFriendlyName=Cam\nDevicePath=p\nFormats=640x480 RGB24 30, 320x240 RGB32 30/15\n");
    ToolResult r = Run({"format", "--ini", "vork.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("camera      640x480 RGB24 at 30.000 frames per second"), std::string::npos) << r.out;
    r = Run({"format", "--ini", "vork.ini", "--color-mode", "5", "--size", "320x240", "--fps", "15"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string changed = "color mode  5 (RGB32)\nsize        320x240\nframe rate  15.000\n"
                                "camera      320x240 RGB32 at 15.000 frames per second\n";
    EXPECT_EQ(r.out, changed);
    // Kept in the INI file: the next run starts with it, at its rate after its size.
    r = Run({"snap", "--ini", "vork.ini", "--out", "small.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Decode(dir.path() / "small.bmp").width, 320);
    EXPECT_EQ(Picture("small.bmp").worst, 0) << Picture("small.bmp").where;
    EXPECT_EQ(Run({"format", "--ini", "vork.ini"}).out, changed);
    // A rate the format cannot keep is refused, and the camera keeps its own.
    r = Run({"format", "--ini", "vork.ini", "--fps", "60"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
}

TEST_P(CameraPlatforms, ACameraThatCannotBeToldAFormatOpensQuietlyWithWhatItDelivers) {
    Describe("[cam]\nFriendlyName=Cam\nDevicePath=p\nFormats=320x240 RGB24 30\nStreamConfig=0\n");
    ToolResult r = Run({"snap", "--verbose", "--out", "quiet.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("event 14"), std::string::npos) << r.err;
    EXPECT_EQ(Decode(dir.path() / "quiet.bmp").width, 320);
    EXPECT_EQ(Picture("quiet.bmp").worst, 0) << Picture("quiet.bmp").where;
    // A size it was told and cannot take is reported, not passed over.
    WriteTextFile(dir.path() / "vork.ini", "[DSGRABBER_Channel0]\nGrabWidth=640\nGrabHeight=480\n");
    r = Run({"snap", "--ini", "vork.ini", "--out", "told.bmp"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("GrabWidth and GrabHeight 640x480 was not applied"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.path() / "told.bmp"));
}

TEST_P(CameraPlatforms, ABadDescriptionIsRefusedNamingTheKey) {
    // The simulation reads the file when the program starts; Wine's cameras are
    // registered from it. Either way the key and value are named, and nothing runs.
    Describe(kTwins);
    std::string why;
    std::string message;
    if (platform_->Describe(dir.path(), "[cam]\nFormats=640x480 RGB24 fast\n", why)) {
        ToolResult r = Run({"list"});
        EXPECT_NE(r.exitCode, 0);
        message = r.err;
    } else {
        message = why;
        // The cameras registered before stay as they were.
        EXPECT_NE(Run({"list"}).out.find("USB Camera_2"), std::string::npos);
    }
    EXPECT_NE(message.find("[cam] Formats: bad value \"640x480 RGB24 fast\""), std::string::npos) << message;
}

// Cameras as Windows presents them, one behaviour a row. Wine's sample grabber
// takes the VIDEOINFOHEADER2 twin offered first, where Windows' and the
// simulation's refuse it and take the VIDEOINFOHEADER one; the plug-in cannot
// set a size on a VIDEOINFOHEADER2 connection.
TEST_P(CameraPlatforms, CamerasAsWindowsPresentsThemAnswerAsTheyDoThere) {
    const std::string rates = "[cam]\nFriendlyName=Rates\nDevicePath=p\nFormats=640x480 RGB24 30/15/5, 320x240 RGB24 0\n";
    const std::string busy = "[cam]\nFriendlyName=Held\nDevicePath=p\nBusy=1\n";
    const std::string twins = "[cam]\nFriendlyName=Twins\nDevicePath=p\nFormats=640x480 RGB24 30, 320x240 RGB24 30\nVideoInfo2=1\n";
    const bool wine = GetParam() == "Wine";
    struct Row {
        std::string camera;
        std::vector<std::string> args;
        int exitCode;
        std::string says;
    } rows[] = {
        {rates, {"format", "--fps", "15"}, 0, "camera      640x480 RGB24 at 15.000 frames per second"},
        {rates, {"format", "--fps", "20"}, 1, "--fps 20 was not applied"},  // between two of its rates
        {rates, {"format", "--size", "320x240"}, 0, "camera      320x240 RGB24 at 30.000"},  // caps say rate 0
        {busy, {"list"}, 0, "*  0  Held "},
        {busy, {"props"}, 0, "brightness    50% manual"},
        {busy, {"snap", "--timeout", "500", "--out", "busy.bmp"}, 1, ""},
        {twins, {"format", "--size", "320x240"}, wine ? 1 : 0, wine ? "--size 320x240 was not applied" : "camera      320x240"},
    };
    for (const Row& row : rows) {
        Describe(row.camera);
        const ToolResult r = Run(row.args);
        const std::string what = row.camera + row.args[0] + " " + row.args.back();
        EXPECT_EQ(r.exitCode, row.exitCode) << what << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(row.says), std::string::npos) << what << r.out << r.err;
    }
    EXPECT_FALSE(fs::exists(dir.path() / "busy.bmp"));
}

// A camera that starts late and dark (frame i of 20 at (i+1)/21 of the scene)
// gives its settled picture; told to, a snap drops exactly N frames, or none
// and keeps the first. Twins in VIDEOINFOHEADER2 give their picture too.
TEST_P(CameraPlatforms, SnapsWaitForALateDarkCameraToSettle) {
    Describe("[cam]\nFriendlyName=Late\nDevicePath=p\nFormats=320x240 RGB24 30\nStartDelay=300\nDarkFrames=20\n");
    struct Case {
        const char* skip;  // "" for the default
        double low, high;  // the picture's level as a share of the scene's
    } cases[] = {{"", 1.0, 1.0}, {"0", 0.0, 0.1}, {"5", 0.2, 0.4}};
    ToolResult r;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("--skip ") + c.skip);
        std::vector<std::string> args{"snap", "--out", "d.bmp", "--force"};
        if (*c.skip) args.insert(args.end(), {"--skip", c.skip});
        r = Run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const PatternMatch m = Picture("d.bmp");
        EXPECT_GE(m.level, c.low);
        EXPECT_LE(m.level, c.high);
        EXPECT_TRUE(*c.skip || m.worst == 0) << m.where;
        EXPECT_EQ(r.err.find("dropped") != std::string::npos, std::string(c.skip) != "0") << r.err;
    }
    Describe("[cam]\nFriendlyName=Twins\nDevicePath=p\nFormats=640x480 RGB24 30, 320x240 RGB24 30\nVideoInfo2=1\n");
    r = Run({"snap", "--out", "twin.bmp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Picture("twin.bmp").worst, 0) << Picture("twin.bmp").where;
}

// Pulled out 500 ms after its first run and back 500 ms later: continuous
// acquisition waits for it and goes on at the size in force, and leaves the
// user's INI file as it was; told not to wait, it ends with 3.
TEST_P(CameraPlatforms, APulledCameraIsWaitedForUnderItsDevicePath) {
    Describe("[cam]\nFriendlyName=Pulled\nDevicePath=p\nFormats=640x480 RGB24 30, 320x240 RGB24 30\nUnplug=500/500\n");
    const std::string ini = "[DSGRABBER]\r\nFriendlyNamePart=Pulled\r\nDevicePath=p\r\n";
    WriteTextFile(dir.path() / "vork.ini", ini);
    ToolResult r = Run({"snap", "--continuous", "--seconds", "2", "--ini", "vork.ini", "--size", "320x240", "--out", "a/%03d.bmp"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("the camera was lost; waiting for it to come back"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the camera is back"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the first frame came"), std::string::npos) << "no frame after the return: " << r.err;
    for (const auto& file : fs::directory_iterator(dir.path() / "a")) EXPECT_EQ(Decode(file.path()).width, 320) << file;
    EXPECT_EQ(Ini(), ini);
    r = Run({"list"});
    EXPECT_EQ(r.out, "*  0  Pulled                            p\n");
    r = Run({"snap", "--continuous", "--seconds", "2", "--no-reconnect", "--out", "b/%03d.bmp"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
}

// The filter's own contract with Wine's graph, below what vorkgrab shows; the
// program says which check failed.
TEST(VcamUnderWine, KeepsItsContractWithTheGraph) {
    if (WineBin().empty()) GTEST_SKIP() << "VORK_WINE_BIN is not set (scripts/wine-test.sh sets it)";
    ASSERT_TRUE(WinePrefix::Ready());
    TempDir dir;
    WriteTextFile(dir.path() / "contract.ini", ReadTextFile(VORK_WINE_TESTS_DIR "/contract.ini"));
    ToolRun reg;
    reg.launcher = {kWineLoader, "regsvr32", "/s", "/n", "/i:contract.ini", WineBin() + "/vorkvcam.dll"};
    ASSERT_EQ(vorktest::RunTool(dir.path(), reg).exitCode, 0);
    std::string dll = "Z:" + WineBin() + "/vorkvcam.dll";
    std::replace(dll.begin(), dll.end(), '/', '\\');
    ToolRun contract;
    contract.launcher = {kWineLoader, WineBin() + "/vcam_contract.exe", dll};
    contract.limitSeconds = 60;
    const ToolResult r = vorktest::RunTool(dir.path(), contract);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("vcam contract: passed"), std::string::npos) << r.out;
}

// What the filter cannot be is refused at registration, naming the key, and the
// cameras registered before stay.
TEST(VcamUnderWine, RefusesWhatItCannotMakeAndKeepsTheCamerasItHad) {
    if (WineBin().empty()) GTEST_SKIP() << "VORK_WINE_BIN is not set (scripts/wine-test.sh sets it)";
    ASSERT_TRUE(WinePrefix::Ready());
    TempDir dir;
    Wine wine;
    std::string why;
    ASSERT_TRUE(wine.Describe(dir.path(), kTwins, why)) << why;
    struct Case {
        const char* file;
        const char* message;
    } cases[] = {
        {"[cam]\nFormats=640x480 RGB24 30, 640x480 YUY2 30\n", "[cam] Formats: this camera makes RGB frames only, not YUY2"},
        {"[cam]\nFormats=1280x720 MJPG 30\n", "[cam] Formats: this camera makes RGB frames only, not MJPG"},
        {"[cam]\nFormats=640x480 NV12 30\n", "[cam] Formats: this camera makes RGB frames only, not NV12"},
        {"[cam]\nFormats=1920x1080 H264 30\n", "[cam] Formats: this camera makes RGB frames only, not H264"},
        {"[cam]\nBind=0\n", "[cam] Bind: only the simulated platform can fail a moniker"},
        {"[cam]\nFrameRate=fast\n", "[cam] FrameRate: bad value \"fast\""},
        {"[cam\n", "line 1: bad section header \"[cam\""},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(wine.Describe(dir.path(), c.file, why)) << c.file;
        EXPECT_NE(why.find(c.message), std::string::npos) << why;
    }
    ToolRun missing;
    missing.launcher = {kWineLoader, "regsvr32", "/s", "/n", "/i:nowhere.ini", WineBin() + "/vorkvcam.dll"};
    ToolResult r = vorktest::RunTool(dir.path(), missing);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("nowhere.ini: cannot be read"), std::string::npos) << r.err;
    r = wine.Run(dir.path(), {"list"});
    EXPECT_NE(r.out.find("USB Camera_2"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(, CameraPlatforms, ::testing::Values("Simulation", "Wine"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
