// Colour mode, grab rectangle and frame rate.
#include "TestSupport.h"

namespace {

using vorktest::BoardTest;

class VideoFormatTest : public BoardTest {
protected:
    TestGrabber* Open(vorksim::CameraDescription d = vorksim::DefaultCameraDescription()) {
        camera = vorksim::AddCamera(d);
        grabber = std::make_unique<TestGrabber>(L"G");
        EXPECT_TRUE(grabber->InitBoard());
        EXPECT_EQ(grabber->ConnectGraph(), 0);
        log.Clear();
        return grabber.get();
    }
    void TearDown() override {
        if (grabber) grabber->CloseBoard();
        grabber.reset();
        BoardTest::TearDown();
    }
    GUID Connected() {
        AM_MEDIA_TYPE mt{};
        grabber->m_pSampleGrabber->GetConnectedMediaType(&mt);
        CoTaskMemFree(mt.pbFormat);
        return mt.subtype;
    }
    vorksim::CameraId camera = 0;
    std::unique_ptr<TestGrabber> grabber;
};

TEST_F(VideoFormatTest, ModesMapToSubtypesAndBack) {
    TestGrabber g;
    struct {
        int mode;
        GUID subtype;
        VORKColorMode read;
    } cases[] = {{0, MEDIASUBTYPE_RGB8, VORKColorModeRGB8},     {1, MEDIASUBTYPE_RGB24, VORKColorModeRGB24},
                 {2, MEDIASUBTYPE_RGB555, VORKColorModeRGB555}, {3, MEDIASUBTYPE_RGB565, VORKColorModeRGB565},
                 {4, MEDIASUBTYPE_RGB24, VORKColorModeRGB24},   {5, MEDIASUBTYPE_RGB32, VORKColorModeRGB32},
                 {6, MEDIASUBTYPE_RGB24, VORKColorModeRGB24},   {7, MEDIASUBTYPE_RGB24, VORKColorModeRGB24},
                 {-1, MEDIASUBTYPE_RGB24, VORKColorModeRGB24},  {99, MEDIASUBTYPE_RGB24, VORKColorModeRGB24}};
    for (const auto& c : cases) {
        GUID subtype = VORKDSGrabberTestPeer::SubtypeOf(g, static_cast<VORKColorMode>(c.mode));
        EXPECT_TRUE(IsEqualGUID(subtype, c.subtype)) << c.mode;
        EXPECT_EQ(VORKDSGrabberTestPeer::ModeOf(g, subtype), c.read) << c.mode;
    }
    EXPECT_EQ(VORKDSGrabberTestPeer::ModeOf(g, GUID_NULL), VORKColorModeUnknown);
    EXPECT_EQ(VORKDSGrabberTestPeer::ModeOf(g, MEDIASUBTYPE_YUY2), VORKColorModeUnknown);
    VORKVideoMode video = VORKVideoModePAL;  // ReadVideoMode leaves its argument
    EXPECT_EQ(g.ReadVideoMode(video), 0);
    EXPECT_EQ(video, VORKVideoModePAL);
}

TEST_F(VideoFormatTest, WritingAColourModeReconnectsTheGraph) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.formats.push_back({640, 480, MEDIASUBTYPE_RGB565, 30});
    TestGrabber* g = Open(d);
    VORKColorMode mode = VORKColorModeRGB8;
    EXPECT_EQ(g->ReadColorMode(mode), 0);
    EXPECT_EQ(mode, VORKColorModeUnknown);  // nothing requested yet
    EXPECT_EQ(g->WriteColorMode(VORKColorModeRGB32), 0);
    EXPECT_TRUE(IsEqualGUID(Connected(), MEDIASUBTYPE_RGB32));
    g->ReadColorMode(mode);
    EXPECT_EQ(mode, VORKColorModeRGB32);
    EXPECT_EQ(g->WriteColorMode(VORKColorModeRGB565), 0);
    EXPECT_TRUE(IsEqualGUID(Connected(), MEDIASUBTYPE_RGB565));
    EXPECT_EQ(g->WriteColorMode(static_cast<VORKColorMode>(6)), 0);
    g->ReadColorMode(mode);
    EXPECT_EQ(mode, VORKColorModeRGB24);  // not the value written
    log.Clear();
    ASSERT_EQ(g->Run(), 0);
    EXPECT_EQ(g->WriteColorMode(static_cast<VORKColorMode>(6)), 0);  // already applied: nothing
    EXPECT_TRUE(g->IsGraphRunning());
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(VideoFormatTest, ARunningGraphIsStoppedForANewModeAndAModeTheCameraCannotDeliverFailsWith16) {
    TestGrabber* g = Open();
    ASSERT_EQ(g->Run(), 0);
    EXPECT_EQ(g->WriteColorMode(VORKColorModeRGB32), 0);
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::WriteColorMode: Warning, some graph is still runnning, will be "
                        L"stopped now!",
                        0));
    EXPECT_TRUE(g->IsGraphStopped());  // not restarted
    // The converter makes 16- and 32-bit frames, not palette ones.
    EXPECT_EQ(g->WriteColorMode(VORKColorModeRGB8), 16);
    EXPECT_FALSE(g->IsConnected());
    EXPECT_EQ(g->m_nActColorMode, VORKColorModeRGB8);
    EXPECT_EQ(g->WriteColorMode(VORKColorModeRGB24), 0);
    EXPECT_TRUE(g->IsConnected());
}

