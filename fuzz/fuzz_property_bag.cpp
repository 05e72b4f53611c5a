// Property-bag strings of any length around the plug-in's 256 and 2048
// character buffers, and the INI's name part and device path that select among
// them: the camera list and the selection must keep within their buffers.
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "FuzzSupport.h"
#include "VORKDirectShowGrabber.h"
#include "vorksim/cameras.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorkfuzz::HostSetUp();
    // Lengths near the buffers' sizes come from the first bytes.
    const size_t extra1 = size > 0 ? data[0] * 9 : 0;
    const size_t extra2 = size > 1 ? data[1] * 9 : 0;
    std::wstring name = vorkfuzz::Part(data, size, 1) + std::wstring(extra1, L'n');
    std::wstring path = vorkfuzz::Part(data, size, 2) + std::wstring(extra2, L'p');
    vorksim::CameraDescription twin = vorksim::DefaultCameraDescription();
    twin.formats = {{64, 48, MEDIASUBTYPE_RGB24, 30.0}};  // small frames: the pattern is drawn per grabber
    twin.friendlyName = name;
    twin.devicePath = path;
    vorksim::AddCamera(twin);
    twin.devicePath = path + L"0";
    vorksim::AddCamera(twin);
    const std::wstring ini = vorkfuzz::WidePath("b.ini");
    std::remove((vorkfuzz::Folder() + "/b.ini").c_str());
    WritePrivateProfileStringW(L"B", L"FriendlyNamePart", vorkfuzz::Part(data, size, 3).c_str(), ini.c_str());
    WritePrivateProfileStringW(L"B", L"DevicePath", vorkfuzz::Part(data, size, 4).c_str(), ini.c_str());
    VORKSetIniFileName(ini.c_str());
    auto* g = new CVORKDirectShowGrabber(L"B", 0, L"DSGRABBER", true, 1);
    int count = 0;
    VORKCamInfo* infos = g->GetCamInfos(count);
    for (int i = 0; i < count; ++i)
        if (std::wcslen(infos[i].szFriendlyName) > 255 || std::wcslen(infos[i].szDevicePath) > 2047) std::abort();
    delete[] infos;
    VORKCamInfo active{};
    g->GetActCamInfo(active);
    g->DeInitGrabber();
    delete g;
    vorksim::RemoveAllCameras();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return 0;
}
