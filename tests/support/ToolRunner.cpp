#include "ToolRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "TestSupport.h"
#include "stb_image.h"
#include "vork/testpattern.h"

namespace vorktest {

namespace fs = std::filesystem;

pid_t StartTool(const fs::path& dir, const ToolRun& run) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    // The child: its own folder, output in files, and a limit the kernel enforces.
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(126);
    dup2(out, 1);
    dup2(err, 2);
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    for (const auto& [name, value] : run.env) setenv(name.c_str(), value.c_str(), 1);
    alarm(static_cast<unsigned>(run.limitSeconds));
    std::vector<std::string> args = run.launcher;
    if (args.empty()) args.push_back(VORKGRAB_PATH);
    args.insert(args.end(), run.args.begin(), run.args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

int WaitForTool(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

ToolResult RunTool(const fs::path& dir, const ToolRun& run) {
    const int code = WaitForTool(StartTool(dir, run));
    ToolResult r{code >= 128 ? -1 : code, ReadTextFile(dir / "out.txt"), ReadTextFile(dir / "err.txt")};
    if (code >= 128) r.err += "\n[killed by signal " + std::to_string(code - 128) + "]";
    fs::remove(dir / "out.txt");
    fs::remove(dir / "err.txt");
    return r;
}

ToolResult RunTool(const fs::path& dir, const std::vector<std::string>& args) {
    ToolRun run;
    run.args = args;
    return RunTool(dir, run);
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) files.push_back(entry.path().lexically_relative(dir));
    std::sort(files.begin(), files.end());
    return files;
}

bool SaysLine(const ToolResult& r, const std::string& start) {
    const size_t at = r.err.find("vorkgrab: " + start);
    return at == 0 || (at != std::string::npos && r.err[at - 1] == '\n');
}

// PPM, BMP, PNG and JPEG through stb_image (Debian's libstb-dev): it reads BMP
// rows in the order the header gives and skips their padding to 4 bytes.
Image Decode(const fs::path& file) {
    const std::string data = ReadTextFile(file);
    int w = 0, h = 0, channels = 0;
    unsigned char* pixels = stbi_load_from_memory(reinterpret_cast<const unsigned char*>(data.data()),
                                                  static_cast<int>(data.size()), &w, &h, &channels, 3);
    if (!pixels) {
        ADD_FAILURE() << file << " does not decode: " << stbi_failure_reason();
        return Image{};
    }
    Image image{w, h, std::vector<uint8_t>(pixels, pixels + static_cast<size_t>(w) * static_cast<size_t>(h) * 3)};
    stbi_image_free(pixels);
    return image;
}

namespace {

void Expected(int x, int y, int w, int h, bool grey, int want[3]) {
    uint8_t c[3];
    vork::PatternColor(x, y, w, h, c[0], c[1], c[2]);
    for (int k = 0; k < 3; ++k) want[k] = grey ? (299 * c[0] + 587 * c[1] + 114 * c[2] + 500) / 1000 : c[k];
}

bool Flat(int x, int y, int w, int h, bool grey) {
    int here[3], there[3];
    Expected(x, y, w, h, grey, here);
    for (int dy : {-3, 0, 3})
        for (int dx : {-3, 0, 3}) {
            Expected(std::clamp(x + dx, 0, w - 1), std::clamp(y + dy, 0, h - 1), w, h, grey, there);
            for (int k = 0; k < 3; ++k)
                if (std::abs(here[k] - there[k]) > 20) return false;
        }
    return true;
}

}  // namespace

PatternMatch MatchPattern(const Image& image, bool grey) {
    PatternMatch m;
    const int w = image.width, h = image.height;
    const int block = vork::CounterLayout(w, h).block;
    double error = 0, level = 0, patternLevel = 0, samples = 0;
    for (int y = 0; y < h; ++y) {
        if (block >= 1 && y >= h / 2 - block && y <= h / 2 + block) continue;
        for (int x = 0; x < w; ++x) {
            int want[3];
            Expected(x, y, w, h, grey, want);
            for (int k = 0; k < 3; ++k) {
                const int e = std::abs(image.At(x, y)[k] - want[k]);
                error += e;
                ++samples;
                level += image.At(x, y)[k];
                patternLevel += want[k];
                if (e > m.worst)
                    m.where = "pixel " + std::to_string(x) + "," + std::to_string(y) + " channel " + std::to_string(k) +
                              ": " + std::to_string(image.At(x, y)[k]) + " instead of " + std::to_string(want[k]);
                m.worst = std::max(m.worst, e);
                if (e > m.worstFlat && Flat(x, y, w, h, grey)) m.worstFlat = e;
            }
        }
    }
    m.error = samples > 0 ? error / samples : 0;
    m.level = patternLevel > 0 ? level / patternLevel : 0;
    m.counter = vork::ReadCounter(w, h, [&](int x, int y) { return image.At(x, y)[1] > 128; });
    return m;
}

}  // namespace vorktest