// A camera told a rate offers only that format; a new mode asks for its first
// format of the mode's subtype at the rate told, and at the format's own when
// the camera refuses that one (its caps give a range, it keeps a list of rates).
TEST_F(VideoFormatTest, ANewModeTakesTheFormatsOwnRateWhenTheCameraRefusesTheOneTold) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    vorksim::VideoFormat palette{640, 480, MEDIASUBTYPE_RGB8, 30};
    palette.rates = {30, 5};
    d.formats.push_back(palette);
    TestGrabber* g = Open(d);
    ASSERT_EQ(g->WriteFramerate(10.0), 0);
    EXPECT_EQ(g->WriteColorMode(VORKColorModeRGB8), 0);
    EXPECT_TRUE(IsEqualGUID(Connected(), MEDIASUBTYPE_RGB8));
    EXPECT_EQ(vorksim::GetCameraState(camera).videoInfo.AvgTimePerFrame, 333333);
}

TEST_F(VideoFormatTest, GrabRectangleSetsTheCamerasSize) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.formats.push_back({642, 480, MEDIASUBTYPE_RGB24, 30});
    TestGrabber* g = Open(d);
    int x = 5, y = 0, w = 320, h = 240;
    EXPECT_EQ(g->WriteGrabRect(x, y, w, h), 0);
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::WriteGrabRect: Grab offsets are always set to 0!", 14));
    EXPECT_EQ(x, 5);
    EXPECT_EQ(vorksim::GetCameraState(camera).videoInfo.bmiHeader.biWidth, 320);
    log.Clear();
    EXPECT_EQ(g->WriteGrabRect(x, y, w, h), 0);  // the same size: only the warning
    EXPECT_EQ(log.Lines().size(), 1u);
    x = 0;
    w = 642;
    h = 480;
    EXPECT_EQ(g->WriteGrabRect(x, y, w, h), 0);
    EXPECT_EQ(vorksim::GetCameraState(camera).format.lSampleSize, 1928u * 480u);  // the camera's own stride
    int r[4] = {9, 9, 1, 2};  // the offsets read back as 0; the size is left
    EXPECT_EQ(g->ReadGrabRect(r[0], r[1], r[2], r[3]), 0);
    EXPECT_EQ(std::vector<int>(r, r + 4), (std::vector<int>{0, 0, 1, 2}));
}

TEST_F(VideoFormatTest, AChangeOfOnlyTheWidthOrOnlyTheHeightIsApplied) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.formats = {{640, 480, MEDIASUBTYPE_RGB24, 30}, {320, 480, MEDIASUBTYPE_RGB24, 30},
                 {320, 240, MEDIASUBTYPE_RGB24, 30}};
    TestGrabber* g = Open(d);
    int x = 0, y = 0, w = 640, h = 480;
    ASSERT_EQ(g->WriteGrabRect(x, y, w, h), 0);
    w = 320;  // the height stays
    EXPECT_EQ(g->WriteGrabRect(x, y, w, h), 0);
    EXPECT_EQ(vorksim::GetCameraState(camera).videoInfo.bmiHeader.biWidth, 320);
    EXPECT_EQ(vorksim::GetCameraState(camera).videoInfo.bmiHeader.biHeight, 480);
    h = 240;  // the width stays
    EXPECT_EQ(g->WriteGrabRect(x, y, w, h), 0);
    EXPECT_EQ(vorksim::GetCameraState(camera).videoInfo.bmiHeader.biWidth, 320);
    EXPECT_EQ(vorksim::GetCameraState(camera).videoInfo.bmiHeader.biHeight, 240);
    EXPECT_EQ(vorksim::GetCameraState(camera).setFormatCalls, 3);
}

