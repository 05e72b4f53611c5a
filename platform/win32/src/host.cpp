#include "vork/host.h"

#include <io.h>
#include <windows.h>

namespace vork {

std::wstring PluginPath() {
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir = self;
    size_t slash = dir.find_last_of(L"\\/");
    dir = slash == std::wstring::npos ? L"." : dir.substr(0, slash);
    return dir + L"\\VORKDirectShowGrabber.dll";
}

bool PrepareCameras(const std::wstring& descriptionFile, std::wstring* error) {
    if (descriptionFile.empty()) return true;
    if (error) *error = descriptionFile + L": camera descriptions are for the simulated platform; Windows uses its own cameras";
    return false;
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::string NarrowPath(const std::wstring& path) {
    int n = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace vork
