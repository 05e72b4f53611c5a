// Generated hostile input for the host program: camera description files, INI
// files and command lines built from pieces that have broken programs before
// (huge and negative numbers, nan, hex, control characters, non-ASCII, empty
// and very long values). Whatever the input, the program ends by itself with 0,
// 1 or 2, says what went wrong in one line, and leaves no sanitizer report.
//
// VORK_GENERATED_INPUTS sets how many inputs of each kind run (default 25, as
// in CI); VORK_GENERATED_SEED picks another set. By hand, for a longer run:
//   VORK_GENERATED_INPUTS=400 build/asan/bin/vorkgrab_generated_test
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "TestSupport.h"
#include "ToolRunner.h"

namespace {

namespace fs = std::filesystem;
using vorktest::RunTool;
using vorktest::TempDir;
using vorktest::ToolResult;
using vorktest::WriteTextFile;

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

const std::vector<std::string> kValues = {
    "", "0", "1", "-1", "2", "5", "100", "101", "640", "480", "320", "2147483647", "2147483648", "-2147483648",
    "4294967295", "99999999999999999999", "nan", "inf", "-inf", "1e10", "1e308", "0x1E", "0x10", "abc", " 7 ",
    "3.5", "\xff\xfe", "\xc3\xbc", "\x1b[2J", "a\tb", "\"quoted\"", std::string(3000, 'x'), "=", "[x]", ";"};

const std::vector<std::string> kChannelKeys = {
    "MirrorImgVerticalInPlace", "MirrorImgHorizontalInPlace", "UseSingleSnap", "WaitForCamStart", "VideoMode",
    "DefSaturation", "DefHue", "DefFocus", "UseCameraControlProperties", "AutoFocus", "DefColorEnable",
    "DefFramerate", "ColorMode", "GrabWidth", "GrabHeight", "Unknown"};

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    template <class T>
    const T& Pick(const std::vector<T>& items) {
        return items[std::uniform_int_distribution<size_t>(0, items.size() - 1)(random_)];
    }
    bool Chance(int percent) { return std::uniform_int_distribution<int>(1, 100)(random_) <= percent; }
    std::string Value() { return Pick(kValues); }

    std::string Format() {
        static const std::vector<std::string> sizes = {"640x480", "320x240", "641x481", "1x1", "3x3", "2x2",
                                                       "16384x1", "0x480", "-1x480", "640x", "x", "640X480",
                                                       "1e3x2", "16385x1"};
        static const std::vector<std::string> subtypes = {"RGB24", "RGB32", "RGB565", "RGB555", "RGB8",
                                                          "YUY2", "MJPG", "rgb24", "XXX"};
        static const std::vector<std::string> rates = {"30", "15", "1", "1000", "1001", "inf", "nan", "0",
                                                       "-5", "0x1E", "1e308", "max", "7.5"};
        if (Chance(10)) return Value();
        if (Chance(50)) return Pick(sizes) + " " + Pick(subtypes) + " " + Pick(rates);
        return Pick(sizes) + " " + Pick(std::vector<std::string>{"RGB24", "RGB32", "RGB565"}) + " 30";
    }

    std::string CameraFile() {
        std::string text = Chance(10) ? "\xEF\xBB\xBF" : "";
        const int cameras = std::uniform_int_distribution<int>(0, 3)(random_);
        for (int c = 0; c < cameras; ++c) {
            text += Chance(5) ? "[broken\n" : "[cam" + std::to_string(c) + "]\n";
            if (Chance(80)) text += "FriendlyName=" + (Chance(50) ? std::string("Cam") : Value()) + "\n";
            if (Chance(80)) text += "DevicePath=" + (Chance(50) ? "p" + std::to_string(c) : Value()) + "\n";
            if (Chance(80)) {
                std::string formats = Format();
                while (Chance(40)) formats += ", " + Format();
                text += "Formats=" + formats + "\n";
            }
            if (Chance(30)) text += "FrameRate=" + (Chance(50) ? std::string("max") : Value()) + "\n";
            for (const char* key : {"PropertyBag", "Bind", "ProcAmp", "CameraControl"})
                if (Chance(15)) text += std::string(key) + "=" + (Chance(50) ? std::string("0") : Value()) + "\n";
            if (Chance(5)) text += Value() + "\n";
        }
        return text;
    }

    std::string IniFile() {
        std::string text;
        if (Chance(60)) {
            text += "[DSGRABBER]\n";
            if (Chance(50)) text += "FriendlyNamePart=" + (Chance(50) ? std::string("VORK") : Value()) + "\n";
            if (Chance(30)) text += "DevicePath=" + Value() + "\n";
        }
        text += Chance(90) ? "[DSGRABBER_Channel0]\n" : "[dsgrabber_channel0]\n";
        const int keys = std::uniform_int_distribution<int>(1, 5)(random_);
        // Mostly values the grabber takes, so that most runs reach the camera.
        static const std::vector<std::string> plausible = {"0", "1", "4", "5", "3", "2", "320", "240", "640", "480",
                                                           "50", "10", "15.5", "100"};
        for (int k = 0; k < keys; ++k) text += Pick(kChannelKeys) + "=" + (Chance(70) ? Pick(plausible) : Value()) + "\n";
        return text;
    }

