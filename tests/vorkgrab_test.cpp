// The host program as a person uses it, and under careless and hostile input:
// settings the camera does not take, bad files and values, links and folders
// where files should be, and interrupts. Every case runs the program as a
// process with files in a folder of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

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
using vorktest::SaysLine;
using vorktest::TempDir;
using vorktest::ToolResult;
using vorktest::ToolRun;
using vorktest::WriteTextFile;

class VorkgrabTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path Path(const std::string& name) const { return dir.path() / name; }
    void Write(const std::string& name, const std::string& text) const { WriteTextFile(Path(name), text); }
    ToolResult Run(const std::vector<std::string>& args) const { return RunTool(dir.path(), args); }
    PatternMatch Picture(const std::string& file) const { return MatchPattern(Decode(dir.path() / file)); }
    // Until a running program's files show `done`, for at most 30 s.
    static void Until(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    }
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
        {{"--out", "w%%_%5d.ppm", "--count", "2"}, 0, "", {"w%_    0.ppm", "w%_    1.ppm"}, nullptr},
        // a name of 252 bytes: the file written beside it first must not be longer than 255
        {{"--out", std::string(246, 'l') + "_%d.ppm"}, 0, "", {std::string(246, 'l') + "_0.ppm"}, nullptr},
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

// The common webcam sends YUY2 and MJPG only: the graph's colour space converter
// and MJPEG decompressor (or both) give pictures of the scene, right way up, in
// every RGB colour mode, at the size the camera sends.
TEST_F(VorkgrabTest, TheWebcamDescriptionGivesPicturesThroughTheGraphsFilters) {
    const std::string webcam = std::string(VORK_CAMERAS_DIR) + "/webcam.ini";
    WriteTextFile(dir.path() / "mjpg.ini",
                  "[m]\nFriendlyName=M\nDevicePath=m\nFormats=1280x720 MJPG 30, 640x480 MJPG 30\n");
    struct Case {
        std::string cameras;
        const char* size;  // "" and "": no option, as a new user runs it
        const char* mode;
        const char* camera;  // what the format command says the camera sends
        const char* picture;
        bool continuous;
    } cases[] = {{webcam, "", "", "640x480 YUY2", "640x480", false},
                 {webcam, "640x480", "2", "640x480 YUY2", "640x480", false},
                 {webcam, "320x240", "3", "320x240 YUY2", "320x240", false},
                 {webcam, "320x240", "4", "320x240 YUY2", "320x240", false},
                 {webcam, "640x480", "5", "640x480 YUY2", "640x480", false},
                 {webcam, "1280x720", "2", "1280x720 MJPG", "1280x720", false},
                 {webcam, "1280x720", "3", "1280x720 MJPG", "1280x720", false},
                 {"mjpg.ini", "640x480", "4", "640x480 MJPG", "640x480", false},
                 {"mjpg.ini", "640x480", "5", "640x480 MJPG", "640x480", false},
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
        // BT.601 in integers both ways moves a level or two; JPEG's 8x8 blocks
        // ring along edges by up to a tenth of the range; 16-bit modes lose low bits.
        const PatternMatch m = MatchPattern(image);
        const bool mjpg = std::string(c.camera).find("MJPG") != std::string::npos;
        const int bits = *c.mode == '2' || *c.mode == '3' ? 8 : 0;
        EXPECT_LE(m.worstFlat, (mjpg ? 28 : 4) + bits) << m.where;
        EXPECT_LE(m.error, (mjpg ? 4.0 : 3.0) + bits / 2.0);
        EXPECT_GE(m.counter, 0) << "the frame counter is unreadable";
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

// ---- Settings the camera does not take -------------------------------------------

TEST_F(VorkgrabTest, ARefusedSettingSaysWhatTheControlHoldsNow) {
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

// A bad value names its key in one line, in snap and format alike; a pause after
// the start longer than the timeout is refused before any wait (snap only).
TEST_F(VorkgrabTest, BadChannelValuesAreRefusedNamingTheKey) {
    const std::string pause = ": the pause after a start is longer than --timeout";
    struct Case {
        std::string line;
        std::vector<std::string> snapArgs;  // none: snap and format both refuse
        std::string says;
    };
    std::vector<Case> cases{
        {"UseSingleSnap=0\nWaitForCamStart=100000", {"--force"}, "WaitForCamStart=100000" + pause},
        {"WaitForCamStart=2147483647", {"--continuous"}, "WaitForCamStart=2147483647" + pause},
        {"WaitForCamStart=3000", {"--continuous", "--timeout", "1000"}, "WaitForCamStart=3000" + pause + " 1000 ms"}};
    for (const char* line :
         {"GrabWidth=2147483648", "GrabWidth=abc", "GrabHeight=nan", "GrabHeight=0", "GrabWidth=-1", "GrabWidth=",
          "GrabHeight=16385", "ColorMode=-1", "ColorMode=4294967295", "ColorMode=1", "ColorMode=", "DefHue=1e10",
          "DefSaturation=nan", "DefFramerate=inf", "MirrorImgVerticalInPlace=yes",
          "WaitForCamStart=99999999999999999999"})
        cases.push_back({line, {}, std::string(line, std::strchr(line, '=') + 1)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Write("vork.ini", "[DSGRABBER_Channel0]\n" + c.line + "\n");
        std::vector<std::vector<std::string>> runs{{"snap"}, {"format"}};
        if (!c.snapArgs.empty()) runs = {{"snap"}};
        for (std::vector<std::string> args : runs) {
            args.insert(args.end(), c.snapArgs.begin(), c.snapArgs.end());
            args.insert(args.end(), {"--ini", "vork.ini", args[0] == "snap" ? "--out" : "--timeout", args[0] == "snap" ? "x.png" : "5000"});
            ToolResult r = Run(args);
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_NE(r.err.find("[DSGRABBER_Channel0] " + c.says), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        }
        EXPECT_FALSE(fs::exists(Path("x.png")));
    }
}

// ---- Files of the user's ------------------------------------------------------------------

TEST_F(VorkgrabTest, TemporaryFilesNeverTouchTheUsersFilesOrFollowLinks) {
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
    // A picture replaced keeps the mode its owner gave it.
    Write("k_0.bmp", "old");
    const fs::perms mine = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(Path("k_0.bmp"), mine);
    EXPECT_EQ(Run({"snap", "--out", "k_%d.bmp", "--force"}).exitCode, 0);
    EXPECT_EQ(fs::status(Path("k_0.bmp")).permissions(), mine);
    EXPECT_EQ(ReadTextFile(Path("f_0.bmp.part")), "mine");
    EXPECT_EQ(ReadTextFile(Path("secret")), "do not overwrite");
    EXPECT_TRUE(fs::is_symlink(Path("g_0.bmp.part")));
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<fs::path>{"f_0.bmp", "f_0.bmp.part", "g_0.bmp", "g_0.bmp.part",
                                                         "h_0.bmp", "k_0.bmp", "secret"}));
}

// Every bad argument, file and path: one line naming it (event reports may come
// before it), the right exit code, nothing on stdout, no escape sequence echoed,
// and no file or folder made.
TEST_F(VorkgrabTest, BadInputGetsOneLineAndTheRightExitCode) {
    fs::create_directory(Path("dir.bmp"));
    fs::create_directory(Path("inidir"));
    fs::create_directory(Path("camdir"));
    fs::create_directory_symlink("inidir", Path("dirlink.ini"));
    mkfifo(Path("fifo").c_str(), 0600);  // behind a link it would be read for ever
    fs::create_symlink("fifo", Path("fifolink.ini"));
    fs::create_symlink("vork.ini", Path("filelink.ini"));
    Write("nul.ini", std::string(64, '\0'));
    Write("afile", "x");
    Write("nocam.ini", "[cam]\nFriendlyName=Broken\nBind=0\n");
    Write("nocontrols.ini", "[cam]\nFriendlyName=Bare\nDevicePath=b\nCameraControl=0\n");
    // No filter makes palette frames from RGB32.
    Write("rgb32.ini", "[cam]\nFormats=640x480 RGB32 30, 320x240 RGB32 15\n");
    Write("busy.ini", "[cam]\nBusy=1\n");
    Write("octal.ini", "[DSGRABBER_Channel0]\nGrabWidth=0320\n");  // the framework reads 208
    const std::string ini = "[DSGRABBER_Channel0]\nGrabWidth=640\n";
    Write("vork.ini", ini);
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
        {"", {"snap", "--fps", "1.2.5"}, 2, "--fps: '1.2.5' is not a positive number up to 1000"},
        {"", {"snap", "--size", "640by480"}, 2, "--size: '640by480' is not WIDTHxHEIGHT"},
        {"", {"snap", "--out", "x.jpg", "--quality", "0"}, 2, "--quality: '0' is not a whole number from 1 to 100"},
        {"", {"snap", "--out", "x.png", "--quality", "50"}, 2, "--quality is for JPEG pictures, and --out 'x.png' is not one"},
        {"", {"set", "backlight=off:auto"}, 2, "set: 'backlight=off:auto': backlight off takes no mode"},
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
        {"", {"list", "--ini", "dirlink.ini"}, 1, "--ini: " + (fs::canonical(dir.path()) / "dirlink.ini").string() + " is a link to no regular file"},
        {"", {"format", "--ini", "filelink.ini"}, 1, "--ini: " + (fs::canonical(dir.path()) / "filelink.ini").string() + " is a link; give the file it names"},
        {"", {"format", "--ini", "new.ini", "--size", "1x1"}, 1, "--size 1x1 was not applied"},  // and new.ini goes again
        {"", {"list", "--ini", "nul.ini"}, 1, "--ini: " + (fs::canonical(dir.path()) / "nul.ini").string() + " holds NUL bytes"},
        {"", {"list", "--cameras", "fifolink.ini"}, 1, "--cameras: fifolink.ini is a link to no regular file"},
        {"", {"list", "--grabber", "G "}, 2, "--grabber: 'G ' begins or ends with a blank"},
        {"", {"props", "--size", "320x240"}, 2, "--size is for snap, format and serve, not props"},
        {"", {"snap", "--seconds", "1", "-n", "2", "--out", "s%d.png"}, 2, "--seconds and --count: give one of them"},
        {"", {"list", "--cameras", "missing.ini"}, 1, "missing.ini: cannot be read"},
        {"", {"list", "--cameras", "camdir"}, 1, "--cameras: camdir is a folder, not a camera description"},
        {"", {"snap", "--cameras", "nocam.ini", "--out", "n.png"}, 1, "no camera could be opened"},
        {"", {"snap", "--out", "afile/x.png"}, 1, "cannot create the output folder afile"},
        {"", {"snap", "--out", "dir.bmp"}, 1, "dir.bmp is a folder"},
        {"", {"snap", "--out", "dir.bmp", "--force"}, 1, "dir.bmp is a folder"},
        // settings the camera does not take are named, and never reach the INI file
        {"", {"snap", "--ini", "vork.ini", "--size", "641x481", "--out", "a.png"}, 1,
         "--size 641x481 was not applied: the camera delivers 640x480"},
        {"", {"snap", "--ini", "vork.ini", "--size", "16384x16384", "--out", "a.png"}, 1,
         "--size 16384x16384 was not applied"},
        {"", {"format", "--ini", "vork.ini", "--size", "1x1"}, 1, "--size 1x1 was not applied: the camera delivers 640x480"},
        {"", {"format", "--ini", "vork.ini", "--fps", "1000"}, 1,
         "--fps 1000 was not applied: the camera runs at 30.000 frames per second"},
        {"", {"format", "--ini", "vork.ini", "--fps", "0.001"}, 1, "--fps 0.001 was not applied: the camera runs at 30.000"},
        {"", {"snap", "--ini", "vork.ini", "--cameras", "rgb32.ini", "--color-mode", "0", "--out", "a.png"}, 1,
         "the camera gives no picture in colour mode 0 (RGB8); it offers 640x480 RGB32 30, 320x240 RGB32 15"},
        {"", {"snap", "--ini", "vork.ini", "--cameras", "busy.ini", "--out", "a.png"}, 1,
         "the camera is busy: another program may be using it"},
        {"", {"format", "--grabber", "\xD0\x9A\xD0\xB0\xD0\xBC", "--ini", "vork.ini", "--size", "320x240"}, 1,
         "[\xD0\x9A\xD0\xB0\xD0\xBC_Channel0] GrabWidth=320 cannot be written into " +
             (fs::canonical(dir.path()) / "vork.ini").string() + " as it is"},  // a file of the Windows code page
        {"", {"snap", "--ini", "octal.ini", "--out", "a.png"}, 1,
         (fs::canonical(dir.path()) / "octal.ini").string() +
             ": [DSGRABBER_Channel0] GrabWidth=0320: has a leading 0, which the framework reads as an octal number"},
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
            EXPECT_EQ(r.err.find("no picture could be taken"), std::string::npos) << "said twice: " << r.err;
        }
        EXPECT_EQ((r.out + r.err).find('\x1b'), std::string::npos) << "an escape sequence was echoed";
        EXPECT_LT(r.err.size(), 400u) << "the message echoes too much";
        fs::remove(Path("cams.ini"));
    }
    EXPECT_EQ(FilesIn(dir.path()), before);
    EXPECT_TRUE(fs::is_empty(Path("dir.bmp")));
    // Neither the camera the framework found nor the run's own settings reach it.
    EXPECT_EQ(ReadTextFile(Path("vork.ini")), ini);
}

TEST_F(VorkgrabTest, AnInterruptedRunRemovesItsTemporaryIniFile) {
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
        Until([&] { return !temporaryIni().empty(); });
        const std::string name = temporaryIni();
        ASSERT_FALSE(name.empty());
        for (int signal : signals) kill(pid, signal);
        EXPECT_EQ(vorktest::WaitForTool(pid), 130);
        EXPECT_TRUE(fs::is_empty(Path("tmp"))) << "left behind: " << name;
        EXPECT_NE(ReadTextFile(Path("err.txt")).find("vorkgrab: interrupted"), std::string::npos);
    }
}

