// The framework's camera configuration library: channel parameter records, the INI
// file path, the error log and the process-wide camera lock.
#pragma once

#include <cstdint>

#include "vorkplatform_base.h"

#ifdef VORKCAMERACONFIG_BUILD
#define VORKCC_API VORK_EXPORT
#else
#define VORKCC_API VORK_IMPORT
#endif

// One camera property of a channel: its value (percent, or a switch) and whether
// the device offers it.
struct VORKCamProperty {
    int32_t nValue;
    BYTE bAvailable;
};

class VORKCC_API CVORKChannelParams {
public:
    explicit CVORKChannelParams(const wchar_t* name);
    CVORKChannelParams(const CVORKChannelParams& other);
    CVORKChannelParams& operator=(const CVORKChannelParams& other);
    virtual ~CVORKChannelParams();

    wchar_t m_szName[256];
    int32_t m_nVideoMode;

    VORKCamProperty m_Brightness;
    VORKCamProperty m_Gain;
    VORKCamProperty m_Contrast;
    VORKCamProperty m_Sharpness;
    VORKCamProperty m_Gamma;
    VORKCamProperty m_BacklightComp;
    VORKCamProperty m_Exposure;
    VORKCamProperty m_WhiteBalance;
    VORKCamProperty m_Focus;

    // Switches: only nValue is used (non-zero = on).
    VORKCamProperty m_BacklightCompOn;
    VORKCamProperty m_ExposureAuto;
    VORKCamProperty m_WhiteBalanceAuto;
};

// The process-wide, re-entrant camera lock; null when the framework runs without one.
VORKCC_API LPCRITICAL_SECTION GetCameraCS();

// Writes the framework's INI file path into a buffer of 256 wide characters.
VORKCC_API BOOL VORKGetIniFileName(wchar_t* buffer);

// Appends a line to the framework's error log and hands it to the listeners.
VORKCC_API void VORKWriteErrorLog(const wchar_t* text, int code, int level);

// ---- Host-side configuration of the framework ---------------------------------
// The INI file (default: VORKCamera.ini in the working directory).
VORKCC_API void VORKSetIniFileName(const wchar_t* path);
// The error log file (default: the INI file's path with the extension .log);
// an empty path writes no file.
VORKCC_API void VORKSetErrorLogFile(const wchar_t* path);
// Makes GetCameraCS return null (true) or the lock (false).
VORKCC_API void VORKSetCameraCSAbsent(bool absent);
// A setting of the framework's own (the channel's ColorMode, GrabWidth,
// GrabHeight) for this process only, taken before the INI file's and never
// written to it. A null value forgets the key; a null section forgets every one.
VORKCC_API void VORKSetRunSetting(const wchar_t* section, const wchar_t* key, const wchar_t* value);
// The value VORKSetRunSetting gave, cut to `size` characters with its end;
// FALSE when the run gives none.
VORKCC_API BOOL VORKGetRunSetting(const wchar_t* section, const wchar_t* key, wchar_t* buffer, DWORD size);

typedef void (*VORKErrorLogListener)(void* context, const wchar_t* text, int code, int level);
VORKCC_API int VORKAddErrorLogListener(VORKErrorLogListener listener, void* context);
VORKCC_API void VORKRemoveErrorLogListener(int id);

// Holds the camera lock for a scope, and nothing when the framework has none.
class VORKCameraLock {
public:
    VORKCameraLock() : cs_(GetCameraCS()) {
        if (cs_) EnterCriticalSection(cs_);
    }
    ~VORKCameraLock() {
        if (cs_) LeaveCriticalSection(cs_);
    }
    VORKCameraLock(const VORKCameraLock&) = delete;
    VORKCameraLock& operator=(const VORKCameraLock&) = delete;

private:
    LPCRITICAL_SECTION cs_;
};
