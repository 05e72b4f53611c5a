// Taking pictures: single snaps, continuous acquisition and their failures.
#include "TestSupport.h"

namespace {

using vorktest::BoardTest;

enum Corner { TopLeft, TopRight, BottomLeft, BottomRight, Nowhere };

// Where the white orientation marker lies in a packed RGB24 or RGB32 image, by
// memory order: the first row is the top.
Corner MarkerCorner(const BYTE* image, int width, int height, int bpp) {
    const int m = std::min(width, height) / 16;
    const int xs[] = {m, width - 1 - m}, ys[] = {m, height - 1 - m};
    int found = 0, corner = Nowhere;
    for (int c = TopLeft; c <= BottomRight; ++c) {
        const BYTE* p = image + (static_cast<size_t>(ys[c / 2]) * width + xs[c % 2]) * bpp;
        if (p[0] > 240 && p[1] > 240 && p[2] > 240) corner = c, ++found;
    }
    return found == 1 ? static_cast<Corner>(corner) : Nowhere;
}

long Counter(const BYTE* image) { return vorksim::DecodeFrameCounter(image, {640, 480, MEDIASUBTYPE_RGB24, 30}); }

class SnapTest : public BoardTest {
protected:
    // An initialised grabber on its own camera, as InitDll makes one.
    TestGrabber* Open(const wchar_t* name, const vorksim::CameraDescription* description = nullptr) {
        vorksim::CameraDescription d = description ? *description : vorksim::DefaultCameraDescription();
        std::wstring cameraName = std::wstring(name) + L" camera";
        d.friendlyName = cameraName;
        vorksim::AddCamera(d);
        WritePrivateProfileStringW(name, L"FriendlyNamePart", cameraName.c_str(), ini.c_str());
        TestGrabber* g = &Keep(std::make_unique<TestGrabber>(name, true));
        EXPECT_TRUE(g->IsInitialized());
        log.Clear();
        return g;
    }
};

TEST_F(SnapTest, SingleSnapsDeliverThePictureMirroredAsConfigured) {
    TestGrabber* g = Open(L"G");
    struct Case {
        bool vertical;
        bool horizontal;
        Corner marker;
    } cases[] = {{true, false, TopLeft}, {false, false, BottomLeft}, {true, true, TopRight}, {false, true, BottomRight}};
    LONG imageNumber = g->GetLastImgNr();
    for (const Case& c : cases) {
        g->m_bMirrorVertical = c.vertical;
        g->m_bMirrorHorizontal = c.horizontal;
        BYTE* image = g->SnapToAddBuffer(5000);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image, g->GetAddImgBuffer());
        EXPECT_EQ(MarkerCorner(image, 640, 480, 3), c.marker) << c.vertical << c.horizontal;
        EXPECT_EQ(g->GetLastImgNr(), ++imageNumber);
        EXPECT_TRUE(g->IsGraphStopped());
    }
    g->m_bMirrorVertical = true;
    g->m_bMirrorHorizontal = false;
    // Into the ring's current entry.
    BYTE* entry = g->GetGB()->GetActBuffer();
    BYTE* image = g->SnapToRing(5000);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image, entry);
    EXPECT_EQ(g->GetGB()->GetLastGrabbedIndex(), 0);
    EXPECT_EQ(MarkerCorner(image, 640, 480, 3), TopLeft);
    // Without single snaps, through a short continuous run.
    g->m_bNoSingleSnap = true;
    image = g->SnapToAddBuffer(5000);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image, g->GetAddImgBuffer());
    EXPECT_EQ(MarkerCorner(image, 640, 480, 3), TopLeft);
    EXPECT_TRUE(g->IsGraphStopped());
    EXPECT_FALSE(g->IsContSnapRunning());
    EXPECT_EQ(g->GetLastImgNr(), 0);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SnapTest, ContinuousAcquisitionFillsSuccessiveRingEntries) {
    TestGrabber* g = Open(L"G");
    ASSERT_EQ(g->SnapAsyncToRing(), 0);
    EXPECT_TRUE(g->IsContSnapRunning());
    EXPECT_TRUE(g->IsGraphRunning());
    CVORKGrabberBuffersRing* ring = g->GetGB();
    long firstCounter = -1;
    long lastCounter = -1;
    for (int i = 0; i < 5; ++i) {
        BYTE* expectedEntry = ring->GetActBuffer();
        BYTE* image = g->WaitForSnap(true, 5000);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image, expectedEntry);
        EXPECT_EQ(ring->GetLastGrabbedIndex(), i % 3);
        EXPECT_EQ(g->GetLastImgNr(), i + 1);
        EXPECT_EQ(MarkerCorner(image, 640, 480, 3), TopLeft);
        // Never an older frame; the same one twice when a signal was left over
        // from a frame that arrived while the previous copy was made.
        long counter = Counter(image);
        EXPECT_GE(counter, lastCounter);
        if (firstCounter < 0) firstCounter = counter;
        lastCounter = counter;
    }
    EXPECT_GT(lastCounter, firstCounter);
    const int before = ring->GetLastGrabbedIndex();
    g->StopSnap();
    EXPECT_EQ(ring->GetLastGrabbedIndex(), (before + 1) % 3);  // one last frame landed
    EXPECT_EQ(g->GetLastImgNr(), 0);
    EXPECT_TRUE(g->IsGraphStopped());
    EXPECT_FALSE(g->IsContSnapRunning());
}

