// Webcams as they are: YUY2 and MJPG only. The graph puts a colour space
// converter or an MJPEG decompressor (or both) between the camera and the sample
// grabber; format changes must not pile up filters. (Their pictures are checked
// through vorkgrab, in vorkgrab_test.)
#include "TestSupport.h"

#include <algorithm>

namespace {

using vorktest::BoardTest;

vorksim::CameraDescription Webcam(std::vector<vorksim::VideoFormat> formats) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.friendlyName = L"Webcam";
    d.devicePath = L"webcam";
    d.formats = std::move(formats);
    d.unthrottled = true;
    return d;
}

class RealisticCameraTest : public BoardTest {
protected:
    void TearDown() override {
        CloseAll();  // also after a failed assertion
        BoardTest::TearDown();
    }
    // Every board closed and every camera gone, for the next case of a table.
    void CloseAll() {
        for (auto& g : opened_) g->DeInitGrabber();
        opened_.clear();
        vorksim::ClearCallFaults();
        vorksim::RemoveAllCameras();
    }
    std::vector<std::unique_ptr<TestGrabber>> opened_;

    // A grabber opened as the framework opens one, with the channel's colour
    // mode and size, and without vertical mirroring: frames stay as delivered.
    TestGrabber* Open(int mode, LONG w, LONG h) {
        WriteIni("[G_Channel0]\nMirrorImgVerticalInPlace=0\nColorMode=" + std::to_string(mode) +
                 "\nGrabWidth=" + std::to_string(w) + "\nGrabHeight=" + std::to_string(h) + "\n");
        opened_.push_back(std::make_unique<TestGrabber>(L"G", true));
        TestGrabber* g = opened_.back().get();
        EXPECT_TRUE(g->IsInitialized());
        return g;
    }
    size_t FiltersInGraph(TestGrabber& g) {
        CComPtr<IEnumFilters> filters;
        g.m_pGraph->EnumFilters(&filters);
        size_t n = 0;
        for (CComPtr<IBaseFilter> f; filters && filters->Next(1, &f, nullptr) == S_OK;) ++n;
        return n;
    }
};

TEST_F(RealisticCameraTest, TwentyFormatChangesLeaveNoStaleFilter) {
    vorksim::AddCamera(Webcam({{640, 480, MEDIASUBTYPE_MJPG, 30}, {320, 240, MEDIASUBTYPE_MJPG, 30}}));
    auto g = Open(4, 640, 480);
    const VORKColorMode modes[] = {VORKColorModeRGB565, VORKColorModeRGB24, VORKColorModeRGB555, VORKColorModeRGB32};
    const GUID subtypes[] = {MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB555, MEDIASUBTYPE_RGB32};
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        const VORKColorMode mode = modes[i % 4];
        ASSERT_EQ(g->WriteColorMode(mode), 0);
        int x = 0, y = 0, w = i % 2 ? 320 : 640, h = i % 2 ? 240 : 480;
        ASSERT_EQ(g->WriteGrabRect(x, y, w, h), 0);
        // Source, grabber and renderer, the decompressor, and a converter only
        // for the modes the decompressor does not make.
        const bool chain = mode == VORKColorModeRGB565 || mode == VORKColorModeRGB555;
        EXPECT_EQ(FiltersInGraph(*g), chain ? 5u : 4u);
        AM_MEDIA_TYPE mt{};
        ASSERT_EQ(g->m_pSampleGrabber->GetConnectedMediaType(&mt), S_OK);
        EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth, w);
        EXPECT_TRUE(IsEqualGUID(mt.subtype, subtypes[i % 4]));
        CoTaskMemFree(mt.pbFormat);
    }
    g->m_lOldBufSize = -1;  // the buffers follow the last format
    g->UpdateImgBufferSizes(0);
    EXPECT_NE(g->SnapToAddBuffer(5000), nullptr);
    g->DeInitGrabber();
    EXPECT_FALSE(g->m_pGraph) << "the closed board holds no graph";
}

