// Helpers shared by the tests: temporary folders, captured log lines and error
// events, the plug-in loaded as a host loads it, and access to grabber internals.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "VORKDirectShowGrabber.h"

namespace vorktest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::wstring File(const std::string& name) const;

private:
    std::filesystem::path path_;
};

void WriteTextFile(const std::filesystem::path& path, const std::string& text);
std::string ReadTextFile(const std::filesystem::path& path);

struct LogLine {
    std::wstring text;
    int code;
    int level;
    bool operator==(const LogLine& o) const { return text == o.text && code == o.code && level == o.level; }
};

// Records every error-log line written while it exists.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<LogLine> Lines() const;
    size_t Count(const std::wstring& text) const;
    bool Has(const std::wstring& text, int code, int level = 2) const;
    void Clear();

private:
    static void OnLine(void* context, const wchar_t* text, int code, int level);
    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
    int id_;
};

struct ErrorEvent {
    CVORKGrabberBase* grabber;
    std::wstring text;
    int code;
};

// Records every error event sent to the host while it exists.
class EventCapture {
public:
    EventCapture();
    ~EventCapture();
    std::vector<ErrorEvent> Events() const;
    std::vector<int> Codes() const;
    void Clear();

private:
    static void OnEvent(void* context, CVORKGrabberBase* grabber, const wchar_t* text, int code);
    mutable std::mutex mutex_;
    std::vector<ErrorEvent> events_;
};

// The plug-in loaded through the platform's loader, as the host loads it: its
// application object starts on load and stops on the last unload.
class PluginModule {
public:
    PluginModule();
    ~PluginModule();
    HMODULE handle() const { return module_; }

private:
    HMODULE module_;
};

// Pumps this thread's messages until the predicate holds or the deadline passes.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
void PumpPending();

// COM on the test thread, as the host initialises it.
class ComScope {
public:
    ComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComScope() { CoUninitialize(); }
};

}  // namespace vorktest

// Access to the grabber's protected and private members for the tests.
struct VORKDSGrabberTestPeer {
    using G = CVORKDirectShowGrabber;
    static void ResetFlags(G& g) { g.ResetFlags(); }
    static int FindCapSource(G& g, IBaseFilter** source) { return g.FindCapSource(source); }
    static int GetDefaultCapSource(G& g, IBaseFilter** source, wchar_t* name) {
        return g.GetDefaultCapSource(source, name);
    }
    static void ChannelDependentSetup(G& g, CVORKChannelParams& p) { g.ChannelDependentSetup(p); }
    static GUID SubtypeOf(G& g, VORKColorMode mode) { return g.GetDXVideoModeFromVORKColorMode(mode); }
    static VORKColorMode ModeOf(G& g, const GUID& subtype) { return g.GetVORKColorModeFromDXVideoMode(subtype); }
};

// The grabber with its protected members in reach.
class TestGrabber : public CVORKDirectShowGrabber {
public:
    TestGrabber(const wchar_t* name = L"TestGrabber", bool initNow = false, unsigned int ring = 3)
        : CVORKDirectShowGrabber(name, 0, L"DSGRABBER", initNow, ring) {}

    using Base = CVORKDirectShowGrabber;
    using Base::CloseBoard, Base::ConnectGraph, Base::DisconnectGraph, Base::GetDevicePath, Base::GetFriendlyName,
        Base::GetInPin, Base::GetOutPin, Base::GetPin, Base::GetPropertyLong, Base::GetPropertyString,
        Base::InitBoard, Base::UpdateCallbackInfo, Base::DoNoSingleSnap, Base::GetDeviceNumber, Base::GetGB,
        Base::GetGraphState, Base::GetImgBufSize, Base::GetOldBufSize, Base::GetWaitForCamStart, Base::IsConnected,
        Base::IsContSnapRunning, Base::IsGraphRunning, Base::IsGraphStopped, Base::Run, Base::SetContSnapRunning,
        Base::SetDeviceNumber, Base::SetGraphState, Base::Stop, Base::CalcBitmapInfoSize,
        Base::HWSpecificChannelSetup, Base::ReadADGain, Base::ReadADOffset, Base::ReadColorMode, Base::ReadGrabRect,
        Base::ReadVideoMode, Base::WriteADGain, Base::WriteADOffset, Base::WriteCamChannel, Base::WriteColorMode,
        Base::WriteGrabRect, Base::SetGB;
    using Base::m_bAutoFocus, Base::m_bBacklightCompEnabled, Base::m_bDefColorEnable,
        Base::m_bUseCameraControlProperties, Base::m_bUseSingleSnap, Base::m_fDefFocus, Base::m_fDefFramerate,
        Base::m_fDefHue, Base::m_fDefSaturation, Base::m_bMirrorHorizontal, Base::m_bMirrorVertical,
        Base::m_bNoSingleSnap, Base::m_bRepeatSnap, Base::m_lImgBufSize, Base::m_lOldBufSize,
        Base::m_lWaitForCamStart, Base::m_pGB, Base::m_ActCamInfo, Base::m_pCamCtrl, Base::m_pCapSource,
        Base::m_pDevEnum, Base::m_pGraph, Base::m_pGrabberFilter, Base::m_pNullRenderer, Base::m_pProcAmp,
        Base::m_pVideoWindow, Base::m_szDefaultFriendlyName, Base::m_szFriendlyNamePart, Base::m_hMediaEventWnd,
        Base::m_nActColorMode, Base::m_nActGrabHeight, Base::m_nActGrabWidth, Base::m_pMediaControl,
        Base::m_pMediaEvent, Base::m_pMediaType, Base::m_pSampleGrabber;
};

#include <gtest/gtest.h>

#include "GrabberList.h"
#include "vorksim/cameras.h"

namespace vorktest {

// A host's set-up for tests that open boards: COM on the thread, the plug-in
// loaded, an INI file of its own, captured log lines and error events, and no
// camera until the test adds one. It checks that nothing was left behind.
class BoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    vorksim::CameraId AddCamera(const wchar_t* name, const wchar_t* path = nullptr);
    void WriteIni(const std::string& text);
    std::wstring Ini(const wchar_t* section, const wchar_t* key);
    bool HasLine(const std::wstring& text, int code, int level = 2) const { return log.Has(text, code, level); }
    // A grabber the test keeps: TearDown ends its acquisition and closes its
    // board, looks for leaks, and only then deletes it, so that what only its
    // destructor would release counts as leaked.
    TestGrabber& Keep(std::unique_ptr<TestGrabber> grabber);

    ComScope com;
    TempDir dir;
    std::wstring ini;
    PluginModule module;
    LogCapture log;
    EventCapture events;
    long liveObjects = 0;
    size_t windows = 0;
    std::vector<std::unique_ptr<TestGrabber>> kept;
};

}  // namespace vorktest