// The pause after the start is the INI's milliseconds, once per start; a
// negative one means none. What the platform was asked to sleep is checked, not
// how long the call took.
TEST_F(SnapTest, ASecondArmingOfContinuousAcquisitionDoesNothing) {
    TestGrabber* g = Open(L"G");
    vorksim::SetCallFault("Sleep", E_ABORT);  // the pauses return at once
    g->m_lWaitForCamStart = 250;
    ASSERT_EQ(g->SnapAsyncToRing(), 0);
    g->SetGraphState(VORKDSGraphStarting);
    EXPECT_EQ(g->SnapAsyncToRing(), 0);
    EXPECT_EQ(g->GetGraphState(), VORKDSGraphStarting);  // no Run
    EXPECT_EQ(vorksim::CallArguments("Sleep"), (std::vector<long long>{250}));  // the first arming only
    g->StopSnap();
    vorksim::ClearCallFaults();
    g->m_lWaitForCamStart = -5;
    ASSERT_EQ(g->SnapAsyncToRing(), 0);
    EXPECT_TRUE(vorksim::CallArguments("Sleep").empty());
    EXPECT_TRUE(log.Lines().empty());
    g->StopSnap();
}

TEST_F(SnapTest, ASizeMismatchIsRepeatedExactlyOnce) {
    TestGrabber* g = Open(L"G");
    g->m_lImgBufSize = 1000;  // as if the buffers had been measured for another format
    g->m_lOldBufSize = 1000;
    EXPECT_EQ(g->SnapToAddBuffer(5000), nullptr);
    const std::wstring warning =
        L"CVORKDirectShowGrabber::WaitForSnap: Warning: received buffers size 921600 does not equal expected buffer "
        L"size 1000! Grabber G";
    EXPECT_EQ(log.Count(warning), 2u);
    EXPECT_EQ(log.Count(L"CVORKDirectShowGrabber::SnapToAddBuffer: Repeating snap due to unexpected buffer size!"), 1u);
    EXPECT_EQ(log.Count(L"DirectShow Snap error grabber G"), 2u);
    EXPECT_TRUE(HasLine(L"DirectShow Snap error grabber G", E_OUTOFMEMORY));
    EXPECT_FALSE(g->m_bRepeatSnap);
}

