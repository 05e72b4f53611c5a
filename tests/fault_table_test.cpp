// The failure tables of device selection, the camera list, graph construction,
// run control, snaps and buffer sizing, walked row by row: each row injects its
// fault into the simulated platform and checks the log line (text, code, level
// 2), the result, the error event the row names, and what its `after` says of
// the state left behind. Rows that no fault of the platform can reach are made
// by clearing the member that a board opened part way would lack. Every row
// must leave no simulated COM object alive once its boards are closed, while
// the grabbers still exist: a destructor must not hide a missed release.
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

// The grabber a row starts from: none (the row makes its own), one not yet
// opened, its board open, its graph connected, initialised as InitDll makes
// it, or initialised on a camera that starts and then never delivers a frame.
enum class From { None, Bare, Board, Connected, Initialized, Silent };

struct Row {
    const char* table;  // the operation's area
    const char* situation;
    From from;
    std::function<long(FaultTable&, TestGrabber*)> act;  // injects the fault and runs the operation: its result
    std::wstring line;                                    // empty: the row names no line
    int code;
    long result;
    int event;  // 0: none
    std::function<void(FaultTable&, TestGrabber&)> after = nullptr;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.table << ": " << row.situation; }

class FaultTable : public BoardTest, public ::testing::WithParamInterface<Row> {
public:
    using BoardTest::AddCamera, BoardTest::events, BoardTest::HasLine, BoardTest::Ini, BoardTest::log,
        BoardTest::WriteIni;
    vorksim::CameraId camera = 0;

