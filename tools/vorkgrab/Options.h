// The command line: one command and its options, checked whole before anything
// is opened.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct Options {
    std::string command;
    std::vector<std::string> assignments;  // set: NAME=PERCENT[:auto|:manual]
    std::vector<std::string> settings;     // snap --set: the same, applied before the pictures
    std::wstring ini;                      // absolute once the program runs: the file the framework reads
    std::wstring iniName;                  // --ini, when `ini` is the program's copy of it
    std::wstring cameras;
    std::wstring out = L"snaps/frame_%03d.png";
    std::wstring grabber = L"DSGRABBER";
    int timeout = 5000;
    int quality = 90;  // JPEG
    long long count = 1;
    long long every = 1;
    double seconds = 0;
    bool continuous = false;
    long long skip = -1;  // frames dropped after the start; -1: until the picture settles
    bool noReconnect = false;
    bool force = false;
    bool verbose = false;
    bool help = false;
    std::optional<int> colorMode;
    std::optional<std::pair<int, int>> size;
    std::optional<double> fps;
    std::pair<std::string, int> listen{"127.0.0.1", 8080};  // serve
};

extern const char kUsage[];

// Throws UsageError with the offending argument named.
Options ParseOptions(int argc, char** argv);