TEST_F(SnapTest, AFrameLargerThanTheBuffersIsRefusedAndNothingIsWrittenPastThem) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.formats = {{320, 240, MEDIASUBTYPE_RGB24, 30}, {640, 480, MEDIASUBTYPE_RGB24, 30}};
    WriteIni("[G_Channel0]\nGrabWidth=320\nGrabHeight=240\n");
    TestGrabber* g = Open(L"G", &d);
    ASSERT_EQ(g->GetImgBufSize(), 320 * 240 * 3);
    // The framework asks for the larger format, and the buffers are not measured again.
    EXPECT_EQ(g->SetGrabRect(640, 480), 0);
    // Frames and the grab rectangle are now larger than the buffers.
    EXPECT_EQ(g->SnapToAddBuffer(5000), nullptr);
    g->m_bNoSingleSnap = true;
    EXPECT_EQ(g->SnapToAddBuffer(5000), nullptr);  // continuous path, same refusal
    g->m_bNoSingleSnap = false;
    EXPECT_GE(log.Count(L"CVORKDirectShowGrabber::WaitForSnap: Warning: received buffers size 921600 does not "
                        L"equal expected buffer size 230400! Grabber G"),
              2u);
}

TEST_F(SnapTest, ASingleSnapIsRefusedWhileAnotherGrabberAcquiresContinuously) {
    TestGrabber* a = Open(L"A");
    TestGrabber* b = Open(L"B");
    ASSERT_EQ(a->SnapAsyncToRing(), 0);
    EXPECT_EQ(b->SnapAsyncToAddBuffer(), 22);
    EXPECT_EQ(log.Lines(),
              (std::vector<vorktest::LogLine>{
                  {L"CVORKDirectShowGrabber::SnapAsyncToAddBuffer: Not all graphs are stopped! Grabber: B", -1, 2},
                  {L"CVORKDirectShowGrabber::SnapToAddBuffer: Stop any continous snap before doing single snaps!", 22,
                   2}}));
    EXPECT_TRUE(a->IsGraphRunning());
    a->StopSnap();

    // A graph that merely runs is stopped, and the snap goes on.
    ASSERT_EQ(a->Run(), 0);
    log.Clear();
    ASSERT_NE(b->SnapToAddBuffer(5000), nullptr);
    EXPECT_TRUE(a->IsGraphStopped());
    OAFilterState state = State_Running;
    a->m_pMediaControl->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
}

// Waiting without an additional buffer gives nothing, quietly; a failed
// continuous set-up is reported and leaves the graph stopped.
TEST_F(SnapTest, NoAdditionalBufferAndAFailedContinuousSetUp) {
    TestGrabber* g = Open(L"G");
    g->ClearImgBuffers();
    EXPECT_EQ(g->WaitForSnap(false, 10), nullptr);
    EXPECT_TRUE(log.Lines().empty());
    g->m_lOldBufSize = -1;
    g->UpdateImgBufferSizes(0);
    vorksim::SetCallFault("ISampleGrabber::SetCallback", E_FAIL, 1);
    EXPECT_EQ(g->SnapAsyncToRing(), 17);
    EXPECT_FALSE(g->IsContSnapRunning());
    EXPECT_TRUE(g->IsGraphStopped());
}

TEST_F(SnapTest, TheFrameworksGrabThreadRunsContinuousAcquisition) {
    TestGrabber* g = Open(L"G");
    ASSERT_TRUE(g->StartGrabThread());
    ASSERT_NE(g->GetLastGrabbedBufferInRingSynced(5000), nullptr);
    ASSERT_NE(g->GetLastGrabbedBufferInRingSynced(5000), nullptr);
    g->StopGrabThread(true);
    EXPECT_GE(g->GetGrabThreadFrames(), 2);
    EXPECT_FALSE(g->IsGrabThreadRunning());
    EXPECT_TRUE(g->IsGraphStopped());
    EXPECT_FALSE(g->IsContSnapRunning());
}

}  // namespace
