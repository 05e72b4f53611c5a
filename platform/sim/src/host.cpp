#include "vork/host.h"

#include <unistd.h>

#include <climits>

#include "vorksim/cameras.h"
#include "vorksim/text.h"

namespace vork {

std::wstring PluginPath() {
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(".");
    dir = dir.substr(0, dir.find_last_of('/'));
    return vorksim::FromUtf8(dir + "/libVORKDirectShowGrabber.so");
}

bool PrepareCameras(const std::wstring& descriptionFile, std::wstring* error) {
    if (descriptionFile.empty()) {
        vorksim::AddCamera(vorksim::DefaultCameraDescription());
        return true;
    }
    return vorksim::LoadCameraFile(descriptionFile, nullptr, error);
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

}  // namespace vork
