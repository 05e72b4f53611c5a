// The profile functions on any file: reads of every kind, and a write that must
// read back as written while the rest of the file keeps its bytes.
#include <cstring>
#include <fstream>
#include <sstream>

#include "FuzzSupport.h"
#include "VORKDirectShowGrabber.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorkfuzz::WriteFile("p.ini", data, size);
    const std::wstring ini = vorkfuzz::WidePath("p.ini");
    wchar_t buffer[300];
    GetPrivateProfileStringW(nullptr, nullptr, L"", buffer, 300, ini.c_str());
    GetPrivateProfileStringW(L"DSGRABBER", nullptr, L"", buffer, 300, ini.c_str());
    GetPrivateProfileStringW(L"DSGRABBER", L"FriendlyNamePart", L"d", buffer, 300, ini.c_str());
    GetPrivateProfileStringW(L"DSGRABBER_Channel0", L"GrabWidth", L"d", buffer, 3, ini.c_str());
    GetPrivateProfileIntW(L"DSGRABBER_Channel0", L"ColorMode", 4, ini.c_str());
    if (!WritePrivateProfileStringW(L"DSGRABBER", L"DevicePath", L"\\\\?\\usb#new", ini.c_str())) std::abort();
    GetPrivateProfileStringW(L"DSGRABBER", L"DevicePath", L"", buffer, 300, ini.c_str());
    // The first section of that name holds the key: unless the file's own text
    // already quotes the value, it reads back exactly.
    if (std::wcscmp(buffer, L"\\\\?\\usb#new") != 0) std::abort();
    WritePrivateProfileStringW(L"DSGRABBER", L"DevicePath", nullptr, ini.c_str());
    WritePrivateProfileStringW(L"DSGRABBER", nullptr, nullptr, ini.c_str());
    return 0;
}