    TestGrabber& Bare() { return Keep(std::make_unique<TestGrabber>(L"F")); }
    TestGrabber& Board() {
        AddIfNone();
        TestGrabber& g = Keep(std::make_unique<TestGrabber>(L"F"));
        EXPECT_TRUE(g.InitBoard());
        events.Clear();  // the fallback to the only camera
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
    TestGrabber* Make(From from) {
        switch (from) {
            case From::None: return nullptr;
            case From::Bare: return &Bare();
            case From::Board: return &Board();
            case From::Connected: return &Connected();
            case From::Initialized: return &Initialized();
            case From::Silent: break;
        }
        TestGrabber& g = Initialized();
        Faults([](vorksim::CameraFaults& f) { f.startStuck = true; });
        return &g;
    }
    void AddIfNone() { if (!camera) camera = AddCamera(L"Fault Cam", L"fault-path"); }
    void AddWith(const std::function<void(vorksim::CameraDescription&)>& change) {
        vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
        change(d);
        camera = vorksim::AddCamera(d);
    }
    void Faults(const std::function<void(vorksim::CameraFaults&)>& set) {
        vorksim::CameraFaults f;
        set(f);
        vorksim::SetFaults(camera, f);
    }
};

TEST_P(FaultTable, Row) {
    const Row& row = GetParam();
    TestGrabber* g = Make(row.from);
    log.Clear();
    const long result = row.act(*this, g);
    EXPECT_EQ(result, row.result);
    if (!row.line.empty()) {
        EXPECT_TRUE(HasLine(row.line, row.code)) << vork::Utf8(row.line);
    }
    if (row.event) {
        const auto codes = events.Codes();
        EXPECT_NE(std::find(codes.begin(), codes.end(), row.event), codes.end()) << "event " << row.event;
    }
    if (row.after) row.after(*this, *kept.front());
}

// Opening a board while the platform cannot create one of its objects.
std::function<long(FaultTable&, TestGrabber*)> CreationFails(const CLSID& clsid, HRESULT hr) {
    return [&clsid, hr](FaultTable& t, TestGrabber*) -> long {
        t.AddIfNone();
        vorksim::SetCallFault(vorksim::CreationCall(clsid), hr);
        return t.Bare().InitBoard();
    };
}

// A snap on a grabber whose graph was disconnected; connecting again may fail.
std::function<long(FaultTable&, TestGrabber*)> Disconnected(int (CVORKDirectShowGrabber::*snap)(), bool fails) {
    return [snap, fails](FaultTable&, TestGrabber* g) -> long {
        g->DisconnectGraph();
        if (fails) vorksim::SetCallFault("IGraphBuilder::Connect", VFW_E_CANNOT_CONNECT);
        const long r = (g->*snap)();
        g->StopSnap();  // takes the last frame's signal, which the next row's wait must not find
        return r;
    };
}

using G = TestGrabber;
using T = FaultTable;

// The two searches for a capture source, each into a pointer of its own.
long Find(G& g) {
    CComPtr<IBaseFilter> f;
    return VORKDSGrabberTestPeer::FindCapSource(g, &f);
}
long FindDefault(G& g) {
    CComPtr<IBaseFilter> f;
    wchar_t name[256];
    return VORKDSGrabberTestPeer::GetDefaultCapSource(g, &f, name);
}

// Runs an operation while the grabber has no ring, as a board opened part way.
template <typename F>
void WithoutRing(G& g, F operation) {
    CVORKGrabberBuffersRing* ring = g.m_pGB;
    g.m_pGB = nullptr;
    operation();
    g.m_pGB = ring;
}

Row Rows[] = {
    // ---- Device enumeration and selection --------------------------------------
    {"selection", "null outputs", From::Board,
     [](T&, G* g) -> long { return VORKDSGrabberTestPeer::FindCapSource(*g, nullptr); }, L"", 0, 1, 0,
     [](T& t, G& g) {
         wchar_t name[256];
         EXPECT_EQ(VORKDSGrabberTestPeer::GetDefaultCapSource(g, nullptr, name), 1);
         EXPECT_TRUE(t.HasLine(L"CVORKDirectShowGrabber::GetDefaultCapSource: Invalid parameter!", 1));
     }},
    {"selection", "no device enumerator: neither search nor first device nor camera list", From::Bare,
     [](T&, G* g) { return Find(*g); }, L"CVORKDirectShowGrabber::FindCapSource: Device enumerator not initialized!", 2,
     2, 0,
     [](T& t, G& g) {
         EXPECT_EQ(FindDefault(g), 2);
         EXPECT_TRUE(t.HasLine(L"CVORKDirectShowGrabber::GetDefaultCapSource: Device enumerator not initialized!", 2));
         int count = 7;
         EXPECT_EQ(g.GetCamInfos(count), nullptr);
         EXPECT_EQ(count, 7);
         EXPECT_TRUE(t.HasLine(L"CVORKDirectShowGrabber::GetCamInfos: Device enumerator not initialized!", 2));
     }},
    {"selection", "no camera at all: events 10 and 9, a board open part way", From::None,
     [](T& t, G*) -> long { t.WriteIni("[F]\nFriendlyNamePart=Cam\nDevicePath=p\n"); return t.Bare().InitBoard(); },
     L"CVORKDirectShowGrabber::FindCapSource: Moniker enumerator could not be created!", 2, 0, 9,
     [](T& t, G& g) {
         const auto e = t.events.Events();
         ASSERT_EQ(e.size(), 2u);
         EXPECT_EQ(e[0].code, 10);
         EXPECT_EQ(e[1].text, L"CVORKDirectShowGrabber::InitBoard:\r\nCould not find camera\r\nMaybe configured "
                              L"friendly name part (Cam)\r\nor device path (p)\r\nis unsuitable\r\nWrong USB port?");
         EXPECT_TRUE(
             t.HasLine(L"CVORKDirectShowGrabber::GetDefaultCapSource: Moniker enumerator could not be created!", 2));
         EXPECT_NE(g.m_hMediaEventWnd, nullptr);
         EXPECT_NE(g.m_pSampleGrabber.p, nullptr);
         EXPECT_EQ(g.m_pCapSource.p, nullptr);
         EXPECT_EQ(g.GetDeviceNumber(), -1);
         VORKCamInfo info;
         info.nDeviceNumber = 9;
         g.GetActCamInfo(info);
         EXPECT_EQ(info.nDeviceNumber, 0);
         EXPECT_STREQ(info.szFriendlyName, L"");
         EXPECT_EQ(t.Ini(L"F", L"FriendlyNamePart"), L"Cam");  // written only after a fallback
         int count = 7;
         EXPECT_EQ(g.GetCamInfos(count), nullptr);
         EXPECT_EQ(count, 7);
         EXPECT_TRUE(t.HasLine(L"CVORKDirectShowGrabber::GetCamInfos: Moniker enumerator could not be created!", 2));
         EXPECT_EQ(g.ConnectGraph(), 16);  // nothing to connect
         g.CloseBoard();
         EXPECT_EQ(g.m_hMediaEventWnd, nullptr);
         EXPECT_EQ(g.m_pDevEnum.p, nullptr);
     }},
    {"selection", "fetch fails with a negative HRESULT (search)", From::Board,
     [](T&, G* g) -> long { vorksim::SetCallFault("IEnumMoniker::Next", E_UNEXPECTED); return Find(*g); },
     L"DirectShow error: Catastrophic failure", 0, 9, 0},
    {"selection", "bind fails (first device)", From::Board,
     [](T& t, G* g) -> long { t.Faults([](vorksim::CameraFaults& f) { f.bindFails = true; }); return FindDefault(*g); },
     L"", 0, 4, 0},
    {"selection", "property bag not available", From::Board,
     [](T& t, G* g) -> long {
         t.Faults([](vorksim::CameraFaults& f) { f.propertyBagFails = true; });
         CComPtr<IEnumMoniker> monikers;
         g->m_pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
         CComPtr<IMoniker> moniker;
         if (!monikers || monikers->Next(1, &moniker, nullptr) != S_OK) return -1;
         wchar_t name[256];
         return g->GetFriendlyName(moniker, name);
     }, L"DirectShow error: Unspecified error", 0, 4, 0},
    // ---- The camera list ---------------------------------------------------------------
    {"camera list", "fetching a moniker fails: the list so far", From::Board,
     [](T& t, G* g) -> long {
         t.AddCamera(L"Second", L"second");
         // The first device is fetched, the second fetch fails.
         vorksim::SetCallHook("IEnumMoniker::Next", [calls = std::make_shared<int>(0)] {
             if (++*calls == 2) vorksim::SetCallFault("IEnumMoniker::Next", E_FAIL, 1);
         });
         int count = 0;
         std::unique_ptr<VORKCamInfo[]> list(g->GetCamInfos(count));
         return list ? count : -1;
     }, L"DirectShow error: Unspecified error", 0, 1, 0},
    // ---- Graph construction ------------------------------------------------------------
    {"graph", "device enumerator cannot be created", From::None,
     CreationFails(CLSID_SystemDeviceEnum, REGDB_E_CLASSNOTREG),
     L"CVORKDirectShowGrabber::InitBoard: Could not initialize device enumerator!", 2, 0, 0},
    {"graph", "sample grabber cannot be created", From::None, CreationFails(CLSID_SampleGrabber, REGDB_E_CLASSNOTREG),
     L"CVORKDirectShowGrabber::InitBoard: Could not initialize sample grabber!", 2, 0, 0},
    {"graph", "filter graph cannot be created", From::None, CreationFails(CLSID_FilterGraph, E_OUTOFMEMORY),
     L"CVORKDirectShowGrabber::InitBoard: Could not create filter graph!", 2, 0, 0},
    {"graph", "null renderer cannot be created", From::None, CreationFails(CLSID_NullRenderer, E_OUTOFMEMORY),
     L"CVORKDirectShowGrabber::InitBoard: Could not create NULL renderer!", 2, 0, 0},
    {"graph", "no IAMVideoProcAmp and no IAMCameraControl: two notes", From::None,
     [](T& t, G*) -> long {
         t.AddWith([](vorksim::CameraDescription& d) { d.hasProcAmp = d.hasCameraControl = false; });
         TestGrabber& g = t.Board();
         return Ptr(g.m_pProcAmp.p) + Ptr(g.m_pCamCtrl.p);
     }, L"", 0, 0, 0,
     [](T& t, G&) {
         EXPECT_EQ(t.log.Lines(),
                   (std::vector<vorktest::LogLine>{
                       {L"Video device does not support video quality settings. No WDM capture device?", 0, 2},
                       {L"Video device does not support camera control interface!", 0, 2}}));
     }},
    {"graph", "connect while running: stops, disconnects and connects again", From::Connected,
     [](T&, G* g) -> long { g->Run(); return g->ConnectGraph(); },
     L"CVORKDirectShowGrabber::ConnectGraph: Warning, graph is connected and will be disconnected before reconnecting!",
     0, 0, 0,
     [](T&, G& g) {
         EXPECT_TRUE(g.IsGraphStopped());
         EXPECT_TRUE(g.IsConnected());
         AM_MEDIA_TYPE connected{};
         ASSERT_EQ(g.m_pSampleGrabber->GetConnectedMediaType(&connected), S_OK);
         EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_RGB24));  // whatever the source offers first
         CoTaskMemFree(connected.pbFormat);
     }},
    {"graph", "connect without sample grabber", From::Bare, [](T&, G* g) -> long { return g->ConnectGraph(); },
     L"CVORKDirectShowGrabber::ConnectGraph: No valid grabber object!", 2, 16, 0},
    {"graph", "a connection the camera cannot make", From::Board,
     [](T&, G* g) -> long {
         g->m_pMediaType->subtype = MEDIASUBTYPE_RGB8;  // neither the camera nor any filter makes it
         return g->ConnectGraph();
     }, L"DirectShow error: No combination of intermediate filters could be found to make the connection.", 0, 16, 0,
     [](T&, G& g) { EXPECT_FALSE(g.IsConnected()); }},
    // ---- Run control and media events ------------------------------------------------
    {"run", "Run without sample grabber", From::Bare, [](T&, G* g) -> long { return g->Run(); },
     L"CVORKDirectShowGrabber::Run: Grabber not initialized!", 2, 2, 0},
    {"run", "Run with pins not connected", From::Board, [](T&, G* g) -> long { return g->Run(); },
     L"CVORKDirectShowGrabber::Run: Graph not connected!", 2, 2, 0},
    {"run", "Run and Stop without media control (a board opened part way)", From::Connected,
     [](T&, G* g) -> long { g->m_pMediaControl.Release(); return g->Run(); },
     L"CVORKDirectShowGrabber::Run: No valid grabber control object!", 2, 2, 0,
     [](T& t, G& g) {
         g.SetGraphState(VORKDSGraphRunning);
         g.Stop();
         EXPECT_TRUE(t.HasLine(L"CVORKDirectShowGrabber::Stop : No valid grabber control object!", 2));
         EXPECT_TRUE(g.IsGraphRunning());
     }},
    {"run", "Run already running: quietly, the recorded state stays", From::Connected,
     [](T&, G* g) -> long {
         g->Run();
         g->SetGraphState(VORKDSGraphStarting);
         return g->Run();
     }, L"", 0, 22, 0,
     [](T& t, G& g) { EXPECT_EQ(g.GetGraphState(), VORKDSGraphStarting); EXPECT_TRUE(t.log.Lines().empty()); }},
    {"run", "Run fails", From::Connected,
     [](T& t, G* g) -> long { t.Faults([](vorksim::CameraFaults& f) { f.runResult = E_FAIL; }); return g->Run(); },
     L"CVORKDirectShowGrabber::Run(): Error switching to Run state", 0, 17, 0,
     [](T& t, G& g) {
         EXPECT_TRUE(g.IsGraphStopped());
         EXPECT_TRUE(t.HasLine(L"DirectShow error: Unspecified error", 0));
     }},
    {"run", "Run of a camera another program holds says why", From::None,
     [](T& t, G*) -> long {
         t.AddWith([](vorksim::CameraDescription& d) { d.busy = true; });
         return t.Connected().Run();
     }, L"DirectShow error: A device attached to the system is not functioning.", 0, 17, 0},
    {"run", "a start that ends stopped fails", From::Connected,
     [](T& t, G* g) -> long { t.Faults([](vorksim::CameraFaults& f) { f.startFallsBack = true; }); return g->Run(); },
     L"CVORKDirectShowGrabber::Run(): Error switching to Run state", 0, 17, 0,
     [](T&, G& g) { EXPECT_TRUE(g.IsGraphStopped()); }},
    {"run", "a start still in transition after all polls counts as running", From::Connected,
     [](T& t, G* g) -> long { t.Faults([](vorksim::CameraFaults& f) { f.startStuck = true; }); return g->Run(); },
     L"", 0, 0, 0,
     [](T& t, G& g) { EXPECT_TRUE(g.IsGraphRunning()); EXPECT_TRUE(t.log.Lines().empty()); }},
    {"run", "Stop clears continuous acquisition even when stopped", From::Connected,
     [](T&, G* g) -> long {
         g->SetContSnapRunning(true);
         g->Stop();
         return g->IsContSnapRunning();
     }, L"", 0, 0, 0, [](T& t, G&) { EXPECT_TRUE(t.log.Lines().empty()); }},
    {"run", "Stop without sample grabber keeps the state", From::Bare,
     [](T&, G* g) -> long {
         g->SetGraphState(VORKDSGraphRunning);
         g->SetContSnapRunning(true);
         g->Stop();
         return g->IsGraphRunning() + g->IsContSnapRunning();
     }, L"CVORKDirectShowGrabber::Stop : No valid grabber object!", 2, 2, 0},
    {"run", "Stop does not complete: a short poll, one wait of a second, then stopped", From::Connected,
     [](T& t, G* g) -> long {
         g->Run();
         g->SetContSnapRunning(true);
         t.Faults([](vorksim::CameraFaults& f) { f.stopStuck = true; });
         vorksim::ClearCallFaults();
         g->Stop();
         return g->IsGraphStopped() && !g->IsContSnapRunning();
     }, L"CVORKDirectShowGrabber::Stop(): Timeout waiting for acquisition to stop, return code: 262711!", 0, 1, 0,
     [](T& t, G&) {
         EXPECT_EQ(vorksim::CallArguments("IMediaControl::GetState"), (std::vector<long long>{10, 1000}));
         t.Faults([](vorksim::CameraFaults&) {});
     }},
    {"run", "stream aborted during continuous acquisition: handled when the window's thread pumps", From::Initialized,
     [](T& t, G* g) -> long {
         t.events.Clear();  // the fallback to the only camera
         if (g->SnapAsyncToRing() || !g->WaitForSnap(true, 5000) || !g->WaitForSnap(true, 5000)) return -1;
         if (g->GetLastImgNr() != 2) return -2;
         vorksim::AbortStream(t.camera, E_FAIL);
         vorksim::AbortStream(t.camera, E_FAIL);
         Sleep(0);
         if (!t.events.Events().empty()) return -3;  // nothing happens until this thread pumps
         return vorktest::PumpUntil([&] { return t.events.Events().size() >= 2; });
     }, L"", 0, 1, 3,
     [](T& t, G& g) {
         const auto e = t.events.Events();
         ASSERT_EQ(e.size(), 2u);
         for (const auto& event : e) {
             EXPECT_EQ(event.code, 3);
             EXPECT_EQ(event.text, L"CVORKDirectShowGrabber: Received event EC_ERRORABORT!");
             EXPECT_EQ(event.grabber, &g);
         }
         EXPECT_TRUE(g.IsGraphStopped());
         EXPECT_FALSE(g.IsContSnapRunning());
         EXPECT_EQ(g.GetLastImgNr(), 0);
     }},
    {"run", "own device removed: the grab thread is told to stop", From::Connected,
     [](T& t, G* g) -> long {
         g->Run();
         if (g->IsAborting()) return -1;
         vorksim::RemoveCamera(t.camera);
         const bool handled = vorktest::PumpUntil([&] { return !t.events.Codes().empty(); });
         return handled && g->IsAborting();
     }, L"", 0, 1, 31,
     [](T& t, G&) {
         ASSERT_EQ(t.events.Events().size(), 1u);
         EXPECT_EQ(t.events.Events()[0].text, L"CVORKDirectShowGrabber: Device is lost!");
     }},
    // ---- Snaps -----------------------------------------------------------------------------
    {"snap", "grabber not initialised: every snap refused", From::Bare,
     [](T&, G* g) -> long { return g->SnapAsyncToAddBuffer(); },
     L"CVORKDirectShowGrabber::SnapToAddBuffer: No valid grabber object!", 2, 2, 0,
     [](T& t, G& g) {
         EXPECT_EQ(g.SnapAsyncToRing(), 2);
         EXPECT_EQ(g.WaitForSnap(true, 10), nullptr);
         EXPECT_EQ(g.SnapToAddBuffer(10), nullptr);
         EXPECT_TRUE(t.HasLine(L"CVORKDirectShowGrabber::SnapAsyncToRing: No valid grabber object!", 2));
         EXPECT_TRUE(t.HasLine(L"CVORKDirectShowGrabber::WaitForSnap: No valid grabber object!", 2));
     }},
    {"snap", "not connected (async add): connects", From::Initialized, Disconnected(&G::SnapAsyncToAddBuffer, false),
     L"CVORKDirectShowGrabber::SnapAsyncToAddBuffer: Graph not connected, now connecting! Grabber: F", -1, 0, 0},
    {"snap", "connecting fails (async add)", From::Initialized, Disconnected(&G::SnapAsyncToAddBuffer, true),
     L"CVORKDirectShowGrabber::SnapToAddBuffer: Graph not connected!", 2, 2, 0},
    {"snap", "not connected (async ring): connects", From::Initialized, Disconnected(&G::SnapAsyncToRing, false),
     L"CVORKDirectShowGrabber::SnapAsyncToRing: Graph not connected, now connecting! Grabber: F", -1, 0, 0},
    {"snap", "connecting fails (async ring)", From::Initialized, Disconnected(&G::SnapAsyncToRing, true),
     L"CVORKDirectShowGrabber::SnapAsyncToRing: Graph not connected!", 2, 2, 0},
    {"snap", "wait: graph not connected", From::Initialized,
     [](T&, G* g) -> long { g->DisconnectGraph(); return Ptr(g->WaitForSnap(false, 10)); },
     L"CVORKDirectShowGrabber::WaitForSnap: Graph not connected!", 2, 0, 0},
    {"snap", "wait: no ring", From::Initialized,
     [](T&, G* g) -> long {
         long r = 0;
         WithoutRing(*g, [&] { r = Ptr(g->WaitForSnap(false, 10)); });
         return r;
     }, L"CVORKDirectShowGrabber::WaitForSnap: No valid CVORKGrabberBuffersRing object!", -1, 0, 0},
    {"snap", "wait: abort event ends a continuous wait, the graph left as it is", From::Silent,
     [](T&, G* g) -> long {
         g->SnapAsyncToRing();
         g->StopGrabThread(false);
         return Ptr(g->WaitForSnap(true, 5000));
     }, L"CVORKDirectShowGrabber::WaitForSnap: Abort event received, returning NULL", -1, 0, 0,
     [](T&, G& g) {
         EXPECT_TRUE(g.IsContSnapRunning());
         g.StopSnap();  // aborting: no last frame is waited for
         EXPECT_FALSE(g.IsContSnapRunning());
     }},
    {"snap", "wait: frame event timed out: stopped and connected again", From::Silent,
     [](T&, G* g) -> long { g->SnapAsyncToRing(); return Ptr(g->WaitForSnap(true, 20)); },
     L"CVORKDirectShowGrabber::WaitForSnap: Timeout or error waiting for g_CB.m_hNewFrameEvent (ret=258), Grabber F",
     -1, 0, 0,
     [](T&, G& g) {
         EXPECT_TRUE(g.IsConnected());
         EXPECT_TRUE(g.IsGraphStopped());
         EXPECT_FALSE(g.IsContSnapRunning());
     }},
    {"snap", "wait: no event handle", From::Initialized,
     [](T&, G* g) -> long {
         g->SnapAsyncToAddBuffer();
         vorksim::SetCallFault("IMediaEventEx::GetEventHandle", E_FAIL, 1);
         return Ptr(g->WaitForSnap(false, 1000));
     }, L"CVORKDirectShowGrabber::WaitForSnap: GetEventHandle failed", 0, 0, 0},
    {"snap", "wait: acquisition error event stops the graph", From::Silent,
     [](T& t, G* g) -> long {
         g->SnapAsyncToAddBuffer();
         vorksim::AbortStream(t.camera, E_FAIL);
         return Ptr(g->WaitForSnap(false, 5000));
     },
     L"CVORKDirectShowGrabber::WaitForSnap: Acquisition error! Event code: 0x03\n Params: -2147467259, 0 grabber F\n", 0,
     0, 0,
     [](T& t, G& g) {
         EXPECT_TRUE(t.HasLine(L"DirectShow error: Unspecified error", 0));
         EXPECT_TRUE(g.IsGraphStopped());
     }},
    {"snap", "wait: event path timed out stops the graph", From::Silent,
     [](T&, G* g) -> long { g->SnapAsyncToAddBuffer(); return Ptr(g->WaitForSnap(false, 20)); },
     L"CVORKDirectShowGrabber::WaitForSnap: Timeout, Grabber F", -1, 0, 0,
     [](T& t, G& g) {
         EXPECT_TRUE(t.HasLine(L"DirectShow Snap error grabber F", 0));  // no event came: GetEventHandle's status
         EXPECT_TRUE(g.IsGraphStopped());
     }},
    // ---- Buffer sizing --------------------------------------------------------------------
    {"buffers", "no sample grabber", From::Bare,
     [](T&, G* g) -> long { g->UpdateImgBufferSizes(0); return g->m_lOldBufSize; },
     L"CVORKDirectShowGrabber::UpdateImgBufferSizes: No valid grabber object!", 2, -1, 0},
    {"buffers", "no ring", From::Board,
     [](T&, G* g) -> long { WithoutRing(*g, [&] { g->UpdateImgBufferSizes(0); }); return g->m_lOldBufSize; },
     L"CVORKDirectShowGrabber::UpdateImgBufferSizes: No valid CVORKGrabberBuffersRing object!", -1, -1, 0},
    {"buffers", "no event handle", From::Connected,
     [](T&, G* g) -> long {
         vorksim::SetCallFault("IMediaEventEx::GetEventHandle", E_FAIL, 1);
         g->UpdateImgBufferSizes(0);
         return g->m_lOldBufSize * 10 + (g->IsGraphStopped() ? 1 : 0);
     }, L"CVORKDirectShowGrabber::UpdateImgBufferSizes: GetEventHandle failed!", 0, -9, 0},
    {"buffers", "error event during the test frame: still measured", From::Connected,
     [](T& t, G* g) -> long {
         vorksim::SetCallHook("IMediaEventEx::GetEventHandle", [&t] { vorksim::AbortStream(t.camera, E_FAIL); });
         auto measured = std::make_shared<long>(0);
         vorksim::SetCallHook("ISampleGrabber::GetCurrentBuffer", [measured] { ++*measured; });
         g->UpdateImgBufferSizes(0);
         return *measured;
     },
     L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Acquisition error! Event code: 0x03\n Params: -2147467259, 0\n", 0,
     1, 0},
};

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name = std::string(info.param.table) + "_" + std::to_string(info.index);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(FailureTables, FaultTable, ::testing::ValuesIn(Rows), RowName);

}  // namespace
