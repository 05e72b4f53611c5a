// Sizing the framework's image buffers by measuring a frame.
#include "TestSupport.h"

namespace {

using vorktest::BoardTest;

// A ring that records what the grabber tells it.
class RecordingRing : public CVORKGrabberBuffersRing {
public:
    explicit RecordingRing(unsigned count) : CVORKGrabberBuffersRing(count) {}
    void SetBuffer(int index, BYTE* data) override {
        calls.push_back(L"SetBuffer " + std::to_wstring(index));
        CVORKGrabberBuffersRing::SetBuffer(index, data);
    }
    void SetAddBuffer(BYTE* data) override {
        calls.push_back(L"SetAddBuffer");
        CVORKGrabberBuffersRing::SetAddBuffer(data);
    }
    void ResetBuffers() override {
        calls.push_back(L"ResetBuffers");
        CVORKGrabberBuffersRing::ResetBuffers();
    }
    std::vector<std::wstring> calls;
};

class BufferSizingTest : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        AddCamera(L"Cam");
        grabber = &Keep(std::make_unique<TestGrabber>(L"G"));
        ring = new RecordingRing(4);
        grabber->m_pGB = ring;
        grabber->SetGB(ring);  // the framework owns it from here on
        ASSERT_TRUE(grabber->InitBoard());
    }
    TestGrabber* grabber = nullptr;
    RecordingRing* ring = nullptr;
};

TEST_F(BufferSizingTest, MeasuresAFrameAndGivesEveryBufferItsSize) {
    grabber->ClearImgBuffers();  // nothing to free, the ring is reset all the same
    EXPECT_EQ(ring->calls, std::vector<std::wstring>{L"ResetBuffers"});
    ring->calls.clear();
    grabber->UpdateImgBufferSizes(0);
    EXPECT_EQ(grabber->GetImgBufSize(), 921600);
    EXPECT_EQ(grabber->GetOldBufSize(), 921600);
    EXPECT_EQ(ring->calls, (std::vector<std::wstring>{L"ResetBuffers", L"SetBuffer 0", L"SetBuffer 1", L"SetBuffer 2",
                                                      L"SetBuffer 3", L"SetAddBuffer"}));
    std::vector<BYTE*> buffers{ring->GetAddBuffer()};
    for (int i = 0; i < 4; ++i) buffers.push_back(ring->GetGrabberBufferInRing(i)->m_pData);
    for (BYTE* b : buffers) {
        ASSERT_NE(b, nullptr);
        b[0] = 1;
        b[921599] = 2;  // the sanitizer build checks each is large enough
    }
    EXPECT_TRUE(grabber->IsConnected());
    EXPECT_TRUE(grabber->IsGraphStopped());
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Graph not connected, now connecting! Grabber: G",
                        -1));

    log.Clear();
    ring->calls.clear();
    grabber->UpdateImgBufferSizes(0);  // up to date: nothing at all
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_TRUE(ring->calls.empty());
    EXPECT_EQ(ring->GetAddBuffer(), buffers[0]);
}

TEST_F(BufferSizingTest, AFailedMeasurementKeepsTheOldBuffers) {
    grabber->UpdateImgBufferSizes(0);
    BYTE* add = ring->GetAddBuffer();
    grabber->m_lOldBufSize = -1;  // as if the format had been reset
    vorksim::SetCallFault("ISampleGrabber::GetCurrentBuffer", E_FAIL, 1);
    log.Clear();
    grabber->UpdateImgBufferSizes(0);
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::UpdateImgBufferSizes: GetCurrentBuffer failed!", 0));
    EXPECT_EQ(ring->GetAddBuffer(), add);
    EXPECT_EQ(grabber->GetOldBufSize(), -1);
    EXPECT_TRUE(grabber->IsGraphStopped());
}

TEST_F(BufferSizingTest, AGraphInContinuousModeRunsIntoTheTimeOutAndIsStillMeasured) {
    ASSERT_EQ(grabber->ConnectGraph(), 0);
    grabber->m_pSampleGrabber->SetOneShot(FALSE);
    grabber->UpdateImgBufferSizes(0);
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Timeout waiting for event!", 0));
    EXPECT_EQ(grabber->GetOldBufSize(), 921600);
}

TEST(BitmapInfoSize, IsTheHeaderPlusThePalette) {
    TestGrabber g;
    struct {
        DWORD size;
        DWORD colors;
        DWORD expected;
    } cases[] = {{40, 256, 1064}, {0, 0, 40}, {0, 2, 48}, {124, 0, 124}};
    for (const auto& c : cases) {
        BITMAPINFOHEADER h{};
        h.biSize = c.size;
        h.biClrUsed = c.colors;
        EXPECT_EQ(g.CalcBitmapInfoSize(h), c.expected);
    }
}

}  // namespace
