// The host program as a person runs it: a process in a folder of its own, with
// its output captured, its pictures decoded, and a hard limit on how long it may
// take, so that a hang fails the test instead of stalling the suite.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vorktest {

struct ToolResult {
    int exitCode;  // -1 when the program was killed by a signal (a crash, or the time limit)
    std::string out;
    std::string err;
};

struct ToolRun {
    std::vector<std::string> args;
    // What runs the program, and the program, when it is not this build's
    // vorkgrab: e.g. {"/usr/lib/wine/wine64", "vorkgrab.exe"}. The args follow.
    std::vector<std::string> launcher;
    std::map<std::string, std::string> env;  // set for the program only
    int limitSeconds = 60;
};

ToolResult RunTool(const std::filesystem::path& dir, const ToolRun& run);
ToolResult RunTool(const std::filesystem::path& dir, const std::vector<std::string>& args);
// Every file and folder under `dir`, relative to it, sorted.
std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir);
// The one line that says what went wrong ("vorkgrab: " and `start`); event reports may come before it.
bool SaysLine(const ToolResult& r, const std::string& start);

// The program started in the background; stdout and stderr go to files in `dir`.
pid_t StartTool(const std::filesystem::path& dir, const ToolRun& run);
// Waits for it to end; its exit code, 128 + signal when a signal ended it.
int WaitForTool(pid_t pid);

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

// Reads the formats the program writes: PPM, 24-bit BMP, PNG and JPEG.
Image Decode(const std::filesystem::path& file);

// A picture against the test pattern every virtual camera shows, away from the
// row of the frame counter's blocks. A turned, flipped, shifted or recoloured
// picture shows in `worst`; lossy formats move edges, so they are judged by
// `worstFlat` and `error`. Grey pictures (RGB8) are compared with the pattern's luma.
struct PatternMatch {
    int worst = 0;      // the largest channel error
    int worstFlat = 0;  // the same where the pattern has no edge within 3 pixels
    double error = 0;   // the mean channel error
    double level = 0;   // the picture's mean level as a share of the pattern's
    std::string where;  // the pixel of the largest error, for messages
    long counter = -1;  // the frame counter; -1 when it cannot be read
};
PatternMatch MatchPattern(const Image& image, bool grey = false);

}  // namespace vorktest
