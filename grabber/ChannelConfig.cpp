// Setting up a camera channel: its settings from the INI file, the decision for
// single snaps, the graph's connection, and the channel's camera properties.
#include <cmath>
#include <cwchar>

#include "VORKDirectShowGrabber.h"

#include "Percent.h"
#include "Text.h"

namespace {

// The devices that cannot be snapped in one-shot mode, by a part of their name.
// The last entry marks the end of the table and is never matched.
const wchar_t* const g_NoSingleSnapDevices[] = {L"Logitech", L"NOSINGLESNAP_DEVICES_END"};
constexpr size_t kNoSingleSnapDevices = sizeof(g_NoSingleSnapDevices) / sizeof(g_NoSingleSnapDevices[0]);
static_assert(kNoSingleSnapDevices >= 1, "the table ends with its marker");

bool ReadFlag(const wchar_t* section, const wchar_t* key, int defaultValue, const wchar_t* ini) {
    return GetPrivateProfileIntW(section, key, defaultValue, ini) != 0;
}

// A number written as text; a text that is not a number gives 0. A value
// outside [low, high] (a float cannot even hold some the file may give) is
// logged and clamped, so that no conversion later overflows.
float ReadNumber(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue, const wchar_t* ini,
                 double low = 0.0, double high = 100.0) {
    wchar_t text[256] = L"";
    GetPrivateProfileStringW(section, key, defaultValue, text, 256, ini);
    double value = std::wcstod(text, nullptr);
    if (std::isnan(value)) value = 0.0;
    if (value >= low && value <= high) return static_cast<float>(value);
    const double clamped = value < low ? low : high;
    wchar_t message[512];
    VORKFormat(message, 512, L"CVORKDirectShowGrabber::HWSpecificChannelSetup: %ls=%.40ls is outside %g to %g; using %g",
               key, text, low, high, clamped);
    VORKWriteErrorLog(message, -1, 2);
    return static_cast<float>(clamped);
}

// The pause after a start of continuous acquisition: a negative one means
// none, and none is longer than this.
constexpr LONG kMaxWaitForCamStartMs = 10000;

LONG ReadPause(const wchar_t* section, const wchar_t* ini) {
    const auto pause = static_cast<LONG>(GetPrivateProfileIntW(section, L"WaitForCamStart", 1, ini));
    if (pause <= kMaxWaitForCamStartMs) return pause;
    wchar_t message[256];
    VORKFormat(message, 256,
               L"CVORKDirectShowGrabber::HWSpecificChannelSetup: WaitForCamStart=%ld ms is longer than %ld ms; "
               L"waiting %ld ms",
               static_cast<long>(pause), static_cast<long>(kMaxWaitForCamStartMs),
               static_cast<long>(kMaxWaitForCamStartMs));
    VORKWriteErrorLog(message, -1, 2);
    return kMaxWaitForCamStartMs;
}

bool HasKey(const wchar_t* section, const wchar_t* key, const wchar_t* ini) {
    wchar_t text[8] = L"";
    return GetPrivateProfileStringW(section, key, L"\x01", text, 8, ini) != 1 || text[0] != L'\x01';
}

// A float default in percent, as the device operations take it.
int Converted(float percent) { return static_cast<int>(percent + 0.5f); }

}  // namespace

void CVORKDirectShowGrabber::HWSpecificChannelSetup(const wchar_t* /*name*/, CVORKChannelParams& params) {
    wchar_t ini[256];
    VORKGetIniFileName(ini);
    const wchar_t* section = params.m_szName;
    m_bMirrorVertical = ReadFlag(section, L"MirrorImgVerticalInPlace", 1, ini);
    m_bMirrorHorizontal = ReadFlag(section, L"MirrorImgHorizontalInPlace", 0, ini);
    m_bUseSingleSnap = ReadFlag(section, L"UseSingleSnap", 1, ini);
    bool listed = false;
    {
        VORKCameraLock lock;
        for (size_t i = 0; i + 1 < kNoSingleSnapDevices && !listed; ++i)
            listed = std::wcsstr(m_szDefaultFriendlyName, g_NoSingleSnapDevices[i]) != nullptr;
    }
    if (listed || !m_bUseSingleSnap) {
        VORKCameraLock lock;
        m_bNoSingleSnap = true;  // never set back: only a new grabber starts without it
    }
    m_lWaitForCamStart = ReadPause(section, ini);
    params.m_nVideoMode = static_cast<int32_t>(GetPrivateProfileIntW(section, L"VideoMode", 5, ini));
    ConnectGraph();
    m_fDefSaturation = ReadNumber(section, L"DefSaturation", L"50", ini);
    m_fDefHue = ReadNumber(section, L"DefHue", L"50", ini);
    m_bUseCameraControlProperties = ReadFlag(section, L"UseCameraControlProperties", 0, ini);
    m_bAutoFocus = ReadFlag(section, L"AutoFocus", 1, ini);
    m_fDefFocus = ReadNumber(section, L"DefFocus", L"50", ini);
    m_bDefColorEnable = ReadFlag(section, L"DefColorEnable", 1, ini);
    m_fDefFramerate = ReadNumber(section, L"DefFramerate", L"10.0", ini, 0.0, 1000.0);
    ChannelDependentSetup(params);
    // A frame rate the user configured is applied; without the key the camera
    // keeps its own.
    if (HasKey(section, L"DefFramerate", ini) && m_fDefFramerate > 0) WriteFramerate(m_fDefFramerate);
}

