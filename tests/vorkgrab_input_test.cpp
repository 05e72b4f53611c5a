// The host program under careless and hostile input: odd picture sizes, settings
// the camera does not take, bad files and values, links and folders where files
// should be, and interrupts. Every case runs the program as a process.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "TestSupport.h"
#include "ToolRunner.h"
#include "vorksim/cameras.h"

namespace {

namespace fs = std::filesystem;
using vorktest::Decode;
using vorktest::Image;
using vorktest::ReadTextFile;
using vorktest::RunTool;
using vorktest::TempDir;
using vorktest::ToolResult;
using vorktest::ToolRun;
using vorktest::WriteTextFile;

// The one line that says what went wrong; event reports may come before it.
bool SaysLine(const ToolResult& r, const std::string& start) {
    const size_t at = r.err.find("vorkgrab: " + start);
    return at == 0 || (at != std::string::npos && r.err[at - 1] == '\n');
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) files.push_back(entry.path().lexically_relative(dir));
    std::sort(files.begin(), files.end());
    return files;
}

class VorkgrabInputTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path Path(const std::string& name) const { return dir.path() / name; }
    void Write(const std::string& name, const std::string& text) const { WriteTextFile(Path(name), text); }
    ToolResult Run(const std::vector<std::string>& args) const { return RunTool(dir.path(), args); }
    // A camera of one format, and a channel section with the given mirroring.
    void Camera(const std::string& formats) const {
        Write("cam.ini", "[cam]\nFriendlyName=Cam\nDevicePath=p\nFrameRate=max\nFormats=" + formats + "\n");
    }
};

// ---- Pictures of every size come out as the scene is ----------------------------

