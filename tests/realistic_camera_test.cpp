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

GUID SubtypeOfMode(int mode) {
    switch (mode) {
    case 2: return MEDIASUBTYPE_RGB555;
    case 3: return MEDIASUBTYPE_RGB565;
    case 5: return MEDIASUBTYPE_RGB32;
    default: return MEDIASUBTYPE_RGB24;
    }
}

class RealisticCameraTest : public BoardTest {
protected:
    // A grabber opened as the framework opens one, with the channel's colour
    // mode and size, and without vertical mirroring: frames stay as delivered.
    void TearDown() override {
        for (auto& g : opened_) g->DeInitGrabber();  // also after a failed assertion
        opened_.clear();
        BoardTest::TearDown();
    }
    std::vector<std::unique_ptr<TestGrabber>> opened_;

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
        if (FAILED(g.m_pGraph->EnumFilters(&filters))) return 0;
        size_t n = 0;
        IBaseFilter* f = nullptr;
        while (filters->Next(1, &f, nullptr) == S_OK) {
            f->Release();
            ++n;
        }
        return n;
    }
};

TEST_F(RealisticCameraTest, TwentyFormatChangesLeaveNoStaleFilter) {
    vorksim::AddCamera(Webcam({{640, 480, MEDIASUBTYPE_MJPG, 30}, {320, 240, MEDIASUBTYPE_MJPG, 30}}));
    auto g = Open(4, 640, 480);
    const VORKColorMode modes[] = {VORKColorModeRGB565, VORKColorModeRGB24, VORKColorModeRGB555, VORKColorModeRGB32};
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
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        EXPECT_EQ(vih->bmiHeader.biWidth, w);
        EXPECT_TRUE(IsEqualGUID(mt.subtype, SubtypeOfMode(mode)));
        CoTaskMemFree(mt.pbFormat);
    }
    g->m_lOldBufSize = -1;  // the buffers follow the last format
    g->UpdateImgBufferSizes(0);
    EXPECT_NE(g->SnapToAddBuffer(5000), nullptr);
    g->DeInitGrabber();
    EXPECT_FALSE(g->m_pGraph) << "the closed board holds no graph";
}


