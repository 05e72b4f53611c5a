// Opening and closing the board, and connecting the capture graph.
#include "TestSupport.h"

#include "vorksim/com.h"

namespace {

using vorktest::BoardTest;

class GraphBuildTest : public BoardTest {};

TEST_F(GraphBuildTest, InitBoardBuildsTheGraphAndItsHiddenWindowAndCloseBoardReleasesThem) {
    AddCamera(L"Cam");
    TestGrabber g(L"Grabber1");
    ASSERT_TRUE(g.InitBoard());
    EXPECT_EQ(g_Grabbers, std::vector<CVORKDirectShowGrabber*>{&g});
    ASSERT_NE(g.m_hMediaEventWnd, nullptr);
    wchar_t title[256];
    GetWindowTextW(g.m_hMediaEventWnd, title, 256);
    EXPECT_STREQ(title, L"DummyMediaEventWindow_Grabber1");
    EXPECT_EQ(GetWindowLongPtrW(g.m_hMediaEventWnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&g));
    ASSERT_NE(g.m_pVideoWindow, nullptr);
    OAHWND owner = 0;
    LONG style = 0, visible = 0;
    g.m_pVideoWindow->get_Owner(&owner);
    g.m_pVideoWindow->get_WindowStyle(&style);
    g.m_pVideoWindow->get_Visible(&visible);
    EXPECT_EQ(owner, reinterpret_cast<OAHWND>(g.m_hMediaEventWnd));
    EXPECT_EQ(style, WS_CHILD);
    EXPECT_EQ(visible, OATRUE);
    for (IUnknown* p : {static_cast<IUnknown*>(g.m_pDevEnum.p), static_cast<IUnknown*>(g.m_pSampleGrabber.p),
                        static_cast<IUnknown*>(g.m_pGrabberFilter.p), static_cast<IUnknown*>(g.m_pCapSource.p),
                        static_cast<IUnknown*>(g.m_pGraph.p), static_cast<IUnknown*>(g.m_pNullRenderer.p),
                        static_cast<IUnknown*>(g.m_pMediaEvent.p), static_cast<IUnknown*>(g.m_pMediaControl.p),
                        static_cast<IUnknown*>(g.m_pProcAmp.p), static_cast<IUnknown*>(g.m_pCamCtrl.p)})
        EXPECT_NE(p, nullptr);
    EXPECT_TRUE(IsEqualGUID(g.m_pMediaType->majortype, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(g.m_pMediaType->subtype, GUID_NULL));
    EXPECT_FALSE(g.IsConnected());
    CComPtr<IBaseFilter> named;
    EXPECT_EQ(g.m_pGraph->FindFilterByName(L"NullRender", &named), S_OK);
    EXPECT_EQ(named.p, g.m_pNullRenderer.p);
    named.Release();
    EXPECT_TRUE(log.Lines().empty());
    g.CloseBoard();
    vorksim::RemoveAllCameras();  // a camera keeps its own source filter
    EXPECT_EQ(vorksim::LiveObjectCount(), liveObjects) << "the destructor must not be what releases them";
    EXPECT_EQ(g.m_hMediaEventWnd, nullptr);
    EXPECT_EQ(g.m_pVideoWindow, nullptr);
    EXPECT_EQ(g.m_pGraph.p, nullptr);
    EXPECT_EQ(g.GetDeviceNumber(), -1);
    EXPECT_EQ(g.m_ActCamInfo.nDeviceNumber, 0);
    EXPECT_STREQ(g.m_ActCamInfo.szFriendlyName, L"Cam");  // survives the close
}

TEST_F(GraphBuildTest, EachInitBoardAppendsAndEachCloseBoardRemovesOneEntry) {
    AddCamera(L"Cam");
    TestGrabber a(L"A");
    TestGrabber b(L"B");
    a.CloseBoard();  // not open: nothing to remove
    EXPECT_TRUE(g_Grabbers.empty());
    ASSERT_TRUE(a.InitBoard());
    ASSERT_TRUE(b.InitBoard());
    ASSERT_TRUE(a.InitBoard());
    EXPECT_EQ(g_Grabbers, (std::vector<CVORKDirectShowGrabber*>{&a, &b, &a}));
    a.CloseBoard();
    EXPECT_EQ(g_Grabbers, (std::vector<CVORKDirectShowGrabber*>{&b, &a}));
    a.CloseBoard();
    b.CloseBoard();
    EXPECT_TRUE(g_Grabbers.empty());
}

TEST_F(GraphBuildTest, AGrabberDestroyedWithItsBoardOpenTwiceLeavesNoDanglingPointer) {
    AddCamera(L"Cam");
    HWND window = nullptr;
    {
        TestGrabber g;
        ASSERT_TRUE(g.InitBoard());
        ASSERT_TRUE(g.InitBoard());
        EXPECT_EQ(g_Grabbers.size(), 2u);
        window = g.m_hMediaEventWnd;
        vorksim::AbortStream(vorksim::Cameras()[0], E_FAIL);
    }
    EXPECT_TRUE(g_Grabbers.empty());
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), 0);
    vorktest::PumpPending();  // the queued media event meets no grabber
    EXPECT_EQ(events.Codes(), std::vector<int>{10});  // only the fallback's, from InitBoard
    EXPECT_TRUE(AreAllGraphsStopped());                // the walk meets no destroyed grabber
    DestroyWindow(window);  // a destructor leaves the window to its owner thread
}

TEST_F(GraphBuildTest, DisconnectGraphStopsARunningGraphFirstAndGetPinCountsOneDirection) {
    AddCamera(L"Cam");
    TestGrabber g;
    ASSERT_TRUE(g.InitBoard());
    ASSERT_EQ(g.ConnectGraph(), 0);
    ASSERT_EQ(g.Run(), 0);
    g.DisconnectGraph();
    EXPECT_TRUE(g.IsGraphStopped());
    EXPECT_FALSE(g.IsConnected());
    OAFilterState state = State_Running;
    g.m_pMediaControl->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(g.UpdateCallbackInfo(), 16);
    EXPECT_TRUE(HasLine(L"DirectShow error: The operation cannot be performed because the pins are not connected.", 0));
    // GetPin counts the pins of one direction only.
    CComPtr<IPin> pin;
    EXPECT_EQ(g.GetPin(g.m_pGrabberFilter, PINDIR_OUTPUT, 0, &pin), S_OK);
    PIN_DIRECTION d = PINDIR_INPUT;
    pin->QueryDirection(&d);
    EXPECT_EQ(d, PINDIR_OUTPUT);
    EXPECT_EQ(g.GetPin(g.m_pGrabberFilter, PINDIR_OUTPUT, 1, &pin), E_FAIL);
    EXPECT_EQ(pin.p, nullptr);
    EXPECT_EQ(g.GetOutPin(g.m_pNullRenderer, 0), nullptr);
    EXPECT_NE(g.GetInPin(g.m_pNullRenderer, 0), nullptr);
    EXPECT_EQ(g.GetInPin(nullptr, 0), nullptr);
    g.CloseBoard();
}

}  // namespace