TEST_F(VorkgrabInputTest, PicturesOfSizesWithPaddedRowsMatchThePattern) {
    struct Case {
        const char* format;
        const char* mode;
        const char* size;
        const char* mirrorV;
        const char* mirrorH;
        const char* file;
        int tolerance;  // 5- and 6-bit channels lose the low bits
    } cases[] = {
        {"641x481 RGB24 30", "4", "641x481", "1", "0", "odd.bmp", 0},
        {"641x481 RGB24 30", "4", "641x481", "0", "1", "oddh.png", 0},
        {"641x481 RGB565 30", "3", "641x481", "1", "1", "odd565.ppm", 8},
        {"643x5 RGB555 30", "2", "643x5", "1", "0", "odd555.bmp", 8},
        {"641x3 RGB32 30", "5", "641x3", "0", "0", "odd32.png", 0},
        {"1x1 RGB24 30", "4", "1x1", "1", "1", "one.ppm", 0},
        {"3x3 RGB24 30", "4", "3x3", "1", "0", "three.bmp", 0},
        {"16384x1 RGB24 30", "4", "16384x1", "1", "1", "wide.ppm", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Camera(c.format);
        Write("vork.ini", std::string("[DSGRABBER_Channel0]\nMirrorImgVerticalInPlace=") + c.mirrorV +
                              "\nMirrorImgHorizontalInPlace=" + c.mirrorH + "\n");
        ToolResult r = Run({"snap", "--cameras", "cam.ini", "--ini", "vork.ini", "--color-mode", c.mode, "--size",
                            c.size, "--out", c.file});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Image image = Decode(Path(c.file));
        const int width = std::atoi(c.size);
        const int height = std::atoi(std::strchr(c.size, 'x') + 1);
        ASSERT_EQ(image.width, width);
        ASSERT_EQ(image.height, height);
        // Every pixel away from the frame counter's row of blocks is the pattern's.
        const int block = std::min(width / 40, height / 40);
        int wrong = 0;
        for (int y = 0; y < height; ++y) {
            if (block >= 1 && y >= height / 2 - block && y <= height / 2 + block) continue;
            for (int x = 0; x < width; ++x) {
                BYTE rgb[3];
                vorksim::PatternColor(x, y, width, height, rgb[0], rgb[1], rgb[2]);
                for (int k = 0; k < 3; ++k)
                    if (std::abs(image.At(x, y)[k] - rgb[k]) > c.tolerance && wrong++ < 3)
                        ADD_FAILURE() << "pixel " << x << "," << y << " channel " << k << ": "
                                      << int(image.At(x, y)[k]) << " instead of " << int(rgb[k]);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

// ---- Settings the camera does not take -------------------------------------------

TEST_F(VorkgrabInputTest, SettingsTheCameraDoesNotTakeNameTheSettingAndFail) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"snap", "--size", "641x481", "--out", "a.png"}, "--size 641x481 was not applied: the camera delivers 640x480"},
        {{"snap", "--size", "16384x16384", "--out", "a.png"}, "--size 16384x16384 was not applied"},
        {{"format", "--size", "1x1"}, "--size 1x1 was not applied: the camera delivers 640x480"},
        {{"format", "--fps", "1000"}, "--fps 1000 was not applied: the camera runs at 30.000 frames per second"},
        {{"format", "--fps", "0.001"}, "--fps 0.001 was not applied: the camera runs at 30.000"},
        {{"format", "--color-mode", "0"}, "the camera gives no picture in colour mode 0 (RGB8); it offers 640x480 RGB24 30"},
        {{"format", "--fps", "20", "--cameras", "rates.ini"}, "--fps 20 was not applied: the camera runs at 30.000"},
        {{"snap", "--cameras", "busy.ini", "--out", "a.png"}, "the camera is busy: another program may be using it"},
    };
    Write("rates.ini", "[cam]\nFormats=640x480 RGB24 30/15\n");
    Write("busy.ini", "[cam]\nBusy=1\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args[2]);
        Write("vork.ini", "[DSGRABBER_Channel0]\nGrabWidth=640\n");
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--ini", "vork.ini"});
        ToolResult r = Run(args);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(SaysLine(r, c.message)) << r.err;
        EXPECT_FALSE(fs::exists(Path("a.png")));
        // The run's settings never reach the file.
        const std::string ini = ReadTextFile(Path("vork.ini"));
        EXPECT_EQ(ini.rfind("[DSGRABBER_Channel0]\nGrabWidth=640\n", 0), 0u) << ini;
        EXPECT_EQ(ini.find("GrabHeight"), std::string::npos) << ini;
        EXPECT_EQ(ini.find("ColorMode"), std::string::npos) << ini;
    }
}

TEST_F(VorkgrabInputTest, AFormatThatWasAppliedIsReadBackAndKept) {
    Write("vork.ini", "");
    ToolResult r = Run({"format", "--size", "320x240", "--color-mode", "5", "--fps", "15", "--ini", "vork.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "color mode  5 (RGB32)\nsize        320x240\nframe rate  15.000\n"
                     "camera      320x240 RGB32 at 15.000 frames per second\n");
    // The next run opens the camera with them, at their rate after the size.
    r = Run({"format", "--ini", "vork.ini"});
    EXPECT_NE(r.out.find("size        320x240\nframe rate  15.000"), std::string::npos) << r.out;
    EXPECT_NE(ReadTextFile(Path("vork.ini")).find("DefFramerate=15"), std::string::npos);
}

TEST_F(VorkgrabInputTest, ACameraWithoutTheColourModeIsRefusedAtOnceWithWhatItOffers) {
    // No filter makes palette frames from RGB32.
    Camera("640x480 RGB32 30, 320x240 RGB32 15");
    ToolResult r = Run({"snap", "--cameras", "cam.ini", "--color-mode", "0", "--out", "x.png"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(SaysLine(r, "the camera gives no picture in colour mode 0 (RGB8); it offers 640x480 RGB32 30, "
                            "320x240 RGB32 15"))
        << r.err;
    EXPECT_EQ(r.err.find("no picture could be taken"), std::string::npos) << r.err;
}

TEST_F(VorkgrabInputTest, SetChecksEveryAssignmentBeforeApplyingAny) {
    Write("nocontrols.ini", "[cam]\nFriendlyName=Bare\nDevicePath=b\nCameraControl=0\n");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    } cases[] = {
        {{"set", "brightness=60", "bogus=5"}, 2, "set: unknown property 'bogus'"},
        {{"set", "brightness=60", "contrast=101"}, 2, "set: 'contrast=101': the percentage must be a whole number from 0 to 100"},
        {{"set", "brightness=60", "contrast=-1"}, 2, "set: 'contrast=-1': the percentage"},
        {{"set", "brightness=60", "gain=5:auto"}, 2, "set: 'gain=5:auto': gain has no auto mode"},
        {{"set", "brightness=60", "roll=5"}, 1, "the camera has no roll control; nothing was set"},
        {{"set", "brightness=60", "focus=5", "--cameras", "nocontrols.ini"}, 1, "the camera has no focus control"},
    };
    for (const Case& c : cases) {
        ToolResult r = Run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_TRUE(SaysLine(r, c.message)) << r.err;
        EXPECT_EQ(r.out, "") << "brightness was applied before the bad assignment was seen";
    }
}

TEST_F(VorkgrabInputTest, ARefusedSettingSaysWhatTheControlHoldsNow) {
    // Brightness of the built-in camera has no auto mode.
    ToolResult r = Run({"set", "contrast=30", "brightness=60:auto"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("brightness=60:auto was not set: the camera refused it (it may have no auto mode)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("brightness is 50% manual"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "contrast      30% manual\n");
    // Exposure has ten steps: 30% is taken as the nearest of them.
    r = Run({"set", "brightness=60", "exposure=30:manual", "backlight=off"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "brightness    60% manual\nexposure      30% \u2192 33% manual, the camera's nearest step\n"
                     "backlight     off\n");
}

// ---- Values from the INI file --------------------------------------------------------

TEST_F(VorkgrabInputTest, GarbageChannelValuesAreRefusedNamingTheKey) {
    struct Case {
        const char* line;
        const char* key;
    } cases[] = {
        {"GrabWidth=2147483648", "GrabWidth"}, {"GrabWidth=abc", "GrabWidth"},  {"GrabHeight=nan", "GrabHeight"},
        {"GrabHeight=0", "GrabHeight"},        {"GrabWidth=-1", "GrabWidth"},   {"GrabWidth=", "GrabWidth"},
        {"GrabHeight=16385", "GrabHeight"},    {"ColorMode=-1", "ColorMode"},   {"ColorMode=4294967295", "ColorMode"},
        {"ColorMode=1", "ColorMode"},          {"ColorMode=", "ColorMode"},     {"DefHue=1e10", "DefHue"},
        {"DefSaturation=nan", "DefSaturation"}, {"DefFramerate=inf", "DefFramerate"},
        {"MirrorImgVerticalInPlace=yes", "MirrorImgVerticalInPlace"},
        {"WaitForCamStart=99999999999999999999", "WaitForCamStart"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Write("vork.ini", std::string("[DSGRABBER_Channel0]\n") + c.line + "\n");
        for (const char* command : {"snap", "format"}) {
            ToolResult r = Run({command, "--ini", "vork.ini", "--out", "x.png"});
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_NE(r.err.find("[DSGRABBER_Channel0] " + std::string(c.key) + "="), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        }
        EXPECT_FALSE(fs::exists(Path("x.png")));
    }
}

TEST_F(VorkgrabInputTest, APauseAfterTheStartLongerThanTheTimeoutIsRefusedBeforeWaiting) {
    struct Case {
        std::string ini;
        std::vector<std::string> args;
    } cases[] = {
        {"UseSingleSnap=0\nWaitForCamStart=100000\n", {"snap", "--out", "x.png"}},
        {"WaitForCamStart=2147483647\n", {"snap", "--continuous", "--out", "x.png"}},
        {"WaitForCamStart=3000\n", {"snap", "--continuous", "--timeout", "1000", "--out", "x.png"}},
    };
    for (const Case& c : cases) {
        Write("vork.ini", "[DSGRABBER_Channel0]\n" + c.ini);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--ini", "vork.ini"});
        ToolRun run;
        run.args = args;
        run.limitSeconds = 30;
        ToolResult r = RunTool(dir.path(), run);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("WaitForCamStart="), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("longer than --timeout"), std::string::npos) << r.err;
    }
}

TEST_F(VorkgrabInputTest, ACameraThatDeliversNothingEndsAContinuousRunAtTheTimeout) {
    Write("slow.ini", "[cam]\nFriendlyName=Slow\nDevicePath=s\nFormats=640x480 RGB24 0.0001\n");
    ToolRun run;
    run.args = {"snap", "--continuous", "--count", "3", "--cameras", "slow.ini", "--timeout", "1000", "--out", "x%d.png"};
    run.limitSeconds = 40;
    ToolResult r = RunTool(dir.path(), run);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("no frame within --timeout 1000 ms"), std::string::npos) << r.err;
}

// ---- Files of the user's ------------------------------------------------------------------

TEST_F(VorkgrabInputTest, TemporaryFilesNeverTouchTheUsersFilesOrFollowLinks) {
    Write("f_0.bmp.part", "mine");
    Write("secret", "do not overwrite");
    fs::create_symlink("secret", Path("g_0.bmp.part"));
    fs::create_symlink("secret", Path("h_0.bmp"));
    for (const char* out : {"f_%d.bmp", "g_%d.bmp"}) {
        ToolResult r = Run({"snap", "--out", out});
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    // A link in the way of a picture is replaced with --force, its target untouched.
    ToolResult r = Run({"snap", "--out", "h_%d.bmp"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(SaysLine(r, "h_0.bmp exists (--force replaces it)")) << r.err;
    r = Run({"snap", "--out", "h_%d.bmp", "--force"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::is_symlink(Path("h_0.bmp")));
    EXPECT_EQ(Decode(Path("h_0.bmp")).width, 640);
    EXPECT_EQ(ReadTextFile(Path("f_0.bmp.part")), "mine");
    EXPECT_EQ(ReadTextFile(Path("secret")), "do not overwrite");
    EXPECT_TRUE(fs::is_symlink(Path("g_0.bmp.part")));
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<fs::path>{"f_0.bmp", "f_0.bmp.part", "g_0.bmp", "g_0.bmp.part",
                                                         "h_0.bmp", "secret"}));
}

TEST_F(VorkgrabInputTest, PathsOfTheWrongKindAreNamed) {
    fs::create_directory(Path("dir.bmp"));
    fs::create_directory(Path("inidir"));
    fs::create_directory(Path("camdir"));
    fs::create_directory_symlink("inidir", Path("dirlink.ini"));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"list", "--ini", "inidir"}, "--ini: "},
        {{"list", "--cameras", "camdir"}, "--cameras: camdir is a folder, not a camera description"},
        {{"snap", "--out", "dir.bmp"}, "dir.bmp is a folder"},
        {{"snap", "--out", "dir.bmp", "--force"}, "dir.bmp is a folder"},
        {{"list", "--ini", std::string(300, 'i') + ".ini"}, "--ini: "},
        {{"list", "--ini", "dirlink.ini"}, "--ini: " + (fs::canonical(dir.path()) / "dirlink.ini").string() + " cannot be read"},
    };
    for (const Case& c : cases) {
        ToolResult r = Run(c.args);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(SaysLine(r, c.message)) << r.err;
    }
    EXPECT_TRUE(fs::is_directory(Path("dir.bmp")));
    EXPECT_TRUE(fs::is_empty(Path("dir.bmp")));
}

TEST_F(VorkgrabInputTest, OutputPatternsAreCheckedBeforeTheCameraOpens) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"snap", "--out", "x_%4294967296d.bmp"}, "--out: 'x_%4294967296d.bmp' asks for more than 9 digits"},
        {{"snap", "--out", "%4000d.bmp"}, "--out: '%4000d.bmp' asks for more than 9 digits"},
        {{"snap", "--out", "x_%s.bmp"}, "--out: 'x_%s.bmp' may hold only %d"},
        {{"snap", "--out", "x_%d_%d.bmp"}, "--out: 'x_%d_%d.bmp' holds more than one %d"},
        {{"snap", "--out", "x_%d"}, "--out: 'x_%d' must end in .png, .jpg, .bmp or .ppm"},
        {{"snap", "--out", "x.bmp", "--count", "3"}, "--out: 'x.bmp' has no %d"},
        {{"snap", "--out", "x\x1b[2J.bmp"}, "--out: 'x\\x1B[2J.bmp' holds a control character"},
        {{"snap", "--out", std::string(2000, 'a') + ".bmp"}, "--out: '"},
        {{"snap", "--out", "x\xff.bmp"}, "--out: 'x\xEF\xBF\xBD.bmp' is not valid UTF-8"},
        {{"list", "--ini", "\xc0\xae.ini"}, "--ini: "},
        {{"list", "--cameras", "\xed\xa0\x80"}, "--cameras: "},
    };
    for (const Case& c : cases) {
        ToolResult r = Run(c.args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_TRUE(SaysLine(r, c.message)) << r.err;
        EXPECT_LT(r.err.size(), 300u) << "the message echoes too much";
    }
    EXPECT_EQ(FilesIn(dir.path()), std::vector<fs::path>{});
}

TEST_F(VorkgrabInputTest, EveryPictureGetsItsOwnFolderAsTheFirstDoes) {
    ToolResult r = Run({"snap", "--out", "d%d/x.bmp", "--count", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* f : {"d0/x.bmp", "d1/x.bmp", "d2/x.bmp"}) EXPECT_EQ(Decode(Path(f)).width, 640) << f;
    r = Run({"snap", "--out", "w_%5d.ppm", "--count", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(Path("w_    1.ppm")));
}

TEST_F(VorkgrabInputTest, ANonAsciiOutputNameIsSavedUnderAnyLocale) {
    for (const char* locale : {"C", "C.UTF-8"}) {
        ToolRun run;
        run.args = {"snap", "--out", "\xc3\xbc_%d.png", "--force"};
        run.env = {{"LC_ALL", locale}};
        ToolResult r = RunTool(dir.path(), run);
        EXPECT_EQ(r.exitCode, 0) << locale << ": " << r.err;
        EXPECT_EQ(Decode(Path("\xc3\xbc_0.png")).width, 640) << locale;
    }
}

TEST_F(VorkgrabInputTest, AMissingIniFileIsCreatedByTheFirstWrite) {
    ToolResult r = Run({"format", "--size", "320x240", "--ini", "my.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string ini = ReadTextFile(Path("my.ini"));
    EXPECT_NE(ini.find("GrabWidth=320"), std::string::npos) << ini;
    EXPECT_NE(ini.find("GrabHeight=240"), std::string::npos) << ini;
}

TEST_F(VorkgrabInputTest, AnInterruptedRunRemovesItsTemporaryIniFile) {
    fs::create_directory(Path("tmp"));
    // A closed terminal, and a reader gone away (the run ends later), as Ctrl+C.
    const std::vector<int> cases[] = {{SIGTERM}, {SIGHUP}, {SIGPIPE, SIGTERM}};
    for (const std::vector<int>& signals : cases) {
        SCOPED_TRACE(signals.front());
        ToolRun run;
        run.args = {"snap", "--continuous", "--seconds", "600", "--every", "1000000", "--out", "run_%d.ppm", "--force"};
        run.env = {{"TMPDIR", Path("tmp").string()}};
        const pid_t pid = vorktest::StartTool(dir.path(), run);
        // The temporary INI file exists from the start of the run to its end (the
        // profile functions' own new files come and go beside it).
        auto temporaryIni = [&] {
            for (const auto& entry : fs::directory_iterator(Path("tmp")))
                if (entry.path().filename().string().rfind("vorkgrab-", 0) == 0) return entry.path().filename().string();
            return std::string();
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (temporaryIni().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        const std::string name = temporaryIni();
        ASSERT_FALSE(name.empty());
        for (int signal : signals) kill(pid, signal);
        EXPECT_EQ(vorktest::WaitForTool(pid), 130);
        EXPECT_TRUE(fs::is_empty(Path("tmp"))) << "left behind: " << name;
        EXPECT_NE(ReadTextFile(Path("err.txt")).find("vorkgrab: interrupted"), std::string::npos);
    }
}

TEST_F(VorkgrabInputTest, TheRunsOwnSettingsNeverReachTheUsersIniFile) {
    Write("vork.ini", "[DSGRABBER_Channel0]\nMirrorImgVerticalInPlace=1\n");
    ToolRun run;
    run.args = {"snap", "--continuous", "--seconds", "600", "--size", "320x240", "--color-mode", "5", "--ini",
                "vork.ini", "--out", "run_%d.ppm"};
    const pid_t pid = vorktest::StartTool(dir.path(), run);
    // The grabber names the camera it fell back to once the board is open.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadTextFile(Path("vork.ini")).find("FriendlyNamePart") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    kill(pid, SIGKILL);
    vorktest::WaitForTool(pid);
    const std::string ini = ReadTextFile(Path("vork.ini"));
    EXPECT_NE(ini.find("FriendlyNamePart"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("ColorMode"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("Grab"), std::string::npos) << ini;
}

// ---- Camera description files ----------------------------------------------------------------

TEST_F(VorkgrabInputTest, CameraDescriptionsAreReadStrictlyAndEchoedSafely) {
    struct Case {
        std::string file;
        int exitCode;
        std::string message;  // empty: the listing is checked instead
    } cases[] = {
        {"\xEF\xBB\xBF[cam]\nFriendlyName=Bom\nDevicePath=b\n", 0, ""},
        {"[cam]\nFormats=640x480 RGB24 inf\n", 1, "cams.ini: [cam] Formats: bad value \"640x480 RGB24 inf\""},
        {"[cam]\nFormats=640x480 RGB24 1e308\n", 1, "cams.ini: [cam] Formats: bad value"},
        {"[cam]\nFormats=640x480 RGB24 0x1E\n", 1, "cams.ini: [cam] Formats: bad value"},
        {"[cam]\nFormats=640x480 RGB24 1001\n", 1, "cams.ini: [cam] Formats: bad value"},
        {"[cam]\nFormats=+640x480 RGB24 30\n", 1, "cams.ini: [cam] Formats: bad value"},
        {std::string("[cam]\nFrameRate=ma\0x\n", 21), 1, "cams.ini: [cam] FrameRate: bad value \"ma\\x00x\""},
        {"[cam]\nFrameRate=" + std::string(3000, 'z') + "\n", 1, "cams.ini: [cam] FrameRate: bad value \"zzz"},
    };
    for (const Case& c : cases) {
        Write("cams.ini", c.file);
        ToolResult r = Run({"list", "--cameras", "cams.ini"});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.message.empty()) EXPECT_EQ(r.out.substr(0, 7), "*  0  B") << r.out;
        else EXPECT_TRUE(SaysLine(r, c.message)) << r.err;
        EXPECT_LT(r.err.size(), 300u) << r.err;
    }
}

TEST_F(VorkgrabInputTest, ListShowsControlCharactersInNamesEscaped) {
    Write("cams.ini", "[a]\nFriendlyName=Evil\x1b[2JCam\x07\nDevicePath=p\x1b]0;x\n[b]\nDevicePath=q\n");
    ToolResult r = Run({"list", "--cameras", "cams.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Evil\\x1B[2JCam\\x07"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("p\\x1B]0;x"), std::string::npos) << r.out;
}

TEST_F(VorkgrabInputTest, AnEmptyCameraFileMeansNoCameraAttached) {
    Write("none.ini", "; nothing attached\n");
    ToolResult r = Run({"snap", "--cameras", "none.ini", "--out", "x.png"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("event 9"), std::string::npos) << r.err;
    EXPECT_TRUE(SaysLine(r, "no camera could be opened")) << r.err;
}

}  // namespace
