#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "VORKDirectShowGrabber.h"
#include "vork/utf8.h"

namespace vorkfuzz {

const std::string& Folder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vorkfuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return folder;
}

std::wstring WidePath(const std::string& name) { return vork::FromUtf8(Folder() + "/" + name); }

void WriteFile(const std::string& name, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen((Folder() + "/" + name).c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

void HostSetUp() {
    static bool done = [] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        VORKSetErrorLogFile(L"");
        return true;
    }();
    (void)done;
}

std::wstring Part(const uint8_t* data, size_t size, int index) {
    int at = 0;
    size_t begin = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            if (at == index) return vork::FromUtf8(std::string(reinterpret_cast<const char*>(data) + begin, i - begin));
            ++at;
            begin = i + 1;
        }
    }
    return L"";
}

}  // namespace vorkfuzz