    std::vector<std::string> CommandLine() {
        static const std::vector<std::string> commands = {"list", "snap", "props", "format", "set", "bogus", ""};
        static const std::vector<std::string> options = {"--count", "--every", "--seconds", "--timeout",
                                                         "--color-mode", "--size", "--fps", "--out", "--grabber",
                                                         "--force", "--verbose", "--continuous", "--ini", "-x"};
        static const std::vector<std::string> outs = {"o_%d.ppm", "o.bmp", "%4294967296d.png", "d%d/x.png",
                                                      "o_%s.ppm", "o_%03d.png", "o_%d.gif", "", "/"};
        std::vector<std::string> args = {Pick(commands)};
        const int n = std::uniform_int_distribution<int>(0, 5)(random_);
        for (int i = 0; i < n; ++i) {
            const std::string& option = Pick(options);
            args.push_back(option);
            if (option == "--out") args.push_back(Pick(outs));
            else if (option == "--timeout") args.push_back(Chance(50) ? "1000" : Value());
            else if (option == "--seconds") args.push_back(Chance(50) ? "0.2" : Value());
            else if (option == "--count" || option == "--every") args.push_back(Chance(50) ? "2" : Value());
            else if (option == "--ini") args.push_back(Chance(50) ? "gen.ini" : Value());
            else if (option != "--force" && option != "--verbose" && option != "--continuous" && Chance(90))
                args.push_back(Value());
        }
        if (args[0] == "set") args.push_back(Pick(std::vector<std::string>{"brightness", "roll", "gain", "x"}) + "=" + Value());
        return args;
    }

private:
    std::mt19937 random_;
};

std::map<int, int> g_endings;

// What every run must show, whatever it was given.
void CheckEnding(const ToolResult& r, const std::string& input) {
    ++g_endings[r.exitCode];
    ASSERT_GE(r.exitCode, 0) << "crashed or hung on:\n" << input << "\n" << r.err;
    EXPECT_LE(r.exitCode, 2) << input;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << input << "\n" << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << input << "\n" << r.err;
    if (r.exitCode != 0) {
        EXPECT_NE(r.err.find("vorkgrab: "), std::string::npos) << "a failure without a message:\n" << input;
        EXPECT_LT(r.err.size(), 4000u) << input;
    }
}

std::string Shown(const std::vector<std::string>& args) {
    std::string text;
    for (const auto& a : args) text += "[" + a.substr(0, 80) + "] ";
    return text;
}

class VorkgrabGeneratedTest : public ::testing::Test {
protected:
    TempDir dir;
    Generator gen{static_cast<unsigned>(EnvInt("VORK_GENERATED_SEED", 20261205))};
    const int count = EnvInt("VORK_GENERATED_INPUTS", 25);
    ToolResult Run(const std::vector<std::string>& args) const { return RunTool(dir.path(), args); }
};

TEST_F(VorkgrabGeneratedTest, CameraDescriptionFiles) {
    for (int i = 0; i < count; ++i) {
        const std::string file = gen.CameraFile();
        WriteTextFile(dir.path() / "cams.ini", file);
        CheckEnding(Run({"list", "--cameras", "cams.ini"}), file);
        CheckEnding(Run({"snap", "--cameras", "cams.ini", "--timeout", "1000", "--out", "o.ppm", "--force"}), file);
        if (HasFailure()) return;
    }
}

TEST_F(VorkgrabGeneratedTest, IniFiles) {
    for (int i = 0; i < count; ++i) {
        const std::string file = gen.IniFile();
        const std::vector<std::string> commands[] = {
            {"snap", "--ini", "gen.ini", "--timeout", "1000", "--out", "o_%d.bmp", "--force", "--count", "2"},
            {"snap", "--ini", "gen.ini", "--timeout", "1000", "--continuous", "--count", "2", "--out", "c_%d.png",
             "--force"},
            {"format", "--ini", "gen.ini"},
            {"list", "--ini", "gen.ini"}};
        const auto& args = commands[i % 4];
        WriteTextFile(dir.path() / "gen.ini", file);
        CheckEnding(Run(args), file + "\n" + Shown(args));
        if (HasFailure()) return;
    }
}

TEST_F(VorkgrabGeneratedTest, CommandLines) {
    WriteTextFile(dir.path() / "gen.ini", "");
    for (int i = 0; i < 2 * count; ++i) {
        std::vector<std::string> args = gen.CommandLine();
        args.insert(args.end(), {"--timeout", "1000"});
        CheckEnding(Run(args), Shown(args));
        if (HasFailure()) return;
    }
    // How the runs ended, for a person running it for longer.
    for (const auto& [code, runs] : g_endings) std::printf("exit %d: %d runs\n", code, runs);
}

}  // namespace
