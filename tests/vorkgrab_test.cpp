// The host program as a person uses it: a process with arguments and files in a
// folder of its own.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using vorktest::ReadTextFile;
using vorktest::TempDir;
using vorktest::WriteTextFile;

struct Result {
    int exitCode;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Result RunTool(const fs::path& dir, const std::vector<std::string>& args) {
    std::string command = "cd " + Quote(dir.string()) + " && " + Quote(VORKGRAB_PATH);
    for (const auto& a : args) command += " " + Quote(a);
    command += " >out.txt 2>err.txt";
    int status = std::system(command.c_str());
    Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(dir / "out.txt"), ReadTextFile(dir / "err.txt")};
    fs::remove(dir / "out.txt");
    fs::remove(dir / "err.txt");
    return r;
}

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
    bool White(int x, int y) const { return At(x, y)[0] > 230 && At(x, y)[1] > 230 && At(x, y)[2] > 230; }
};

uint32_t BigEndian(const std::string& s, size_t at) {
    return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
           (uint32_t(uint8_t(s[at + 2])) << 8) | uint8_t(s[at + 3]);
}
uint32_t LittleEndian(const std::string& s, size_t at) {
    return uint8_t(s[at]) | (uint32_t(uint8_t(s[at + 1])) << 8) | (uint32_t(uint8_t(s[at + 2])) << 16) |
           (uint32_t(uint8_t(s[at + 3])) << 24);
}

// Reads the three formats the program writes (PNG as it writes it: stored blocks).
Image Decode(const fs::path& file) {
    const std::string data = ReadTextFile(file);
    Image image;
    if (file.extension() == ".ppm") {
        std::istringstream in(data);
        std::string magic;
        int max = 0;
        in >> magic >> image.width >> image.height >> max;
        in.get();
        image.rgb.assign(data.end() - static_cast<std::ptrdiff_t>(image.width * image.height * 3), data.end());
    } else if (file.extension() == ".bmp") {
        EXPECT_EQ(data.substr(0, 2), "BM");
        image.width = static_cast<int>(LittleEndian(data, 18));
        image.height = static_cast<int>(LittleEndian(data, 22));
        const size_t stride = (static_cast<size_t>(image.width) * 3 + 3) & ~size_t(3);
        const size_t offset = LittleEndian(data, 10);
        for (int y = image.height - 1; y >= 0; --y)
            for (int x = 0; x < image.width; ++x) {
                const char* p = data.data() + offset + static_cast<size_t>(y) * stride + 3 * x;
                image.rgb.insert(image.rgb.end(), {uint8_t(p[2]), uint8_t(p[1]), uint8_t(p[0])});
            }
    } else {
        EXPECT_EQ(data.substr(1, 3), "PNG");
        image.width = static_cast<int>(BigEndian(data, 16));
        image.height = static_cast<int>(BigEndian(data, 20));
        std::string z;
        for (size_t at = 8; at + 8 <= data.size();) {
            const uint32_t length = BigEndian(data, at);
            if (data.substr(at + 4, 4) == "IDAT") z += data.substr(at + 8, length);
            at += 12 + length;
        }
        std::string raw;
        for (size_t at = 2; at + 5 <= z.size();) {
            const bool last = z[at] & 1;
            const size_t n = uint8_t(z[at + 1]) | (size_t(uint8_t(z[at + 2])) << 8);
            raw += z.substr(at + 5, n);
            at += 5 + n;
            if (last) break;
        }
        const size_t row = static_cast<size_t>(image.width) * 3;
        for (int y = 0; y < image.height; ++y)
            image.rgb.insert(image.rgb.end(), raw.begin() + static_cast<std::ptrdiff_t>(y * (row + 1) + 1),
                             raw.begin() + static_cast<std::ptrdiff_t>(y * (row + 1) + 1 + row));
    }
    return image;
}

class VorkgrabTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(VorkgrabTest, ListsDescribedCamerasWithUniqueNames) {
    WriteTextFile(dir.path() / "cams.ini",
                  "[one]\nFriendlyName=USB Camera\nDevicePath=path-1\n[two]\nFriendlyName=Other\nDevicePath=path-2\n"
                  "[three]\nFriendlyName=USB Camera\nDevicePath=path-3\n");
    Result r = RunTool(dir.path(), {"list", "--cameras", "cams.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "*  0  USB Camera                        path-1\n"
              "   1  Other                             path-2\n"
              "   2  USB Camera_2                      path-3\n");
}

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
        {{"snap", "--out", "x.gif"}, 2, "vorkgrab: --out: 'x.gif' must end in .png, .bmp or .ppm"},
        {{}, 2, "vorkgrab: no command given"},
        {{"list", "--ini", "missing.ini"}, 1, "vorkgrab: cannot read the INI file missing.ini"},
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

TEST_F(VorkgrabTest, PropertiesAreSetAndReadInPercent) {
    WriteTextFile(dir.path() / "vork.ini", "");
    Result r = RunTool(dir.path(), {"set", "brightness=25", "focus=40:manual", "--ini", "vork.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunTool(dir.path(), {"set", "roll=10", "--ini", "vork.ini"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("roll=10 was not set (result 11)"), std::string::npos) << r.err;
    r = RunTool(dir.path(), {"format", "--size", "320x240", "--color-mode", "5", "--fps", "15", "--ini", "vork.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("color mode  5 (RGB32)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("size        320x240"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frame rate  15.000"), std::string::npos) << r.out;
}

}  // namespace