TEST_F(VideoFormatTest, TheRequestedImageSizeRoundsPixelsNotBytes) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    TestGrabber* g = Open(d);
    int x = 0, y = 0, w = 642, h = 480;
    EXPECT_EQ(g->WriteGrabRect(x, y, w, h), 14);  // the camera has no such size
    auto state = vorksim::GetCameraState(camera);
    EXPECT_EQ(state.requestedVideoInfo.bmiHeader.biSizeImage, 927360u);  // 644 x 480 x 3
    EXPECT_EQ(state.requestedSampleSize, 927360u);
    EXPECT_EQ(state.requestedVideoInfo.bmiHeader.biWidth, 642);
    EXPECT_TRUE(HasLine(L"DirectShow error: An invalid media type was specified.", 0));
    EXPECT_EQ(g->m_nActGrabWidth, 642);  // recorded all the same
    log.Clear();
    EXPECT_EQ(g->WriteGrabRect(x, y, w, h), 0);
    EXPECT_TRUE(log.Lines().empty());
}

// RGB32 with top-down rows only, which the sample grabber takes in neither
// colour mode: a converter delivers RGB24, and the camera's own top-down format
// of the configured size is matched by the rows' count, not their sign.
TEST_F(VideoFormatTest, ASizeTheCameraOffersOnlyTopDownIsSetThroughTheConverter) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.formats = {{640, 480, MEDIASUBTYPE_RGB32, 30}, {320, 240, MEDIASUBTYPE_RGB32, 30}};
    for (vork::VideoFormat& f : d.formats) f.topDown = true;
    camera = vorksim::AddCamera(d);
    WriteIni("[G_Channel0]\nGrabWidth=320\nGrabHeight=240\n");
    TestGrabber g(L"G", true);
    EXPECT_EQ(vorksim::GetCameraState(camera).videoInfo.bmiHeader.biHeight, -240);
    EXPECT_EQ(g.GetImgBufSize(), 320 * 240 * 3);
    const BYTE* image = g.SnapToAddBuffer(5000);
    ASSERT_NE(image, nullptr);
    // The white marker at the top left, as from a bottom-up camera.
    auto white = [image](int row) { return image[(static_cast<size_t>(row) * 320 + 15) * 3 + 1] > 240; };
    EXPECT_TRUE(white(15));
    EXPECT_FALSE(white(224));
    g.DeInitGrabber();
}

TEST_F(VideoFormatTest, ACompressedConnectionIsAskedForAnUncompressedFormat) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.formats = {{640, 480, MEDIASUBTYPE_YUY2, 30}, {320, 240, MEDIASUBTYPE_YUY2, 30}};
    TestGrabber* g = Open(d);
    int x = 0, y = 0, w = 320, h = 240;
    EXPECT_EQ(g->WriteGrabRect(x, y, w, h), 14);  // YUY2 with BI_RGB is nothing the camera has
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::WriteGrabRect: Warning: Compressed video format specified!", 0, 16));
}

TEST_F(VideoFormatTest, FrameRatesBecomeFrameTimes) {
    TestGrabber* g = Open();
    struct {
        double fps;
        REFERENCE_TIME frameTime;
    } cases[] = {{30, 333333}, {29.97, 333667}, {25, 400000}, {15, 666666}, {10, 1000000}, {7.5, 1333333}};
    for (const auto& c : cases) {
        EXPECT_EQ(g->WriteFramerate(c.fps), 0);
        EXPECT_EQ(vorksim::GetCameraState(camera).videoInfo.AvgTimePerFrame, c.frameTime) << c.fps;
    }
    EXPECT_EQ(g->WriteFramerate(30.0), 0);
    double fps = 0;
    EXPECT_EQ(g->ReadFramerate(fps), 0);
    EXPECT_DOUBLE_EQ(fps, 10000000.0 / 333333.0);
    EXPECT_NEAR(fps, 30.00003000003, 1e-9);
    for (double bad : {0.0, -5.0, 1.0 / 0.0, 0.0 / 0.0, 2e7}) {
        EXPECT_EQ(g->WriteFramerate(bad), 14) << bad;
    }
    EXPECT_EQ(vorksim::GetCameraState(camera).videoInfo.AvgTimePerFrame, 333333);
}

TEST_F(VideoFormatTest, AFrameRateChangeRestartsOnlyThisGrabbersRunningGraph) {
    TestGrabber* g = Open();
    ASSERT_EQ(g->Run(), 0);
    EXPECT_EQ(g->WriteFramerate(15.0), 0);
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::WriteFramerate: Warning, graph still runnning, will be stopped now!", 0));
    EXPECT_TRUE(g->IsGraphRunning());

    vorksim::AddCamera(vorksim::DefaultCameraDescription());
    TestGrabber other(L"Other");
    ASSERT_TRUE(other.InitBoard());
    ASSERT_EQ(other.ConnectGraph(), 0);
    g->Stop();
    ASSERT_EQ(other.Run(), 0);
    EXPECT_EQ(g->WriteFramerate(10.0), 0);
    EXPECT_TRUE(other.IsGraphStopped());
    EXPECT_TRUE(g->IsGraphStopped());
    other.CloseBoard();
}

}  // namespace