// Webcams that list every format twice (VIDEOINFOHEADER2 first) and do not
// report their rate, or do not connect again after a change: the plug-in reads
// each block by its type, takes rate 0 as unknown, and says 14 when the graph
// stays disconnected.
TEST_F(RealisticCameraTest, FormatBlocksRatesAndReconnectsOfRealWebcams) {
    for (const bool reconnectFails : {false, true}) {
        SCOPED_TRACE(reconnectFails ? "no reconnect" : "twins of rate 0");
        auto d = Webcam({{640, 480, MEDIASUBTYPE_YUY2, 30}, {320, 240, MEDIASUBTYPE_YUY2, 30}});
        d.videoInfo2 = !reconnectFails;
        for (auto& f : d.formats) f.rateUnreported = !reconnectFails;
        vorksim::AddCamera(d);
        TestGrabber* g = Open(4, 640, 480);
        VORKDSOfferedFormat offered[8];
        int count = 8;
        ASSERT_EQ(g->ReadOfferedFormats(offered, count), 0);
        for (int i = 0; i < count; ++i) EXPECT_TRUE(offered[i].width == 640 || offered[i].width == 320) << i;
        int counted = 0;  // no array: the formats are counted, not only as far as an array goes
        ASSERT_EQ(g->ReadOfferedFormats(nullptr, counted), 0);
        EXPECT_EQ(counted, count);
        if (reconnectFails) vorksim::SetCallFault("IGraphBuilder::Connect", E_FAIL);
        int x = 0, y = 0, w = 320, h = 240;
        EXPECT_EQ(g->WriteGrabRect(x, y, w, h), reconnectFails ? 14 : 0);
        if (!reconnectFails) {
            double rate = -1;
            EXPECT_EQ(g->ReadFramerate(rate), 0);
            EXPECT_DOUBLE_EQ(rate, 0.0);
            VORKDSFrameFormat format;
            ASSERT_EQ(g->ReadFrameFormat(format), 0);
            EXPECT_TRUE(format.sourceWidth == 320 && format.sourceHeight == 240);
        }
        EXPECT_EQ(g->WriteFramerate(15.0), reconnectFails ? 14 : 0);
        CloseAll();
    }
}

// A camera whose first frame comes seconds after the start gives pictures, in a
// snap and in continuous acquisition; a camera pulled while the open measures
// its frame or during a single snap ends that work without a hang, and once it
// is back a board opened again delivers. A wait that drains the graph's events
// itself sees the loss there, so no event 31 is sent. (A camera pulled in
// continuous acquisition: CameraPlatforms.APulledCameraIsWaitedForUnderItsDevicePath.)
TEST_F(RealisticCameraTest, SlowStartsAndRemovalsOfRealWebcams) {
    struct Case {
        const char* name;
        DWORD startDelayMs;
        bool atOpen;          // pulled in the open, else in the snap
        const wchar_t* line;  // the start of the line that tells the loss; none when not pulled
    } cases[] = {
        {"first frame 3 s after the start", 3000, false, nullptr},
        {"pulled at open", 200, true, L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Acquisition error! Event code: 0x1f"},
        {"pulled in a single snap", 200, false, L"CVORKDirectShowGrabber::WaitForSnap: Acquisition error! Event code: 0x1f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = Webcam({{320, 240, MEDIASUBTYPE_RGB24, 30}});
        d.unthrottled = false;
        d.startDelayMs = c.startDelayMs;
        const vorksim::CameraId id = vorksim::AddCamera(d);
        auto unplug = [id] { vorksim::RemoveCamera(id); };
        if (c.line && c.atOpen) vorksim::SetCallHook("IMediaEventEx::GetEventHandle", unplug);
        TestGrabber* g = Open(4, 320, 240);
        if (c.line && !c.atOpen) vorksim::SetCallHook("IMediaEventEx::GetEventHandle", unplug);
        EXPECT_EQ(g->SnapToAddBuffer(5000) == nullptr, c.line != nullptr);
        vorksim::SetCallHook("IMediaEventEx::GetEventHandle", nullptr);
        if (!c.line) {
            ASSERT_TRUE(g->StartGrabThread());
            EXPECT_NE(g->GetLastGrabbedBufferInRingSynced(15000), nullptr) << "continuous acquisition gives no frame";
        }
        vorktest::PumpPending();
        const auto codes = events.Codes();
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 31), 0);
        const auto lines = log.Lines();
        EXPECT_TRUE(!c.line || std::any_of(lines.begin(), lines.end(), [&](const vorktest::LogLine& l) { return l.text.rfind(c.line, 0) == 0; }));
        g->DeInitGrabber();
        vorksim::ReturnCamera(id);
        EXPECT_TRUE(!c.line || Open(4, 320, 240)->SnapToAddBuffer(5000)) << "the camera back gives no picture";
        CloseAll();
        events.Clear();
        log.Clear();
    }
}

}  // namespace
