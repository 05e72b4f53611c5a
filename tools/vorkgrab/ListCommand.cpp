// list: the cameras as the plug-in lists them, names and paths shown escaped.
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "Commands.h"
#include "Errors.h"
#include "Text.h"

namespace {

// Padded to a width in characters, not bytes, so that names outside ASCII line up.
std::string Padded(const std::string& utf8, size_t width) {
    size_t characters = 0;
    for (unsigned char c : utf8) characters += (c & 0xC0) != 0x80;
    return characters >= width ? utf8 : utf8 + std::string(width - characters, ' ');
}

}  // namespace

int ListCommand(CVORKDirectShowGrabber& g) {
    int count = 0;
    std::unique_ptr<VORKCamInfo[]> infos(g.GetCamInfos(count));
    if (!infos) throw Failure{"no camera"};
    VORKCamInfo active{};
    g.GetActCamInfo(active);
    for (int i = 0; i < count; ++i) {
        const bool connected = g.IsInitialized() && infos[i].nDeviceNumber == active.nDeviceNumber &&
                               std::wcscmp(infos[i].szDevicePath, active.szDevicePath) == 0;
        std::printf("%c %2d  %s  %s\n", connected ? '*' : ' ', infos[i].nDeviceNumber,
                    Padded(Printable(std::wstring(infos[i].szFriendlyName), 255), 32).c_str(),
                    Printable(std::wstring(infos[i].szDevicePath), 2047).c_str());
    }
    return kSuccess;
}
