// list: the cameras as the plug-in lists them, names and paths shown escaped.
#include <cstdio>
#include <cwchar>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "Text.h"

int ListCommand(CVORKDirectShowGrabber& g) {
    int count = 0;
    std::unique_ptr<VORKCamInfo[]> infos(g.GetCamInfos(count));
    if (!infos) throw Failure{"no camera"};
    VORKCamInfo active{};
    g.GetActCamInfo(active);
    for (int i = 0; i < count; ++i) {
        const bool connected = g.IsInitialized() && infos[i].nDeviceNumber == active.nDeviceNumber &&
                               std::wcscmp(infos[i].szDevicePath, active.szDevicePath) == 0;
        std::printf("%c %2d  %-32s  %s\n", connected ? '*' : ' ', infos[i].nDeviceNumber,
                    Printable(std::wstring(infos[i].szFriendlyName), 255).c_str(),
                    Printable(std::wstring(infos[i].szDevicePath), 2047).c_str());
    }
    return kSuccess;
}
