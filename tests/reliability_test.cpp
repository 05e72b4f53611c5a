// The plug-in under hostile configuration and at awkward moments: buffers freed
// while a snap waits, values from the INI file that do not fit the platform's
// types, a grab loop without buffers, and a log that does not flood.
#include "TestSupport.h"

#include "vork/utf8.h"

namespace {

using vorktest::BoardTest;

class ReliabilityTest : public BoardTest {
protected:
    TestGrabber* Open() {
        AddCamera(L"Cam");
        TestGrabber* g = &Keep(std::make_unique<TestGrabber>(L"G", true));
        EXPECT_TRUE(g->IsInitialized());
        log.Clear();
        return g;
    }
};

TEST_F(ReliabilityTest, ACopyNeverLandsInABufferFreedWhileTheSnapWaited) {
    auto g = Open();
    // Between the snap's start and its copy, another thread frees the buffers;
    // here the same thread does it at the moment the wait begins.
    vorksim::SetCallHook("IMediaEventEx::GetEventHandle", [&] {
        vorksim::SetCallHook("IMediaEventEx::GetEventHandle", {});
        g->ClearImgBuffers();
    });
    EXPECT_EQ(g->SnapToAddBuffer(5000), nullptr);
    EXPECT_EQ(g->GetRing()->GetAddBuffer(), nullptr);
    // Measured again, the buffers take frames as before.
    g->m_lOldBufSize = -1;
    g->UpdateImgBufferSizes(0);
    BYTE* image = g->SnapToAddBuffer(5000);
    EXPECT_NE(image, nullptr);
    EXPECT_EQ(image, g->GetRing()->GetAddBuffer());
}

TEST_F(ReliabilityTest, HostileChannelValuesAreRefusedOrClampedWithALine) {
    struct Case {
        const char* ini;
        std::wstring line;
        int code;
    } cases[] = {
        {"GrabWidth=2147483647\n", L"CVORKGrabberBase::InitGrabber: GrabWidth=2147483647 in [C_Channel0] is not a value from 1 to 65535", 14},
        {"GrabHeight=2147483648\n", L"CVORKGrabberBase::InitGrabber: GrabHeight=2147483648 in [C_Channel0] is not a value from 1 to 65535", 14},
        {"GrabWidth=-2147483648\n", L"CVORKGrabberBase::InitGrabber: GrabWidth=-2147483648 in [C_Channel0] is not a value from 1 to 65535", 14},
        {"GrabWidth=100000000000000000000000000\n", L"CVORKGrabberBase::InitGrabber: GrabWidth=100000000000000000000000000 in [C_Channel0] is not a value from 1 to 65535", 14},
        {"ColorMode=-1\n", L"CVORKGrabberBase::InitGrabber: ColorMode=-1 in [C_Channel0] is not a value from 0 to 7", 14},
        {"ColorMode=4294967295\n", L"CVORKGrabberBase::InitGrabber: ColorMode=4294967295 in [C_Channel0] is not a value from 0 to 7", 14},
        {"WaitForCamStart=2147483647\n", L"CVORKDirectShowGrabber::HWSpecificChannelSetup: WaitForCamStart=2147483647 ms is longer than 10000 ms; waiting 10000 ms", -1},
        {"DefHue=1e10\n", L"CVORKDirectShowGrabber::HWSpecificChannelSetup: DefHue=1e10 is outside 0 to 100; using 100", -1},
        {"DefSaturation=-5\n", L"CVORKDirectShowGrabber::HWSpecificChannelSetup: DefSaturation=-5 is outside 0 to 100; using 0", -1},
        {"DefFramerate=1e308\n", L"CVORKDirectShowGrabber::HWSpecificChannelSetup: DefFramerate=1e308 is outside 0 to 1000; using 1000", -1},
    };
    AddCamera(L"Cam");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        WriteIni(std::string("[C_Channel0]\n") + c.ini);
        log.Clear();
        TestGrabber g(L"C", true);
        EXPECT_TRUE(g.IsInitialized());
        EXPECT_TRUE(HasLine(c.line, c.code)) << "missing: " << vork::Utf8(c.line);
        EXPECT_LE(g.m_lWaitForCamStart, 10000);
        EXPECT_GE(g.m_fDefHue, 0.0f);
        EXPECT_LE(g.m_fDefHue, 100.0f);
        // The camera keeps delivering the size it can.
        EXPECT_EQ(g.GetImgBufSize(), 640 * 480 * 3);
        g.DeInitGrabber();
    }
}

TEST_F(ReliabilityTest, ASizeWhoseBytesOverflowIsRefusedAndNotRecorded) {
    auto g = Open();
    const int recorded = g->m_nActGrabWidth;
    struct Case {
        int width, height;
    } cases[] = {{2147483647, 480}, {640, 2147483647}, {100000, 100000}, {0, 480}, {640, -1}};
    for (const Case& c : cases) {
        int x = 0, y = 0, w = c.width, h = c.height;
        EXPECT_EQ(g->WriteGrabRect(x, y, w, h), 14) << c.width << "x" << c.height;
        EXPECT_EQ(g->m_nActGrabWidth, recorded);
    }
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::WriteGrabRect: Invalid size 100000x100000!", 14));
}

TEST_F(ReliabilityTest, TheLogFileShowsARepeatedLineOnceWithACount) {
    for (int i = 0; i < 1000; ++i) VORKWriteErrorLog(L"CVORKDirectShowGrabber::WaitForSnap: Graph not connected!", 2, 2);
    VORKWriteErrorLog(L"something else", 0, 2);
    const std::string text = vorktest::ReadTextFile(dir.path() / "errors.log");
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 3u) << text;
    EXPECT_NE(text.find("level 2 code 2: CVORKDirectShowGrabber::WaitForSnap: Graph not connected!\n"), std::string::npos);
    EXPECT_NE(text.find("(the line above came 999 more times)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("level 2 code 0: something else\n"), std::string::npos);
    // Every line still reaches the listeners.
    EXPECT_EQ(log.Count(L"CVORKDirectShowGrabber::WaitForSnap: Graph not connected!"), 1000u);
}

TEST_F(ReliabilityTest, AGrabThreadWithoutBuffersBacksOffAndStopsAtOnce) {
    auto g = Open();
    g->ClearImgBuffers();
    ASSERT_TRUE(g->StartGrabThread());
    ASSERT_TRUE(vorktest::PumpUntil([&] { return g->GetGrabThreadErrors() >= 1; }));
    // A window, not a wait for the thread: in it a loop that backs off (1, 2,
    // 4 ... up to 500 ms between attempts) fails about ten times, however slow
    // the machine; one that does not back off fails thousands of times.
    Sleep(200);
    EXPECT_LT(g->GetGrabThreadErrors(), 40) << "the failed waits are not spaced out";
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::WaitForSnap: The ring's current entry has no buffer! Grabber G", -1));
    // The back-off waits on the abort event, so a stop ends it at once.
    g->StopGrabThread(true);
    EXPECT_FALSE(g->IsGrabThreadRunning());
    EXPECT_EQ(g->GetGrabThreadFrames(), 0);
}

}  // namespace
