// The callback shared by every grabber: it records a frame's length and signals.
#include <gtest/gtest.h>

#include "SampleGrabberCB.h"
#include "TestSupport.h"

namespace {

TEST(SampleCallback, AnswersItsTwoInterfacesWithoutCounting) {
    void* object = nullptr;
    EXPECT_EQ(g_CB.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<ISampleGrabberCB*>(&g_CB));
    object = nullptr;
    EXPECT_EQ(g_CB.QueryInterface(IID_ISampleGrabberCB, &object), S_OK);
    EXPECT_EQ(object, static_cast<ISampleGrabberCB*>(&g_CB));
    object = &object;
    EXPECT_EQ(g_CB.QueryInterface(IID_IBaseFilter, &object), E_NOINTERFACE);
    EXPECT_EQ(object, &object);
    EXPECT_EQ(g_CB.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(g_CB.AddRef(), 2u);
        EXPECT_EQ(g_CB.Release(), 1u);
    }
    EXPECT_EQ(g_CB.SampleCB(0.0, nullptr), S_OK);
}

// A null buffer is refused without a signal or a length.
TEST(SampleCallback, FramesThatArriveBeforeAWaitSignalItOnce) {
    BYTE frame[4] = {};
    while (WaitForSingleObject(g_CB.m_hNewFrameEvent, 0) == WAIT_OBJECT_0) {
    }
    EXPECT_EQ(g_CB.BufferCB(0.0, frame, 100), S_OK);
    EXPECT_EQ(g_CB.BufferCB(0.1, frame, 200), S_OK);
    EXPECT_EQ(g_CB.BufferCB(0.2, frame, 300), S_OK);
    EXPECT_EQ(WaitForSingleObject(g_CB.m_hNewFrameEvent, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(g_CB.m_lLastBufferLen, 300);
    EXPECT_EQ(WaitForSingleObject(g_CB.m_hNewFrameEvent, 10), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(g_CB.BufferCB(0.4, nullptr, 500), E_POINTER);
    EXPECT_EQ(g_CB.m_lLastBufferLen, 300);
    EXPECT_EQ(WaitForSingleObject(g_CB.m_hNewFrameEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace
