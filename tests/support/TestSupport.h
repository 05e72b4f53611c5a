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
    static LRESULT HandleMediaEvent(G& g) { return g.HandleMediaEvent(); }
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
    using CVORKDirectShowGrabber::CVORKDirectShowGrabber;

    using CVORKDirectShowGrabber::CloseBoard;
    using CVORKDirectShowGrabber::ConnectGraph;
    using CVORKDirectShowGrabber::DisconnectGraph;
    using CVORKDirectShowGrabber::GetDevicePath;
    using CVORKDirectShowGrabber::GetFriendlyName;
    using CVORKDirectShowGrabber::GetInPin;
    using CVORKDirectShowGrabber::GetOutPin;
    using CVORKDirectShowGrabber::GetPin;
    using CVORKDirectShowGrabber::GetPropertyLong;
    using CVORKDirectShowGrabber::GetPropertyString;
    using CVORKDirectShowGrabber::InitBoard;
    using CVORKDirectShowGrabber::UpdateCallbackInfo;
    using CVORKDirectShowGrabber::DoNoSingleSnap;
    using CVORKDirectShowGrabber::GetDeviceNumber;
    using CVORKDirectShowGrabber::GetGB;
    using CVORKDirectShowGrabber::GetGraphState;
    using CVORKDirectShowGrabber::GetImgBufSize;
    using CVORKDirectShowGrabber::GetOldBufSize;
    using CVORKDirectShowGrabber::GetWaitForCamStart;
    using CVORKDirectShowGrabber::IsConnected;
    using CVORKDirectShowGrabber::IsContSnapRunning;
    using CVORKDirectShowGrabber::IsGraphRunning;
    using CVORKDirectShowGrabber::IsGraphStopped;
    using CVORKDirectShowGrabber::Run;
    using CVORKDirectShowGrabber::SetContSnapRunning;
    using CVORKDirectShowGrabber::SetDeviceNumber;
    using CVORKDirectShowGrabber::SetGraphState;
    using CVORKDirectShowGrabber::Stop;
    using CVORKDirectShowGrabber::StopIfNecessary;

    using CVORKDirectShowGrabber::CalcBitmapInfoSize;
    using CVORKDirectShowGrabber::HWSpecificChannelSetup;
    using CVORKDirectShowGrabber::ReadADGain;
    using CVORKDirectShowGrabber::ReadADOffset;
    using CVORKDirectShowGrabber::ReadColorMode;
    using CVORKDirectShowGrabber::ReadGrabRect;
    using CVORKDirectShowGrabber::ReadVideoMode;
    using CVORKDirectShowGrabber::WriteADGain;
    using CVORKDirectShowGrabber::WriteADOffset;
    using CVORKDirectShowGrabber::WriteCamChannel;
    using CVORKDirectShowGrabber::WriteColorMode;
    using CVORKDirectShowGrabber::WriteGrabRect;
    using CVORKDirectShowGrabber::m_bAutoFocus;
    using CVORKDirectShowGrabber::m_bBacklightCompEnabled;
    using CVORKDirectShowGrabber::m_bDefColorEnable;
    using CVORKDirectShowGrabber::m_bUseCameraControlProperties;
    using CVORKDirectShowGrabber::m_bUseSingleSnap;
    using CVORKDirectShowGrabber::m_fDefFocus;
    using CVORKDirectShowGrabber::m_fDefFramerate;
    using CVORKDirectShowGrabber::m_fDefHue;
    using CVORKDirectShowGrabber::m_fDefSaturation;
    using CVORKDirectShowGrabber::SetGB;
    using CVORKDirectShowGrabber::m_bMirrorHorizontal;
    using CVORKDirectShowGrabber::m_bMirrorVertical;
    using CVORKDirectShowGrabber::m_bNoSingleSnap;
    using CVORKDirectShowGrabber::m_bRepeatSnap;
    using CVORKDirectShowGrabber::m_lImgBufSize;
    using CVORKDirectShowGrabber::m_lOldBufSize;
    using CVORKDirectShowGrabber::m_lWaitForCamStart;
    using CVORKDirectShowGrabber::m_pGB;
    using CVORKDirectShowGrabber::m_ActCamInfo;
    using CVORKDirectShowGrabber::m_pCamCtrl;
    using CVORKDirectShowGrabber::m_pCapSource;
    using CVORKDirectShowGrabber::m_pDevEnum;
    using CVORKDirectShowGrabber::m_pGraph;
    using CVORKDirectShowGrabber::m_pGrabberFilter;
    using CVORKDirectShowGrabber::m_pNullRenderer;
    using CVORKDirectShowGrabber::m_pProcAmp;
    using CVORKDirectShowGrabber::m_pSourceOutPin;
    using CVORKDirectShowGrabber::m_pVideoWindow;
    using CVORKDirectShowGrabber::m_szDefaultFriendlyName;
    using CVORKDirectShowGrabber::m_szDevicePath;
    using CVORKDirectShowGrabber::m_szFriendlyNamePart;
    using CVORKDirectShowGrabber::m_bConnected;
    using CVORKDirectShowGrabber::m_bContSnapRunning;
    using CVORKDirectShowGrabber::m_GraphState;
    using CVORKDirectShowGrabber::m_hMediaEventWnd;
    using CVORKDirectShowGrabber::m_nActColorMode;
    using CVORKDirectShowGrabber::m_nActGrabHeight;
    using CVORKDirectShowGrabber::m_nActGrabWidth;
    using CVORKDirectShowGrabber::m_pMediaControl;
    using CVORKDirectShowGrabber::m_pMediaEvent;
    using CVORKDirectShowGrabber::m_pMediaType;
    using CVORKDirectShowGrabber::m_pSampleGrabber;
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
