// The host program under careless and hostile input: settings the camera does
// not take, bad files and values, links and folders where files should be, and
// interrupts. Every case runs the program as a process.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "ToolRunner.h"

namespace {

namespace fs = std::filesystem;
using vorktest::Decode;
using vorktest::FilesIn;
using vorktest::ReadTextFile;
using vorktest::RunTool;
using vorktest::SaysLine;
using vorktest::TempDir;
using vorktest::ToolResult;
using vorktest::ToolRun;
using vorktest::WriteTextFile;

class VorkgrabInputTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path Path(const std::string& name) const { return dir.path() / name; }
    void Write(const std::string& name, const std::string& text) const { WriteTextFile(Path(name), text); }
    ToolResult Run(const std::vector<std::string>& args) const { return RunTool(dir.path(), args); }
};

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
        {{"snap", "--cameras", "rgb32.ini", "--color-mode", "0", "--out", "a.png"},
         "the camera gives no picture in colour mode 0 (RGB8); it offers 640x480 RGB32 30, 320x240 RGB32 15"},
        {{"snap", "--cameras", "busy.ini", "--out", "a.png"}, "the camera is busy: another program may be using it"},
    };
    // No filter makes palette frames from RGB32.
    Write("rgb32.ini", "[cam]\nFormats=640x480 RGB32 30, 320x240 RGB32 15\n");
    Write("busy.ini", "[cam]\nBusy=1\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args[2]);
        Write("vork.ini", "[DSGRABBER_Channel0]\nGrabWidth=640\n");
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--ini", "vork.ini"});
        ToolResult r = Run(args);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(SaysLine(r, c.message)) << r.err;
        EXPECT_EQ(r.err.find("no picture could be taken"), std::string::npos) << "said twice: " << r.err;
        EXPECT_FALSE(fs::exists(Path("a.png")));
        // The run's settings never reach the file.
        const std::string ini = ReadTextFile(Path("vork.ini"));
        EXPECT_EQ(ini.rfind("[DSGRABBER_Channel0]\nGrabWidth=640\n", 0), 0u) << ini;
        EXPECT_EQ(ini.find("GrabHeight"), std::string::npos) << ini;
        EXPECT_EQ(ini.find("ColorMode"), std::string::npos) << ini;
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

// Every bad argument, file and path: one line naming it (event reports may come
// before it), the right exit code, nothing on stdout, no escape sequence echoed,
// and no file or folder made.
TEST_F(VorkgrabInputTest, BadInputGetsOneLineAndTheRightExitCode) {
    fs::create_directory(Path("dir.bmp"));
    fs::create_directory(Path("inidir"));
    fs::create_directory(Path("camdir"));
    fs::create_directory_symlink("inidir", Path("dirlink.ini"));
    Write("afile", "x");
    Write("nocam.ini", "[cam]\nFriendlyName=Broken\nBind=0\n");
    Write("nocontrols.ini", "[cam]\nFriendlyName=Bare\nDevicePath=b\nCameraControl=0\n");
    const std::vector<fs::path> before = FilesIn(dir.path());
    const std::string cams = "cams.ini: [cam] ";
    struct Case {
        std::string cameras;  // written to cams.ini when not empty
        std::vector<std::string> args;
        int exitCode;
        std::string message;  // with exit code 0, what the listing shows
    } cases[] = {
        {"", {"dance"}, 2, "unknown command dance"},
        {"", {}, 2, "no command given"},
        {"", {"snap", "--frobnicate"}, 2, "unknown option --frobnicate"},
        {"", {"snap", "--count", "many"}, 2, "--count: 'many' is not a whole number"},
        {"", {"snap", "--size", "640by480"}, 2, "--size: '640by480' is not WIDTHxHEIGHT"},
        {"", {"snap", "--out", "x.jpg", "--quality", "0"}, 2, "--quality: '0' is not a whole number from 1 to 100"},
        {"", {"snap", "--out", "x.gif"}, 2, "--out: 'x.gif' must end in .png, .jpg, .bmp or .ppm"},
        {"", {"snap", "--out", "x_%d"}, 2, "--out: 'x_%d' must end in .png, .jpg, .bmp or .ppm"},
        {"", {"snap", "--out", "x_%4294967296d.bmp"}, 2, "--out: 'x_%4294967296d.bmp' asks for more than 9 digits"},
        {"", {"snap", "--out", "%4000d.bmp"}, 2, "--out: '%4000d.bmp' asks for more than 9 digits"},
        {"", {"snap", "--out", "x_%s.bmp"}, 2, "--out: 'x_%s.bmp' may hold only %d"},
        {"", {"snap", "--out", "x_%d_%d.bmp"}, 2, "--out: 'x_%d_%d.bmp' holds more than one %d"},
        {"", {"snap", "--out", "x.bmp", "--count", "3"}, 2, "--out: 'x.bmp' has no %d"},
        {"", {"snap", "--out", "x.bmp", "--seconds", "0.5"}, 2, "--out: 'x.bmp' has no %d"},
        {"", {"snap", "--out", "x.bmp", "--continuous", "--count", "2"}, 2, "--out: 'x.bmp' has no %d"},
        {"", {"snap", "--out", "x\x1b[2J.bmp"}, 2, "--out: 'x\\x1B[2J.bmp' holds a control character"},
        {"", {"snap", "--out", std::string(2000, 'a') + ".bmp"}, 2, "--out: '"},
        {"", {"snap", "--out", "x\xff.bmp"}, 2, "--out: 'x\xEF\xBF\xBD.bmp' is not valid UTF-8"},
        {"", {"list", "--ini", "\xc0\xae.ini"}, 2, "--ini: "},
        {"", {"list", "--cameras", "\xed\xa0\x80"}, 2, "--cameras: "},
        {"", {"set", "brightness"}, 2, "set: 'brightness' is not NAME=PERCENT"},
        // set checks every assignment before it applies any
        {"", {"set", "brightness=60", "bogus=5"}, 2, "set: unknown property 'bogus'"},
        {"", {"set", "brightness=60", "contrast=101"}, 2, "set: 'contrast=101': the percentage must be a whole number from 0 to 100"},
        {"", {"set", "brightness=60", "contrast=-1"}, 2, "set: 'contrast=-1': the percentage"},
        {"", {"set", "brightness=60", "gain=5:auto"}, 2, "set: 'gain=5:auto': gain has no auto mode"},
        {"", {"set", "brightness=60", "roll=5"}, 1, "the camera has no roll control; nothing was set"},
        {"", {"set", "brightness=60", "focus=5", "--cameras", "nocontrols.ini"}, 1, "the camera has no focus control"},
        {"", {"list", "--ini", "nofolder/missing.ini"}, 1, "--ini: the folder of"},
        {"", {"list", "--ini", "inidir"}, 1, "--ini: "},
        {"", {"list", "--ini", std::string(300, 'i') + ".ini"}, 1, "--ini: "},
        {"", {"list", "--ini", "dirlink.ini"}, 1, "--ini: " + (fs::canonical(dir.path()) / "dirlink.ini").string() + " cannot be read"},
        {"", {"list", "--cameras", "missing.ini"}, 1, "missing.ini: cannot be read"},
        {"", {"list", "--cameras", "camdir"}, 1, "--cameras: camdir is a folder, not a camera description"},
        {"", {"snap", "--cameras", "nocam.ini", "--out", "n.png"}, 1, "no camera could be opened"},
        {"", {"snap", "--out", "afile/x.png"}, 1, "cannot create the output folder afile"},
        {"", {"snap", "--out", "dir.bmp"}, 1, "dir.bmp is a folder"},
        {"", {"snap", "--out", "dir.bmp", "--force"}, 1, "dir.bmp is a folder"},
        // camera descriptions are read strictly and echoed safely
        {"\xEF\xBB\xBF[cam]\nFriendlyName=Bom\nDevicePath=b\n", {"list"}, 0, "*  0  Bom "},
        {"[a]\nFriendlyName=Evil\x1b[2JCam\x07\nDevicePath=p\n", {"list"}, 0, "*  0  Evil\\x1B[2JCam\\x07 "},
        {"[cam]\nFormats=640x480 RGB24 inf\n", {"list"}, 1, cams + "Formats: bad value \"640x480 RGB24 inf\""},
        {"[cam]\nFormats=640x480 RGB24 1e308\n", {"list"}, 1, cams + "Formats: bad value"},
        {"[cam]\nFormats=640x480 RGB24 0x1E\n", {"list"}, 1, cams + "Formats: bad value"},
        {"[cam]\nFormats=640x480 RGB24 1001\n", {"list"}, 1, cams + "Formats: bad value"},
        {"[cam]\nFormats=+640x480 RGB24 30\n", {"list"}, 1, cams + "Formats: bad value"},
        {std::string("[cam]\nFrameRate=ma\0x\n", 21), {"list"}, 1, cams + "FrameRate: bad value \"ma\\x00x\""},
        {"[cam]\nFrameRate=" + std::string(3000, 'z') + "\n", {"list"}, 1, cams + "FrameRate: bad value \"zzz"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        if (!c.cameras.empty()) {
            Write("cams.ini", c.cameras);
            args.insert(args.end(), {"--cameras", "cams.ini"});
        }
        const ToolResult r = Run(args);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(r.out.find(c.message), 0u) << r.out;
        } else {
            EXPECT_TRUE(SaysLine(r, c.message)) << r.err;
            EXPECT_EQ(r.out, "") << "something was done before the error was seen";
        }
        EXPECT_EQ((r.out + r.err).find('\x1b'), std::string::npos) << "an escape sequence was echoed";
        EXPECT_LT(r.err.size(), 400u) << "the message echoes too much";
        fs::remove(Path("cams.ini"));
    }
    EXPECT_EQ(FilesIn(dir.path()), before);
    EXPECT_TRUE(fs::is_empty(Path("dir.bmp")));
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

}  // namespace
