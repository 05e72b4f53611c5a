#include "VORKCameraConfig.h"

#include "vork/fspath.h"
#include "vork/utf8.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <type_traits>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct ConfigState {
    std::mutex mutex;
    std::wstring iniFile = L"VORKCamera.ini";
    std::wstring logFile;
    bool logFileSet = false;
    struct RunSetting {
        std::wstring section;
        std::wstring key;
        std::wstring value;
    };
    std::vector<RunSetting> runSettings;
    bool lockAbsent = false;
    int nextListener = 1;
    struct Listener {
        int id;
        VORKErrorLogListener fn;
        void* context;
    };
    std::vector<Listener> listeners;
    CRITICAL_SECTION cameraLock;
    // The last line written to the file, and how often it came again since:
    // a grabber failing in a loop shows one line with a count, not a flood.
    std::wstring lastLine;
    std::wstring lastFile;
    long repeats = 0;

    ConfigState() { InitializeCriticalSection(&cameraLock); }
};

// Never destroyed: grabbers may still log while other static objects go away.
ConfigState& State() {
    static ConfigState* state = new ConfigState;
    return *state;
}

std::wstring DefaultLogFile(const std::wstring& ini) {
    size_t slash = ini.find_last_of(L"/\\");
    size_t dot = ini.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return ini + L".log";
    return ini.substr(0, dot) + L".log";
}

void AppendToFile(const std::wstring& path, const std::wstring& line) {
    if (path.empty()) return;
    std::ofstream out(vork::FilePath(path), std::ios::binary | std::ios::app);
    if (!out) return;
    std::string utf8 = vork::Utf8(line);
    out.write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
}

// Section and key names compare as the profile functions compare them.
bool SameName(const std::wstring& a, const wchar_t* b) {
    if (a.size() != std::wcslen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

void ClearProperty(VORKCamProperty& p) {
    p.nValue = 0;
    p.bAvailable = 0;
}

}  // namespace

CVORKChannelParams::CVORKChannelParams(const wchar_t* name) {
    std::swprintf(m_szName, 256, L"%ls", name ? name : L"");
    m_szName[255] = 0;
    m_nVideoMode = 5;
    for (VORKCamProperty* p : {&m_Brightness, &m_Gain, &m_Contrast, &m_Sharpness, &m_Gamma, &m_BacklightComp,
                               &m_Exposure, &m_WhiteBalance, &m_Focus, &m_BacklightCompOn, &m_ExposureAuto,
                               &m_WhiteBalanceAuto})
        ClearProperty(*p);
    // Mid-range defaults, in percent, until the framework stores the channel's own.
    m_Brightness.nValue = m_Gain.nValue = m_Contrast.nValue = m_Sharpness.nValue = 50;
    m_Gamma.nValue = m_BacklightComp.nValue = m_Exposure.nValue = m_WhiteBalance.nValue = m_Focus.nValue = 50;
    m_ExposureAuto.nValue = 1;
    m_WhiteBalanceAuto.nValue = 1;
}

CVORKChannelParams::CVORKChannelParams(const CVORKChannelParams& other) = default;
CVORKChannelParams& CVORKChannelParams::operator=(const CVORKChannelParams& other) = default;
CVORKChannelParams::~CVORKChannelParams() = default;

LPCRITICAL_SECTION GetCameraCS() {
    ConfigState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.lockAbsent ? nullptr : &s.cameraLock;
}

BOOL VORKGetIniFileName(wchar_t* buffer) {
    if (!buffer) return FALSE;
    ConfigState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::swprintf(buffer, 256, L"%ls", s.iniFile.c_str());
    buffer[255] = 0;
    return TRUE;
}

void VORKWriteErrorLog(const wchar_t* text, int code, int level) {
    ConfigState& s = State();
    std::vector<ConfigState::Listener> listeners;
    std::wstring file;
    const wchar_t* message = text ? text : L"";
    wchar_t head[96];
    std::swprintf(head, 96, L"level %d code %d: ", level, code);
    const std::wstring line = std::wstring(head) + message;
    long repeated = 0;
    std::wstring repeatedFile;
    bool again = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        listeners = s.listeners;
        file = s.logFileSet ? s.logFile : DefaultLogFile(s.iniFile);
        again = line == s.lastLine && file == s.lastFile;
        if (again) {
            ++s.repeats;
        } else {
            repeated = s.repeats;
            repeatedFile = s.lastFile;
            s.lastLine = line;
            s.lastFile = file;
            s.repeats = 0;
        }
    }
    if (again) {
        for (const auto& l : listeners) l.fn(l.context, message, code, level);
        return;
    }
    std::time_t now = std::time(nullptr);
    wchar_t stamp[32] = L"";
    {
        static std::mutex clockMutex;  // localtime shares one buffer on some runtimes
        std::lock_guard<std::mutex> lock(clockMutex);
        if (const std::tm* local = std::localtime(&now)) std::wcsftime(stamp, 32, L"%Y-%m-%d %H:%M:%S", local);
    }
    if (repeated > 0)
        AppendToFile(repeatedFile, std::wstring(stamp) + L" (the line above came " + std::to_wstring(repeated) +
                                       L" more time" + (repeated == 1 ? L")\n" : L"s)\n"));
    AppendToFile(file, std::wstring(stamp) + L" " + line + L"\n");
    for (const auto& l : listeners) l.fn(l.context, message, code, level);
}

void VORKSetIniFileName(const wchar_t* path) {
    ConfigState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.iniFile = path ? path : L"";
}

void VORKSetRunSetting(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    ConfigState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto& settings = s.runSettings;
    if (!section) {
        settings.clear();
        return;
    }
    if (!key) return;
    auto it = std::find_if(settings.begin(), settings.end(), [&](const ConfigState::RunSetting& r) {
        return SameName(r.section, section) && SameName(r.key, key);
    });
    if (it != settings.end()) settings.erase(it);
    if (value) settings.push_back({section, key, value});
}

BOOL VORKGetRunSetting(const wchar_t* section, const wchar_t* key, wchar_t* buffer, DWORD size) {
    if (!section || !key || !buffer || size == 0) return FALSE;
    ConfigState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const auto& r : s.runSettings) {
        if (!SameName(r.section, section) || !SameName(r.key, key)) continue;
        const size_t n = std::min<size_t>(r.value.size(), size - 1);
        r.value.copy(buffer, n);
        buffer[n] = 0;
        return TRUE;
    }
    return FALSE;
}

void VORKSetErrorLogFile(const wchar_t* path) {
    ConfigState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.logFile = path ? path : L"";
    s.logFileSet = true;
}

void VORKSetCameraCSAbsent(bool absent) {
    ConfigState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lockAbsent = absent;
}

int VORKAddErrorLogListener(VORKErrorLogListener listener, void* context) {
    ConfigState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    int id = s.nextListener++;
    s.listeners.push_back({id, listener, context});
    return id;
}

void VORKRemoveErrorLogListener(int id) {
    ConfigState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.listeners.begin(); it != s.listeners.end(); ++it) {
        if (it->id == id) {
            s.listeners.erase(it);
            return;
        }
    }
}
