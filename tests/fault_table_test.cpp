// The failure tables of device selection, the camera list, graph construction,
// run control, snaps and buffer sizing, walked row by row: each row injects its
// fault into the simulated platform and checks the log line (text, code, level),
// the result, and the error event the row names. Rows that no fault of the
// platform can reach are made by clearing the member that a board opened part
// way would lack.
#include "TestSupport.h"

#include "GrabberList.h"
#include "vork/utf8.h"

#include <cctype>
#include <functional>
#include <memory>

namespace {

using vorktest::BoardTest;

class FaultTable;

long Ptr(const void* p) { return p ? 1 : 0; }

struct Row {
    const char* table;      // the operation's area
    const char* situation;
    std::function<long(FaultTable&)> act;  // injects the fault and runs the operation: its result
    std::wstring line;      // empty: the row names no line
    int code;
    int level;
    long result;
    int event;              // 0: none
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.table << ": " << row.situation; }

class FaultTable : public BoardTest, public ::testing::WithParamInterface<Row> {
public:
    using BoardTest::events;
    using BoardTest::WriteIni;
    vorksim::CameraId camera = 0;

    TestGrabber& Bare() { return Keep(std::make_unique<TestGrabber>(L"F")); }
    TestGrabber& Board() {
        AddIfNone();
        TestGrabber& g = Keep(std::make_unique<TestGrabber>(L"F"));
        EXPECT_TRUE(g.InitBoard());
        return g;
    }
    TestGrabber& Connected() {
        TestGrabber& g = Board();
        EXPECT_EQ(g.ConnectGraph(), 0);
        return g;
    }
    TestGrabber& Initialized() {
        AddIfNone();
        TestGrabber& g = Keep(std::make_unique<TestGrabber>(L"F", true));
        EXPECT_TRUE(g.IsInitialized());
        return g;
    }
    void AddIfNone() {
        if (!camera) camera = AddCamera(L"Fault Cam", L"fault-path");
    }
    void Faults(const std::function<void(vorksim::CameraFaults&)>& set) {
        vorksim::CameraFaults f;
        set(f);
        vorksim::SetFaults(camera, f);
    }

protected:
    void TearDown() override {
        for (auto& g : grabbers_) {
            g->StopGrabThread(true);
            g->CloseBoard();
        }
        grabbers_.clear();
        BoardTest::TearDown();
    }

private:
    TestGrabber& Keep(std::unique_ptr<TestGrabber> g) {
        grabbers_.push_back(std::move(g));
        return *grabbers_.back();
    }
    std::vector<std::unique_ptr<TestGrabber>> grabbers_;
};

TEST_P(FaultTable, Row) {
    const Row& row = GetParam();
    log.Clear();
    const long result = row.act(*this);
    EXPECT_EQ(result, row.result);
    if (!row.line.empty()) {
        EXPECT_TRUE(HasLine(row.line, row.code, row.level)) << vork::Utf8(row.line);
    }
    if (row.event) {
        const auto codes = events.Codes();
        EXPECT_NE(std::find(codes.begin(), codes.end(), row.event), codes.end()) << "event " << row.event;
    }
}

void AddCameraFor(FaultTable& t, const wchar_t* name, const wchar_t* path) {
    t.AddIfNone();
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.friendlyName = name;
    d.devicePath = path;
    vorksim::AddCamera(d);
}

void AddCameraWith(FaultTable& t, const std::function<void(vorksim::CameraDescription&)>& change) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.friendlyName = L"Fault Cam";
    d.devicePath = L"fault-path";
    change(d);
    t.camera = vorksim::AddCamera(d);
}