// Webcams that list every format twice (VIDEOINFOHEADER2 first), do not report
// their rate, or do not connect again after a change: the plug-in reads each
// block by its type, takes rate 0 as unknown, and says 14 when the graph stays
// disconnected.
TEST_F(RealisticCameraTest, FormatBlocksRatesAndReconnectsOfRealWebcams) {
    struct Case {
        const char* name;
        bool videoInfo2;
        bool rateUnreported;
        bool reconnectFails;
        int grabRectStatus;
        int framerateStatus;
        double readRate;
    } cases[] = {
        {"VIDEOINFOHEADER2 twins", true, false, false, 0, 0, 30.0},
        {"rate 0", false, true, false, 0, 0, 0.0},
        {"no reconnect", false, false, true, 14, 14, -1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = Webcam({{640, 480, MEDIASUBTYPE_YUY2, 30}, {320, 240, MEDIASUBTYPE_YUY2, 30}});
        d.videoInfo2 = c.videoInfo2;
        for (auto& f : d.formats) f.rateUnreported = c.rateUnreported;
        vorksim::AddCamera(d);
        TestGrabber* g = Open(4, 640, 480);
        if (c.reconnectFails) vorksim::SetCallFault("IGraphBuilder::Connect", E_FAIL);
        VORKDSOfferedFormat offered[8];
        int count = 8;
        ASSERT_EQ(g->ReadOfferedFormats(offered, count), 0);
        for (int i = 0; i < count; ++i) EXPECT_TRUE(offered[i].width == 640 || offered[i].width == 320) << i;
        int x = 0, y = 0, w = 320, h = 240;
        EXPECT_EQ(g->WriteGrabRect(x, y, w, h), c.grabRectStatus);
        if (c.readRate >= 0) {
            double rate = -1;
            EXPECT_EQ(g->ReadFramerate(rate), 0);
            EXPECT_NEAR(rate, c.readRate, 0.01);
            VORKDSFrameFormat format;
            ASSERT_EQ(g->ReadFrameFormat(format), 0);
            EXPECT_EQ(format.sourceWidth, 320);
            EXPECT_EQ(format.sourceHeight, 240);
        }
        EXPECT_EQ(g->WriteFramerate(15.0), c.framerateStatus);
        vorksim::ClearCallFaults();
        g->DeInitGrabber();
        vorksim::RemoveAllCameras();
    }
}

// A camera whose first frame comes seconds after the start gives pictures; a
// camera pulled while the open measures its frame, during a single snap or during
// continuous acquisition ends that work without a hang, and once it is back a
// board opened again delivers. A wait that drains the graph's events itself sees
// the loss there; only the window's handler sends event 31.
TEST_F(RealisticCameraTest, SlowStartsAndRemovalsOfRealWebcams) {
    enum class Unplug { Never, AtOpen, InSingleSnap, InContinuous };
    struct Case {
        const char* name;
        DWORD startDelayMs;
        Unplug unplug;
        const wchar_t* line;  // the start of the line that tells the loss
        int lostEvents;
    } cases[] = {
        {"first frame 3 s after the start", 3000, Unplug::Never, nullptr, 0},
        {"pulled at open", 200, Unplug::AtOpen, L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Acquisition error! Event code: 0x1f", 0},
        {"pulled in a single snap", 200, Unplug::InSingleSnap, L"CVORKDirectShowGrabber::WaitForSnap: Acquisition error! Event code: 0x1f", 0},
        {"pulled in continuous acquisition", 0, Unplug::InContinuous, nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = Webcam({{320, 240, MEDIASUBTYPE_RGB24, 30}});
        d.unthrottled = false;
        d.startDelayMs = c.startDelayMs;
        const vorksim::CameraId id = vorksim::AddCamera(d);
        auto unplug = [id] { vorksim::RemoveCamera(id); };
        if (c.unplug == Unplug::AtOpen) vorksim::SetCallHook("IMediaEventEx::GetEventHandle", unplug);
        TestGrabber* g = Open(4, 320, 240);
        if (c.unplug == Unplug::InSingleSnap) vorksim::SetCallHook("IMediaEventEx::GetEventHandle", unplug);
        const bool lostBeforeSnap = c.unplug == Unplug::AtOpen || c.unplug == Unplug::InSingleSnap;
        EXPECT_EQ(g->SnapToAddBuffer(5000) == nullptr, lostBeforeSnap);
        vorksim::SetCallHook("IMediaEventEx::GetEventHandle", nullptr);
        if (c.unplug == Unplug::Never || c.unplug == Unplug::InContinuous) {
            ASSERT_TRUE(g->StartGrabThread());
            EXPECT_NE(g->GetLastGrabbedBufferInRingSynced(15000), nullptr) << "continuous acquisition gives no frame";
        }
        if (c.unplug == Unplug::InContinuous) unplug();
        if (c.unplug == Unplug::InContinuous) {
            EXPECT_TRUE(vorktest::PumpUntil([&] { return !g->IsGrabThreadRunning(); })) << "the grab thread still runs";
        }
        vorktest::PumpPending();
        const auto codes = events.Codes();
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 31), c.lostEvents);
        if (c.line) {
            const auto lines = log.Lines();
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const vorktest::LogLine& l) { return l.text.rfind(c.line, 0) == 0; }));
        }
        g->DeInitGrabber();
        vorksim::ReturnCamera(id);
        if (c.unplug != Unplug::Never) {
            EXPECT_NE(Open(4, 320, 240)->SnapToAddBuffer(5000), nullptr) << "the camera back gives no picture";
        }
        for (auto& opened : opened_) opened->DeInitGrabber();
        opened_.clear();
        vorksim::RemoveAllCameras();
        events.Clear();
        log.Clear();
    }
}

}  // namespace