void CVORKDirectShowGrabber::ChannelDependentSetup(CVORKChannelParams& params) {
    if (!m_pProcAmp) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::ChannelDependentSetup: m_pProcAmp not initialized!", 2, 2);
        return;
    }
    if (!m_pCamCtrl) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::ChannelDependentSetup: m_pCamCtrl not initialized!", 2, 2);
        return;
    }
    for (VORKCamProperty* p : {&params.m_Brightness, &params.m_Gain, &params.m_Contrast, &params.m_Sharpness,
                               &params.m_Gamma, &params.m_BacklightComp, &params.m_Exposure, &params.m_WhiteBalance,
                               &params.m_Focus})
        p->bAvailable = 0;

    LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
    auto camCtrlRange = [&](LONG property) {
        min = max = step = def = caps = 0;
        return m_pCamCtrl->GetRange(property, &min, &max, &step, &def, &caps);
    };
    auto procAmpRange = [&](LONG property) {
        min = max = step = def = caps = 0;
        return m_pProcAmp->GetRange(property, &min, &max, &step, &def, &caps);
    };
    auto mode = [](bool automatic) { return automatic ? VideoProcAmp_Flags_Auto : VideoProcAmp_Flags_Manual; };

    if (SUCCEEDED(camCtrlRange(CameraControl_Exposure))) {
        params.m_Exposure.bAvailable = 1;
        SetCamCtrlParam(CameraControl_Exposure, params.m_Exposure.nValue, mode(params.m_ExposureAuto.nValue != 0));
    }
    if (m_bUseCameraControlProperties) {
        if (SUCCEEDED(camCtrlRange(CameraControl_Focus)))
            SetCamCtrlParam(CameraControl_Focus, Converted(m_fDefFocus), mode(m_bAutoFocus));
        ShowError(m_pCamCtrl->Set(CameraControl_Pan, 0, CameraControl_Flags_Manual));
        ShowError(m_pCamCtrl->Set(CameraControl_Tilt, 0, CameraControl_Flags_Manual));
    }
    // Gain and brightness give the framework's A/D gain and offset their ranges.
    auto adRange = [&](LONG property, float& low, float& high, VORKCamProperty& record, const wchar_t* missing) {
        const HRESULT hr = procAmpRange(property);
        if (FAILED(hr)) {
            VORKWriteErrorLog(missing, hr, 2);
            return;
        }
        VORKCameraLock lock;
        low = static_cast<float>(min);
        high = static_cast<float>(max);
        record.bAvailable = 1;
    };
    adRange(VideoProcAmp_Gain, m_fGainMin, m_fGainMax, params.m_Gain,
            L"Property gain not supported by this video device!");
    adRange(VideoProcAmp_Brightness, m_fOffsetMin, m_fOffsetMax, params.m_Brightness,
            L"Property brigthness not supported by this video device!");
    const HRESULT hr = procAmpRange(VideoProcAmp_Contrast);
    if (SUCCEEDED(hr)) {
        params.m_Contrast.bAvailable = 1;
        SetProcAmpParam(VideoProcAmp_Contrast, params.m_Contrast.nValue, VideoProcAmp_Flags_Manual);
    } else {
        VORKWriteErrorLog(L"Property contrast not supported by this video device!", hr, 2);
    }
    if (SUCCEEDED(procAmpRange(VideoProcAmp_Sharpness))) {
        params.m_Sharpness.bAvailable = 1;
        SetProcAmpParam(VideoProcAmp_Sharpness, params.m_Sharpness.nValue, VideoProcAmp_Flags_Manual);
    }
    if (SUCCEEDED(procAmpRange(VideoProcAmp_Gamma))) {
        params.m_Gamma.bAvailable = 1;
        SetProcAmpParam(VideoProcAmp_Gamma, params.m_Gamma.nValue, VideoProcAmp_Flags_Manual);
    }
    if (SUCCEEDED(procAmpRange(VideoProcAmp_Saturation)))
        SetProcAmpParam(VideoProcAmp_Saturation, Converted(m_fDefSaturation), VideoProcAmp_Flags_Manual);
    if (SUCCEEDED(procAmpRange(VideoProcAmp_Hue)))
        SetProcAmpParam(VideoProcAmp_Hue, Converted(m_fDefHue), VideoProcAmp_Flags_Manual);
    // Colour enabled is the top of the device's range, disabled the bottom.
    procAmpRange(VideoProcAmp_ColorEnable);
    SetProcAmpParam(VideoProcAmp_ColorEnable, m_bDefColorEnable ? 100 : 0, VideoProcAmp_Flags_Manual);
    if (SUCCEEDED(procAmpRange(VideoProcAmp_BacklightCompensation))) {
        params.m_BacklightComp.bAvailable = 1;
        SetBacklightComp(params.m_BacklightComp.nValue, false, params.m_BacklightCompOn.nValue != 0);
    }
    if (SUCCEEDED(procAmpRange(VideoProcAmp_WhiteBalance))) {
        params.m_WhiteBalance.bAvailable = 1;
        SetProcAmpParam(VideoProcAmp_WhiteBalance, params.m_WhiteBalance.nValue,
                        mode(params.m_WhiteBalanceAuto.nValue != 0));
    }
}

int CVORKDirectShowGrabber::WriteCamChannel(int channel) {
    CVORKChannelParams params(L"ChannelParams");
    GetCamChannelParams(params, channel);
    ChannelDependentSetup(params);
    SetCamChannelParams(params, channel);
    return 0;
}