Row Rows[] = {
    // ---- Device enumeration and selection --------------------------------------
    {"selection", "FindCapSource with null output",
     [](FaultTable& t) { return static_cast<long>(VORKDSGrabberTestPeer::FindCapSource(t.Board(), nullptr)); }, L"", 0, 0, 1, 0},
    {"selection", "GetDefaultCapSource with null output",
     [](FaultTable& t) {
         wchar_t name[256];
         return static_cast<long>(VORKDSGrabberTestPeer::GetDefaultCapSource(t.Board(), nullptr, name));
     },
     L"CVORKDirectShowGrabber::GetDefaultCapSource: Invalid parameter!", 1, 2, 1, 0},
    {"selection", "no device enumerator (search)",
     [](FaultTable& t) {
         CComPtr<IBaseFilter> f;
         return static_cast<long>(VORKDSGrabberTestPeer::FindCapSource(t.Bare(), &f));
     },
     L"CVORKDirectShowGrabber::FindCapSource: Device enumerator not initialized!", 2, 2, 2, 0},
    {"selection", "no device enumerator (first device)",
     [](FaultTable& t) {
         CComPtr<IBaseFilter> f;
         wchar_t name[256];
         return static_cast<long>(VORKDSGrabberTestPeer::GetDefaultCapSource(t.Bare(), &f, name));
     },
     L"CVORKDirectShowGrabber::GetDefaultCapSource: Device enumerator not initialized!", 2, 2, 2, 0},
    {"selection", "no enumerator for the category: no device at all",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         vorksim::RemoveAllCameras();
         CComPtr<IBaseFilter> f;
         return static_cast<long>(VORKDSGrabberTestPeer::FindCapSource(g, &f));
     },
     L"CVORKDirectShowGrabber::FindCapSource: Moniker enumerator could not be created!", 2, 2, 2, 0},
    {"selection", "no enumerator for the category (first device)",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         vorksim::RemoveAllCameras();
         CComPtr<IBaseFilter> f;
         wchar_t name[256];
         return static_cast<long>(VORKDSGrabberTestPeer::GetDefaultCapSource(g, &f, name));
     },
     L"CVORKDirectShowGrabber::GetDefaultCapSource: Moniker enumerator could not be created!", 2, 2, 2, 0},
    {"selection", "fetch fails with a negative HRESULT (search)",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         vorksim::SetCallFault("IEnumMoniker::Next", E_UNEXPECTED);
         CComPtr<IBaseFilter> f;
         return static_cast<long>(VORKDSGrabberTestPeer::FindCapSource(g, &f));
     },
     L"DirectShow error: Catastrophic failure", 0, 2, 9, 0},
    {"selection", "bind fails (first device)",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         t.Faults([](vorksim::CameraFaults& f) { f.bindFails = true; });
         CComPtr<IBaseFilter> f;
         wchar_t name[256];
         return static_cast<long>(VORKDSGrabberTestPeer::GetDefaultCapSource(g, &f, name));
     },
     L"", 0, 0, 4, 0},
    {"selection", "property bag not available",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         t.Faults([](vorksim::CameraFaults& f) { f.propertyBagFails = true; });
         CComPtr<IEnumMoniker> monikers;
         g.m_pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
         CComPtr<IMoniker> moniker;
         if (!monikers || monikers->Next(1, &moniker, nullptr) != S_OK) return -1L;
         wchar_t name[256];
         return static_cast<long>(g.GetFriendlyName(moniker, name));
     },
     L"DirectShow error: Unspecified error", 0, 2, 4, 0},
    {"selection", "configured device not found: fallback",
     [](FaultTable& t) {
         t.WriteIni("[F]\nFriendlyNamePart=Missing\n");
         return static_cast<long>(t.Board().GetDeviceNumber());
     },
     L"", 0, 0, 0, 10},
    {"selection", "no device at all could be connected",
     [](FaultTable& t) { return static_cast<long>(t.Bare().InitBoard()); },
     L"", 0, 0, 0, 9},
    // ---- The camera list ---------------------------------------------------------------
    {"camera list", "no device enumerator",
     [](FaultTable& t) {
         int count = 7;
         const long r = Ptr(t.Bare().GetCamInfos(count));
         return count == 7 ? r : -1;
     },
     L"CVORKDirectShowGrabber::GetCamInfos: Device enumerator not initialized!", 2, 2, 0, 0},
    {"camera list", "no enumerator for the category",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         vorksim::RemoveAllCameras();
         int count = 7;
         const long r = Ptr(g.GetCamInfos(count));
         return count == 7 ? r : -1;
     },
     L"CVORKDirectShowGrabber::GetCamInfos: Moniker enumerator could not be created!", 2, 2, 0, 0},
    {"camera list", "fetching a moniker fails: the list so far",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         AddCameraFor(t, L"Second", L"second");
         // The first device is fetched, the second fetch fails.
         vorksim::SetCallHook("IEnumMoniker::Next", [calls = std::make_shared<int>(0)] {
             if (++*calls == 2) vorksim::SetCallFault("IEnumMoniker::Next", E_FAIL, 1);
         });
         int count = 0;
         std::unique_ptr<VORKCamInfo[]> list(g.GetCamInfos(count));
         return list ? static_cast<long>(count) : -1;
     },
     L"DirectShow error: Unspecified error", 0, 2, 1, 0},
    {"camera list", "name or path not readable: fallback strings",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         t.Faults([](vorksim::CameraFaults& f) { f.propertyBagFails = true; });
         int count = 0;
         std::unique_ptr<VORKCamInfo[]> list(g.GetCamInfos(count));
         return list && count == 1 && list[0].szFriendlyName[0] != 0 ? 1L : 0L;
     },
     L"", 0, 0, 1, 0},
    // ---- Graph construction ------------------------------------------------------------
    {"graph", "device enumerator cannot be created",
     [](FaultTable& t) {
         t.AddIfNone();
         vorksim::SetCallFault(vorksim::CreationCall(CLSID_SystemDeviceEnum), REGDB_E_CLASSNOTREG);
         return static_cast<long>(t.Bare().InitBoard());
     },
     L"CVORKDirectShowGrabber::InitBoard: Could not initialize device enumerator!", 2, 2, 0, 0},
    {"graph", "sample grabber cannot be created",
     [](FaultTable& t) {
         t.AddIfNone();
         vorksim::SetCallFault(vorksim::CreationCall(CLSID_SampleGrabber), REGDB_E_CLASSNOTREG);
         return static_cast<long>(t.Bare().InitBoard());
     },
     L"CVORKDirectShowGrabber::InitBoard: Could not initialize sample grabber!", 2, 2, 0, 0},
    {"graph", "device selection fails: events 10 and 9",
     [](FaultTable& t) { return static_cast<long>(t.Bare().InitBoard()); }, L"", 0, 0, 0, 9},
    {"graph", "filter graph cannot be created",
     [](FaultTable& t) {
         t.AddIfNone();
         vorksim::SetCallFault(vorksim::CreationCall(CLSID_FilterGraph), E_OUTOFMEMORY);
         return static_cast<long>(t.Bare().InitBoard());
     },
     L"CVORKDirectShowGrabber::InitBoard: Could not create filter graph!", 2, 2, 0, 0},
    {"graph", "null renderer cannot be created",
     [](FaultTable& t) {
         t.AddIfNone();
         vorksim::SetCallFault(vorksim::CreationCall(CLSID_NullRenderer), E_OUTOFMEMORY);
         return static_cast<long>(t.Bare().InitBoard());
     },
     L"CVORKDirectShowGrabber::InitBoard: Could not create NULL renderer!", 2, 2, 0, 0},
    {"graph", "no IAMVideoProcAmp",
     [](FaultTable& t) {
         AddCameraWith(t, [](vorksim::CameraDescription& d) { d.hasProcAmp = false; });
         TestGrabber& g = t.Board();
         return Ptr(g.m_pProcAmp.p);
     },
     L"Video device does not support video quality settings. No WDM capture device?", 0, 2, 0, 0},
    {"graph", "no IAMCameraControl",
     [](FaultTable& t) {
         AddCameraWith(t, [](vorksim::CameraDescription& d) { d.hasCameraControl = false; });
         TestGrabber& g = t.Board();
         return Ptr(g.m_pCamCtrl.p);
     },
     L"Video device does not support camera control interface!", 0, 2, 0, 0},
    {"graph", "connect while connected",
     [](FaultTable& t) { return static_cast<long>(t.Connected().ConnectGraph()); },
     L"CVORKDirectShowGrabber::ConnectGraph: Warning, graph is connected and will be disconnected before reconnecting!",
     0, 2, 0, 0},
    {"graph", "connect without sample grabber",
     [](FaultTable& t) { return static_cast<long>(t.Bare().ConnectGraph()); },
     L"CVORKDirectShowGrabber::ConnectGraph: No valid grabber object!", 2, 2, 16, 0},
    {"graph", "a connection fails",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         vorksim::SetCallFault("IGraphBuilder::Connect", VFW_E_CANNOT_CONNECT);
         return static_cast<long>(g.ConnectGraph());
     },
     L"", 0, 0, 16, 0},
    // ---- Run control and media events ------------------------------------------------
    {"run", "Run without sample grabber",
     [](FaultTable& t) { return static_cast<long>(t.Bare().Run()); },
     L"CVORKDirectShowGrabber::Run: Grabber not initialized!", 2, 2, 2, 0},
    {"run", "Run with pins not connected",
     [](FaultTable& t) { return static_cast<long>(t.Board().Run()); },
     L"CVORKDirectShowGrabber::Run: Graph not connected!", 2, 2, 2, 0},
    {"run", "Run without media control (a board opened part way)",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         g.m_pMediaControl.Release();
         return static_cast<long>(g.Run());
     },
     L"CVORKDirectShowGrabber::Run: No valid grabber control object!", 2, 2, 2, 0},
    {"run", "Stop without media control (a board opened part way)",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         g.m_pMediaControl.Release();
         g.SetGraphState(VORKDSGraphRunning);
         g.Stop();
         return static_cast<long>(g.GetGraphState());
     },
     L"CVORKDirectShowGrabber::Stop : No valid grabber control object!", 2, 2, VORKDSGraphRunning, 0},
    {"run", "Run already running",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         g.Run();
         return static_cast<long>(g.Run());
     },
     L"", 0, 0, 22, 0},
    {"run", "Run fails",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         t.Faults([](vorksim::CameraFaults& f) { f.runResult = E_FAIL; });
         return static_cast<long>(g.Run());
     },
     L"CVORKDirectShowGrabber::Run(): Error switching to Run state", 0, 2, 17, 0},
    {"run", "Run of a camera another program holds says why",
     [](FaultTable& t) {
         AddCameraWith(t, [](vorksim::CameraDescription& d) { d.busy = true; });
         return static_cast<long>(t.Connected().Run());
     },
     L"DirectShow error: A device attached to the system is not functioning.", 0, 2, 17, 0},
    {"run", "Stop without sample grabber",
     [](FaultTable& t) {
         TestGrabber& g = t.Bare();
         g.Stop();
         return 0L;
     },
     L"CVORKDirectShowGrabber::Stop : No valid grabber object!", 2, 2, 0, 0},
    {"run", "Stop does not complete",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         g.Run();
         t.Faults([](vorksim::CameraFaults& f) { f.stopStuck = true; });
         g.Stop();
         return static_cast<long>(g.IsGraphStopped());
     },
     L"CVORKDirectShowGrabber::Stop(): Timeout waiting for acquisition to stop, return code: 262711!", 0, 2, 1, 0},
    {"run", "stream aborted",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         g.Run();
         vorksim::AbortStream(t.camera, E_FAIL);
         return static_cast<long>(vorktest::PumpUntil([&] { return !t.events.Codes().empty() && t.events.Codes().back() == 3; }));
     },
     L"", 0, 0, 1, 3},
    {"run", "own device removed",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         g.Run();
         vorksim::RemoveCamera(t.camera);
         const bool handled = vorktest::PumpUntil([&] { return !t.events.Codes().empty() && t.events.Codes().back() == 31; });
         return static_cast<long>(handled && g.IsAborting());
     },
     L"", 0, 0, 1, 31},
    {"run", "ShowError with a negative HRESULT",
     [](FaultTable& t) { return static_cast<long>(t.Bare().ShowError(E_POINTER)); },
     L"DirectShow error: Invalid pointer", 0, 2, 1, 0},
    // ---- Snaps -----------------------------------------------------------------------------
    {"snap", "grabber not initialised (async add)",
     [](FaultTable& t) { return static_cast<long>(t.Board().SnapAsyncToAddBuffer()); },
     L"CVORKDirectShowGrabber::SnapToAddBuffer: No valid grabber object!", 2, 2, 2, 0},
    {"snap", "other graphs running",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         AddCameraFor(t, L"Other", L"other");
         t.WriteIni("[O]\nFriendlyNamePart=Other\n");
         TestGrabber other(L"O", true);
         other.Run();
         const long r = static_cast<long>(g.SnapAsyncToAddBuffer());
         g.Stop();
         other.DeInitGrabber();
         return r;
     },
     L"CVORKDirectShowGrabber::SnapAsyncToAddBuffer: Not all graphs are stopped! Grabber: F", -1, 2, 0, 0},
    {"snap", "continuous acquisition running elsewhere",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         AddCameraFor(t, L"Other", L"other");
         t.WriteIni("[O]\nFriendlyNamePart=Other\n");
         TestGrabber other(L"O", true);
         other.SnapAsyncToRing();
         const long r = static_cast<long>(g.SnapAsyncToAddBuffer());
         other.StopSnap();
         other.DeInitGrabber();
         return r;
     },
     L"CVORKDirectShowGrabber::SnapToAddBuffer: Stop any continous snap before doing single snaps!", 22, 2, 22, 0},
    {"snap", "graph not connected (async add): connects",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         g.DisconnectGraph();
         const long r = static_cast<long>(g.SnapAsyncToAddBuffer());
         g.Stop();
         return r;
     },
     L"CVORKDirectShowGrabber::SnapAsyncToAddBuffer: Graph not connected, now connecting! Grabber: F", -1, 2, 0, 0},
    {"snap", "connecting fails (async add)",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         g.DisconnectGraph();
         vorksim::SetCallFault("IGraphBuilder::Connect", VFW_E_CANNOT_CONNECT);
         return static_cast<long>(g.SnapAsyncToAddBuffer());
     },
     L"CVORKDirectShowGrabber::SnapToAddBuffer: Graph not connected!", 2, 2, 2, 0},
    {"snap", "grabber not initialised (async ring)",
     [](FaultTable& t) { return static_cast<long>(t.Board().SnapAsyncToRing()); },
     L"CVORKDirectShowGrabber::SnapAsyncToRing: No valid grabber object!", 2, 2, 2, 0},
    {"snap", "graph not connected (async ring): connects",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         g.DisconnectGraph();
         const long r = static_cast<long>(g.SnapAsyncToRing());
         g.StopSnap();
         return r;
     },
     L"CVORKDirectShowGrabber::SnapAsyncToRing: Graph not connected, now connecting! Grabber: F", -1, 2, 0, 0},
    {"snap", "connecting fails (async ring)",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         g.DisconnectGraph();
         vorksim::SetCallFault("IGraphBuilder::Connect", VFW_E_CANNOT_CONNECT);
         return static_cast<long>(g.SnapAsyncToRing());
     },
     L"CVORKDirectShowGrabber::SnapAsyncToRing: Graph not connected!", 2, 2, 2, 0},
    {"snap", "repeat after a size mismatch",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         g.m_lImgBufSize -= 1;  // the buffers now expect one byte less than a frame
         const long r = Ptr(g.SnapToAddBuffer(2000));
         g.m_lImgBufSize += 1;
         return r + (g.m_bRepeatSnap ? 10 : 0);
     },
     L"CVORKDirectShowGrabber::SnapToAddBuffer: Repeating snap due to unexpected buffer size!", -1, 2, 0, 0},
    {"snap", "wait: grabber not initialised",
     [](FaultTable& t) { return Ptr(t.Board().WaitForSnap(false, 10)); },
     L"CVORKDirectShowGrabber::WaitForSnap: No valid grabber object!", 2, 2, 0, 0},
    {"snap", "wait: graph not connected",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         g.DisconnectGraph();
         return Ptr(g.WaitForSnap(false, 10));
     },
     L"CVORKDirectShowGrabber::WaitForSnap: Graph not connected!", 2, 2, 0, 0},
    {"snap", "wait: no ring",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         CVORKGrabberBuffersRing* ring = g.m_pGB;
         g.m_pGB = nullptr;
         const long r = Ptr(g.WaitForSnap(false, 10));
         g.m_pGB = ring;
         return r;
     },
     L"CVORKDirectShowGrabber::WaitForSnap: No valid CVORKGrabberBuffersRing object!", -1, 2, 0, 0},
    {"snap", "wait: abort event",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         t.Faults([](vorksim::CameraFaults& f) { f.startStuck = true; });
         g.SnapAsyncToRing();
         g.StopGrabThread(false);
         const long r = Ptr(g.WaitForSnap(true, 5000));
         g.StopSnap();
         return r;
     },
     L"CVORKDirectShowGrabber::WaitForSnap: Abort event received, returning NULL", -1, 2, 0, 0},
    {"snap", "wait: frame event timed out",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         t.Faults([](vorksim::CameraFaults& f) { f.startStuck = true; });
         g.SnapAsyncToRing();
         return Ptr(g.WaitForSnap(true, 20));
     },
     L"CVORKDirectShowGrabber::WaitForSnap: Timeout or error waiting for g_CB.m_hNewFrameEvent (ret=258), Grabber F",
     -1, 2, 0, 0},
    {"snap", "wait: no event handle",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         g.SnapAsyncToAddBuffer();
         vorksim::SetCallFault("IMediaEventEx::GetEventHandle", E_FAIL, 1);
         return Ptr(g.WaitForSnap(false, 1000));
     },
     L"CVORKDirectShowGrabber::WaitForSnap: GetEventHandle failed", 0, 2, 0, 0},
    {"snap", "wait: acquisition error event",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         t.Faults([](vorksim::CameraFaults& f) { f.startStuck = true; });
         g.SnapAsyncToAddBuffer();
         vorksim::AbortStream(t.camera, E_FAIL);
         return Ptr(g.WaitForSnap(false, 5000));
     },
     L"CVORKDirectShowGrabber::WaitForSnap: Acquisition error! Event code: 0x03\n Params: -2147467259, 0 grabber F\n", 0,
     2, 0, 0},
    {"snap", "wait: event path timed out",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         t.Faults([](vorksim::CameraFaults& f) { f.startStuck = true; });
         g.SnapAsyncToAddBuffer();
         return Ptr(g.WaitForSnap(false, 20));
     },
     L"CVORKDirectShowGrabber::WaitForSnap: Timeout, Grabber F", -1, 2, 0, 0},
    {"snap", "wait: delivered size differs",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         g.m_lImgBufSize += 3;
         g.SnapAsyncToAddBuffer();
         const long r = Ptr(g.WaitForSnap(false, 2000)) + (g.m_bRepeatSnap ? 10 : 0);
         g.m_lImgBufSize -= 3;
         return r;
     },
     L"CVORKDirectShowGrabber::WaitForSnap: Warning: received buffers size 921600 does not equal expected buffer size "
     L"921603! Grabber F",
     -1, 2, 10, 0},
    {"snap", "wait: any null result",
     [](FaultTable& t) {
         TestGrabber& g = t.Initialized();
         g.m_lImgBufSize += 3;
         g.SnapAsyncToAddBuffer();
         const long r = Ptr(g.WaitForSnap(false, 2000));
         g.m_lImgBufSize -= 3;
         return r;
     },
     L"DirectShow Snap error grabber F", 0, 2, 0, 0},
    // ---- Buffer sizing --------------------------------------------------------------------
    {"buffers", "no sample grabber",
     [](FaultTable& t) {
         t.Bare().UpdateImgBufferSizes(0);
         return 0L;
     },
     L"CVORKDirectShowGrabber::UpdateImgBufferSizes: No valid grabber object!", 2, 2, 0, 0},
    {"buffers", "no ring",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         CVORKGrabberBuffersRing* ring = g.m_pGB;
         g.m_pGB = nullptr;
         g.UpdateImgBufferSizes(0);
         g.m_pGB = ring;
         return static_cast<long>(g.m_lOldBufSize);
     },
     L"CVORKDirectShowGrabber::UpdateImgBufferSizes: No valid CVORKGrabberBuffersRing object!", -1, 2, -1, 0},
    {"buffers", "graph not connected: connects",
     [](FaultTable& t) {
         TestGrabber& g = t.Board();
         g.UpdateImgBufferSizes(0);
         return static_cast<long>(g.m_lOldBufSize);
     },
     L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Graph not connected, now connecting! Grabber: F", -1, 2, 921600, 0},
    {"buffers", "no event handle",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         vorksim::SetCallFault("IMediaEventEx::GetEventHandle", E_FAIL, 1);
         g.UpdateImgBufferSizes(0);
         return static_cast<long>(g.m_lOldBufSize) * 10 + (g.IsGraphStopped() ? 1 : 0);
     },
     L"CVORKDirectShowGrabber::UpdateImgBufferSizes: GetEventHandle failed!", 0, 2, -9, 0},
    {"buffers", "error event during the test frame: still measured",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         vorksim::SetCallHook("IMediaEventEx::GetEventHandle", [&t] { vorksim::AbortStream(t.camera, E_FAIL); });
         auto measured = std::make_shared<long>(0);
         vorksim::SetCallHook("ISampleGrabber::GetCurrentBuffer", [measured] { ++*measured; });
         g.UpdateImgBufferSizes(0);
         return *measured;
     },
     L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Acquisition error! Event code: 0x03\n Params: -2147467259, 0\n", 0,
     2, 1, 0},
    {"buffers", "size cannot be read",
     [](FaultTable& t) {
         TestGrabber& g = t.Connected();
         vorksim::SetCallFault("ISampleGrabber::GetCurrentBuffer", E_FAIL, 1);
         g.UpdateImgBufferSizes(0);
         return static_cast<long>(g.m_lOldBufSize) * 10 + (g.IsGraphStopped() ? 1 : 0);
     },
     L"CVORKDirectShowGrabber::UpdateImgBufferSizes: GetCurrentBuffer failed!", 0, 2, -9, 0},
};

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name = std::string(info.param.table) + "_" + std::to_string(info.index);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(FailureTables, FaultTable, ::testing::ValuesIn(Rows), RowName);

}  // namespace