// Killed (SIGKILL) in the middle: a snap whose settings are in force, and a
// format right after the plug-in wrote the camera it took into its INI file
// (the program's copy): the user's file is as it was.
TEST_F(VorkgrabTest, AKilledRunLeavesTheUsersIniFileAsItWas) {
    const std::string ini = "[DSGRABBER_Channel0]\nMirrorImgVerticalInPlace=1\n";
    Write("slow.ini", "[cam]\nFriendlyName=Slow\nDevicePath=s\nStartDelay=3000\n");
    fs::create_directory(Path("tmp"));
    const auto copyNamesCamera = [&] {
        for (const auto& entry : fs::directory_iterator(Path("tmp")))
            if (ReadTextFile(entry.path()).find("FriendlyNamePart=Slow") != std::string::npos) return true;
        return false;
    };
    const struct {
        std::vector<std::string> args;
        std::function<bool()> reached;
    } cases[] = {{{"snap", "--continuous", "--seconds", "600", "--size", "320x240", "--color-mode", "5", "--out",
                   "run_%d.ppm"},
                  [&] { return fs::exists(Path("run_0.ppm")); }},
                 {{"format", "--cameras", "slow.ini", "--size", "320x240"}, copyNamesCamera}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        Write("vork.ini", ini);
        ToolRun run;
        run.args = c.args;
        run.args.insert(run.args.end(), {"--ini", "vork.ini"});
        run.env = {{"TMPDIR", Path("tmp").string()}};
        const pid_t pid = vorktest::StartTool(dir.path(), run);
        Until(c.reached);
        kill(pid, SIGKILL);
        vorktest::WaitForTool(pid);
        EXPECT_TRUE(c.reached());
        EXPECT_EQ(ReadTextFile(Path("vork.ini")), ini);
    }
}

}  // namespace
