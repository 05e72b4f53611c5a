// The framework stand-ins' services that the plug-in relies on.
#include <gtest/gtest.h>

#include <thread>

#include "TestSupport.h"

namespace {

using vorktest::ReadTextFile;
using vorktest::TempDir;

TEST(ErrorLog, AppendsTimedLinesToItsFileAndTellsTheListeners) {
    TempDir dir;
    VORKSetErrorLogFile(dir.File("errors.log").c_str());
    vorktest::LogCapture log;
    VORKWriteErrorLog(L"first \u00e4", 7, 2);
    VORKWriteErrorLog(L"second", -1, 16);
    const std::string text = ReadTextFile(dir.path() / "errors.log");
    EXPECT_NE(text.find(" level 2 code 7: first \xC3\xA4\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" level 16 code -1: second\n"), std::string::npos) << text;
    EXPECT_EQ(log.Lines(), (std::vector<vorktest::LogLine>{{L"first \u00e4", 7, 2}, {L"second", -1, 16}}));
    VORKSetErrorLogFile(L"");
}

TEST(CameraLock, IsOneReentrantLockOrNone) {
    LPCRITICAL_SECTION cs = GetCameraCS();
    ASSERT_NE(cs, nullptr);
    EXPECT_EQ(GetCameraCS(), cs);
    {
        VORKCameraLock outer;
        VORKCameraLock inner;  // taken again on the same thread
        bool taken = true;
        std::thread other([&] { taken = TryEnterCriticalSection(GetCameraCS()) != FALSE; });
        other.join();
        EXPECT_FALSE(taken);
    }
    VORKSetCameraCSAbsent(true);
    EXPECT_EQ(GetCameraCS(), nullptr);
    TestGrabber g;  // without a lock every accessor still works
    g.SetDeviceNumber(3);
    EXPECT_EQ(g.GetDeviceNumber(), 3);
    EXPECT_TRUE(AreAllGraphsStopped());
    VORKSetCameraCSAbsent(false);
}

TEST(ChannelRecords, AreNamedAfterTheGrabberAndKeepTheirNames) {
    TestGrabber g(L"Cam7");
    CVORKChannelParams params(L"ChannelParams");
    ASSERT_TRUE(g.GetCamChannelParams(params, 0));
    EXPECT_STREQ(params.m_szName, L"Cam7_Channel0");
    params.m_Gain.nValue = 33;
    CVORKChannelParams renamed(L"ChannelParams");
    renamed = params;
    std::wcscpy(renamed.m_szName, L"ChannelParams");
    ASSERT_TRUE(g.SetCamChannelParams(renamed, 0));
    ASSERT_TRUE(g.GetCamChannelParams(params, 0));
    EXPECT_STREQ(params.m_szName, L"Cam7_Channel0");
    EXPECT_EQ(params.m_Gain.nValue, 33);
    EXPECT_FALSE(g.GetCamChannelParams(params, 1));
}

TEST(Ring, HandsOutEntriesInTurnAndSkipsLockedOnes) {
    CVORKGrabberBuffersRing ring(3);
    BYTE a[1], b[1], c[1], extra[1];
    ring.SetBuffer(0, a);
    ring.SetBuffer(1, b);
    ring.SetBuffer(2, c);
    ring.SetAddBuffer(extra);
    EXPECT_EQ(ring.GetActBuffer(), a);
    ring.GetGrabberBufferInRing(0)->m_bLocked = true;  // locked after it was chosen
    EXPECT_EQ(ring.GetActBuffer(), b);
    ring.GetGrabberBufferInRing(0)->m_bLocked = false;
    ring.SetLastGrabbedIndex(0);
    EXPECT_EQ(ring.GetActBuffer(), b);
    ring.GetGrabberBufferInRing(2)->m_bLocked = true;
    ring.SetLastGrabbedIndex(1);
    EXPECT_EQ(ring.GetActBuffer(), a);  // c is locked
    EXPECT_EQ(ring.GetLastGrabbedBuffer(), b);
    EXPECT_EQ(ring.FindGrabberBuffer(c)->m_nIndex, 2);
    EXPECT_EQ(ring.GetAddBuffer(), extra);
    ring.ResetBuffers();
    EXPECT_EQ(ring.GetActBuffer(), nullptr);
    EXPECT_EQ(ring.GetAddBuffer(), nullptr);
    EXPECT_EQ(ring.GetLastGrabbedIndex(), -1);
}

}  // namespace
