// Running and stopping graphs, the module-wide walks, error texts and media events.
#include "TestSupport.h"

namespace {

using vorktest::BoardTest;

class RunControlTest : public BoardTest {
protected:
    // A grabber whose board is open on a camera and whose graph is connected.
    TestGrabber* Connected(const wchar_t* name, vorksim::CameraId* camera = nullptr) {
        std::wstring cameraName = std::wstring(name) + L" camera";
        vorksim::CameraId id = AddCamera(cameraName.c_str());
        if (camera) *camera = id;
        WritePrivateProfileStringW(name, L"FriendlyNamePart", cameraName.c_str(), ini.c_str());
        TestGrabber* g = &Keep(std::make_unique<TestGrabber>(name));
        EXPECT_TRUE(g->InitBoard());
        EXPECT_EQ(g->ConnectGraph(), 0);
        return g;
    }
};

TEST_F(RunControlTest, TheWalksSeeEveryOpenBoard) {
    EXPECT_TRUE(AreAllGraphsStopped());
    EXPECT_FALSE(IsAnyContSnapRunning());
    EXPECT_EQ(StopAllGraphs(), S_OK);

    auto a = Connected(L"A");
    auto b = Connected(L"B");
    EXPECT_TRUE(AreAllGraphsStopped());
    ASSERT_EQ(b->Run(), 0);
    EXPECT_FALSE(AreAllGraphsStopped());
    b->SetContSnapRunning(true);
    EXPECT_TRUE(IsAnyContSnapRunning());
    EXPECT_EQ(StopAllGraphs(), S_OK);
    EXPECT_TRUE(AreAllGraphsStopped());
    EXPECT_FALSE(IsAnyContSnapRunning());
    OAFilterState state = State_Running;
    b->m_pMediaControl->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);

    a->SetGraphState(VORKDSGraphStarting);
    EXPECT_FALSE(AreAllGraphsStopped());
    a->SetGraphState(VORKDSGraphStopped);
}

TEST_F(RunControlTest, StopAllGraphsPassesABoardThatOpenedOnlyPartWay) {
    vorksim::CameraId cam;
    TestGrabber* running = Connected(L"Runs", &cam);
    vorksim::CameraFaults faults;
    faults.bindFails = true;
    vorksim::SetFaults(cam, faults);  // the next board can bind no device
    TestGrabber broken(L"Broken");
    EXPECT_FALSE(broken.InitBoard());
    EXPECT_EQ(broken.m_pMediaControl.p, nullptr);
    ASSERT_EQ(running->Run(), 0);
    broken.SetGraphState(VORKDSGraphStarting);
    StopAllGraphs();
    EXPECT_TRUE(broken.IsGraphStopped());
    EXPECT_TRUE(running->IsGraphStopped());
    EXPECT_TRUE(AreAllGraphsStopped());
    broken.CloseBoard();
}

TEST_F(RunControlTest, ShowErrorLogsFailuresWithTheirText) {
    TestGrabber g;
    EXPECT_FALSE(g.ShowError(S_OK));
    EXPECT_FALSE(g.ShowError(S_FALSE));
    EXPECT_FALSE(g.ShowError(VFW_S_CANT_CUE));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_TRUE(g.ShowError(VFW_E_NOT_CONNECTED));
    EXPECT_TRUE(g.ShowError(static_cast<HRESULT>(0x80041234)));
    EXPECT_EQ(log.Lines(),
              (std::vector<vorktest::LogLine>{
                  {L"DirectShow error: The operation cannot be performed because the pins are not connected.", 0, 2},
                  {L"DirectShow error: CVORKDirectShowGrabber: Unknown Error: 0x80041234", 0, 2}}));
}

// ---- Media events ----

void Raise(IGraphBuilder* graph, LONG code, LONG_PTR param1, LONG_PTR param2) {
    CComPtr<IMediaEventSink> sink;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)), S_OK);
    sink->Notify(code, param1, param2);
}

TEST_F(RunControlTest, OtherDevicesArrivalsAndWindowsWithoutAGrabberAreIgnored) {
    vorksim::CameraId cam;
    auto a = Connected(L"A", &cam);
    auto b = Connected(L"B");
    vorksim::AnnounceCameraArrival(cam);  // parameter 2 = 1
    Raise(a->m_pGraph, EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(b->m_pCapSource.p), 0);
    ASSERT_TRUE(vorktest::PumpUntil([&] {
        OAEVENT h = 0;
        a->m_pMediaEvent->GetEventHandle(&h);
        return WaitForSingleObject(reinterpret_cast<HANDLE>(h), 0) == WAIT_TIMEOUT;
    }));
    EXPECT_TRUE(events.Events().empty());
    EXPECT_FALSE(a->IsAborting());

    // A media event at a window without a grabber takes the default path.
    TestGrabber* g = a;
    HWND window = g->m_hMediaEventWnd;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    vorksim::AbortStream(cam, E_FAIL);
    vorktest::PumpPending();
    EXPECT_EQ(CVORKDirectShowGrabber::VideoWndProcedureGlobal(window, WM_MEDIAEVENT, 0, 0), 0);
    EXPECT_TRUE(events.Events().empty());
    LONG code = 0;
    LONG_PTR p1, p2;
    EXPECT_EQ(g->m_pMediaEvent->GetEvent(&code, &p1, &p2, 0), S_OK);  // still queued
    EXPECT_EQ(code, EC_ERRORABORT);
    g->m_pMediaEvent->FreeEventParams(code, p1, p2);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(g));
}

}  // namespace
