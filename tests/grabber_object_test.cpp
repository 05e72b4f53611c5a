// A grabber's members, accessors, flag reset and copies.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

TEST(GrabberObject, ANewGrabberAndOneWhoseFlagsAreResetHaveNoDeviceFormatOrSizes) {
    TestGrabber g;
    EXPECT_TRUE(g.IsGraphStopped());
    EXPECT_FALSE(g.IsConnected());
    EXPECT_FALSE(g.IsContSnapRunning());
    EXPECT_FALSE(g.DoNoSingleSnap());
    EXPECT_EQ(g.GetWaitForCamStart(), 0);
    EXPECT_EQ(g.GetGB()->GetCount(), 3);
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(g.GetDeviceNumber(), -1);
        EXPECT_EQ(g.m_nActColorMode, -1);
        EXPECT_EQ(g.m_nActGrabWidth, -1);
        EXPECT_EQ(g.m_nActGrabHeight, -1);
        EXPECT_EQ(g.GetImgBufSize(), 0);
        EXPECT_EQ(g.GetOldBufSize(), -1);
        g.SetDeviceNumber(4);
        g.m_nActColorMode = 5;
        g.m_nActGrabWidth = g.m_nActGrabHeight = 480;
        g.m_lImgBufSize = g.m_lOldBufSize = 1000;
        VORKDSGrabberTestPeer::ResetFlags(g);
    }
}

TEST(GrabberObject, CopiesOwnTheirMediaTypeAndShareTheRing) {
    TestGrabber a(L"A");
    a.m_pMediaType->majortype = MEDIATYPE_Video;
    a.m_pMediaType->cbFormat = sizeof(VIDEOINFOHEADER);
    a.m_pMediaType->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    a.SetDeviceNumber(2);
    {
        TestGrabber b(a);
        EXPECT_NE(b.m_pMediaType, a.m_pMediaType);
        EXPECT_NE(b.m_pMediaType->pbFormat, a.m_pMediaType->pbFormat);
        EXPECT_TRUE(IsEqualGUID(b.m_pMediaType->majortype, MEDIATYPE_Video));
        EXPECT_EQ(b.GetDeviceNumber(), 2);
        EXPECT_EQ(b.GetGB(), a.GetGB());
        TestGrabber c(L"C");
        c = a;
        EXPECT_EQ(c.GetGB(), a.GetGB());
        EXPECT_NE(c.m_pMediaType, a.m_pMediaType);
    }  // the copies free their own records; the sanitizer build catches a double free
    EXPECT_TRUE(IsEqualGUID(a.m_pMediaType->majortype, MEDIATYPE_Video));
}

}  // namespace
