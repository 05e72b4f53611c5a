#include "ToolRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"
#include "stb_image.h"

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

namespace {

uint32_t LittleEndian(const std::string& s, size_t at) {
    return uint8_t(s[at]) | (uint32_t(uint8_t(s[at + 1])) << 8) | (uint32_t(uint8_t(s[at + 2])) << 16) |
           (uint32_t(uint8_t(s[at + 3])) << 24);
}

}  // namespace

Image Decode(const fs::path& file) {
    const std::string data = ReadTextFile(file);
    Image image;
    if (data.size() < 14) {
        ADD_FAILURE() << file << " is too short to be a picture";
        return image;
    }
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
        EXPECT_EQ(data.size(), offset + stride * static_cast<size_t>(image.height)) << "BMP rows not padded to 4 bytes";
        if (data.size() < offset + stride * static_cast<size_t>(image.height)) return Image{};
        for (int y = image.height - 1; y >= 0; --y)
            for (int x = 0; x < image.width; ++x) {
                const char* p = data.data() + offset + static_cast<size_t>(y) * stride + 3 * x;
                image.rgb.insert(image.rgb.end(), {uint8_t(p[2]), uint8_t(p[1]), uint8_t(p[0])});
            }
    } else {
        // PNG and JPEG through stb_image (Debian's libstb-dev).
        int w = 0, h = 0, channels = 0;
        unsigned char* pixels = stbi_load_from_memory(reinterpret_cast<const unsigned char*>(data.data()),
                                                      static_cast<int>(data.size()), &w, &h, &channels, 3);
        if (!pixels) {
            ADD_FAILURE() << file << " does not decode: " << stbi_failure_reason();
            return Image{};
        }
        image.width = w;
        image.height = h;
        image.rgb.assign(pixels, pixels + static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
        stbi_image_free(pixels);
    }
    return image;
}

}  // namespace vorktest
