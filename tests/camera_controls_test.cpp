// Camera properties in percent, gain and offset, backlight compensation and the
// property dialog, as they reach the virtual camera.
#include "TestSupport.h"

#include "Percent.h"

namespace {

using vorktest::BoardTest;

// The one table of the conversions; the tests below check only that the
// device's range reaches them.
TEST(Percent, ConvertsWithRoundingHalfAwayFromZero) {
    struct {
        LONG min, max;
        int percent;
        LONG value;
    } toDevice[] = {{0, 255, 50, 128}, {0, 255, 100, 255}, {0, 255, 150, 383}, {-64, 64, 0, -64},
                    {-64, 64, 50, 0},  {-10, 10, 33, -3},  {-10, 10, 25, -5}};
    for (const auto& c : toDevice) EXPECT_EQ(VORKPercentToDeviceValue(c.min, c.max, c.percent), c.value);
    struct {
        LONG min, max, value;
        int percent;
    } toPercent[] = {{0, 255, 128, 50}, {0, 255, 127, 50}, {0, 255, 255, 100}, {-64, 64, 0, 50}, {-10, 10, -3, 35},
                     {5, 5, 5, 0}};
    for (const auto& c : toPercent) EXPECT_EQ(VORKDeviceValueToPercent(c.min, c.max, c.value), c.percent);
}

class CameraControlsTest : public BoardTest {
protected:
    void Open(const vorksim::CameraDescription& d) {
        camera = vorksim::AddCamera(d);
        grabber = std::make_unique<TestGrabber>(L"G");
        ASSERT_TRUE(grabber->InitBoard());
    }
    void TearDown() override {
        if (grabber) grabber->CloseBoard();
        grabber.reset();
        BoardTest::TearDown();
    }
    vorksim::CameraProperty Device(LONG property) { return vorksim::GetCameraState(camera).procAmp[property]; }

    vorksim::CameraId camera = 0;
    std::unique_ptr<TestGrabber> grabber;
};

vorksim::CameraProperty Range(LONG min, LONG max) {
    vorksim::CameraProperty p;
    p.min = min;
    p.max = max;
    p.defaultValue = p.value = min;
    p.caps = 3;
    return p;
}

TEST_F(CameraControlsTest, PercentagesReachTheDeviceAndReadBack) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.procAmp[VideoProcAmp_Hue] = Range(-10, 10);
    d.cameraControl[CameraControl_Focus] = Range(-10, 10);
    Open(d);
    int percent = -1;
    EXPECT_EQ(grabber->SetProcAmpParam(VideoProcAmp_Hue, 33, 2), 0);
    EXPECT_EQ(Device(VideoProcAmp_Hue).value, -3);
    EXPECT_EQ(grabber->GetProcAmpParam(VideoProcAmp_Hue, percent, nullptr), 0);
    EXPECT_EQ(percent, 35);
    EXPECT_EQ(grabber->SetCamCtrlParam(CameraControl_Focus, 25, 1), 0);
    int flags = 0;
    EXPECT_EQ(grabber->GetCamCtrlParam(CameraControl_Focus, percent, &flags), 0);
    EXPECT_EQ(flags, 1);
    EXPECT_EQ(vorksim::GetCameraState(camera).cameraControl[CameraControl_Focus].flags, 1);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(CameraControlsTest, RefusalsAndMissingPropertiesAreReported) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.procAmp.erase(VideoProcAmp_Gamma);
    Open(d);
    int percent = 0;
    EXPECT_EQ(grabber->SetProcAmpParam(VideoProcAmp_Gamma, 50, 2), 11);  // unsupported: not logged
    EXPECT_EQ(grabber->GetProcAmpParam(VideoProcAmp_Gamma, percent, nullptr), 11);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(grabber->SetProcAmpParam(VideoProcAmp_Gain, 150, 2), 11);  // out of range: the device says no
    EXPECT_TRUE(HasLine(L"DirectShow error: The parameter is incorrect.", 0));
    TestGrabber bare;
    EXPECT_EQ(bare.SetProcAmpParam(VideoProcAmp_Gain, 50, 2), 2);
    EXPECT_EQ(bare.GetCamCtrlParam(CameraControl_Pan, percent, nullptr), 2);
}

TEST_F(CameraControlsTest, GainAndOffsetNeedTheChannelsAvailability) {
    Open(vorksim::DefaultCameraDescription());
    EXPECT_EQ(grabber->WriteADGain(50, 0), 3);
    EXPECT_EQ(Device(VideoProcAmp_Gain).value, 0);  // nothing reached the device
    CVORKChannelParams params(L"ChannelParams");
    grabber->GetCamChannelParams(params, 0);
    params.m_Gain.bAvailable = 1;
    grabber->SetCamChannelParams(params, 0);
    EXPECT_EQ(grabber->WriteADGain(50, 0), 0);
    EXPECT_EQ(Device(VideoProcAmp_Gain).value, 128);
    EXPECT_EQ(grabber->WriteADOffset(100, 0), 3);  // the offset is the brightness, which is not offered yet
    params.m_Brightness.bAvailable = 1;
    grabber->SetCamChannelParams(params, 0);
    EXPECT_EQ(grabber->WriteADOffset(100, 0), 0);
    EXPECT_EQ(Device(VideoProcAmp_Brightness).value, 255);
    int value = 0;
    EXPECT_EQ(grabber->ReadADOffset(value, 0), 0);
    EXPECT_EQ(value, 100);
    EXPECT_EQ(grabber->ReadADGain(value, 7), 3);  // no such channel
}

TEST_F(CameraControlsTest, BacklightCompensationIsSwitched) {
    Open(vorksim::DefaultCameraDescription());
    int percent = 0;
    bool automatic = true, enabled = true;
    EXPECT_EQ(grabber->SetBacklightComp(100, false, true), 0);
    EXPECT_EQ(Device(VideoProcAmp_BacklightCompensation).value, 2);
    EXPECT_EQ(grabber->GetBacklightComp(percent, automatic, enabled), 0);
    EXPECT_EQ(percent, 100);
    EXPECT_FALSE(automatic);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(grabber->SetBacklightComp(0, false, false), 0);
    EXPECT_EQ(Device(VideoProcAmp_BacklightCompensation).value, 1);  // the device's default
    EXPECT_EQ(grabber->GetBacklightComp(percent, automatic, enabled), 0);
    EXPECT_EQ(percent, -1);
    EXPECT_FALSE(automatic);
    EXPECT_FALSE(enabled);
}

TEST_F(CameraControlsTest, WithoutAProcAmpTheSwitchStaysAsItWas) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.hasProcAmp = false;
    Open(d);
    grabber->m_bBacklightCompEnabled = true;
    EXPECT_EQ(grabber->SetBacklightComp(50, false, false), 2);
    EXPECT_TRUE(grabber->m_bBacklightCompEnabled);
}

TEST_F(CameraControlsTest, ThePropertyDialogShowsTheDevicesPages) {
    TestGrabber before;
    EXPECT_EQ(before.ShowVideoSourcePropertyDlg(nullptr), 0);
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::ShowVideoSourcePropertyDlg: No valid camera object!", 2));
    Open(vorksim::DefaultCameraDescription());
    const size_t shown = vorksim::PropertyFrameCalls().size();
    HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(grabber->ShowVideoSourcePropertyDlg(owner), 0);
    auto calls = vorksim::PropertyFrameCalls();
    ASSERT_EQ(calls.size(), shown + 1);
    EXPECT_EQ(calls.back().owner, owner);
    EXPECT_EQ(calls.back().caption, L"Source");
    EXPECT_EQ(calls.back().objects, 1u);
    EXPECT_EQ(calls.back().pages, 2u);
    vorksim::CameraFaults faults;
    faults.getPagesFails = true;
    vorksim::SetFaults(camera, faults);
    EXPECT_EQ(grabber->ShowVideoSourcePropertyDlg(owner), 0);
    EXPECT_EQ(vorksim::PropertyFrameCalls().size(), shown + 1);  // no frame without pages
}

}  // namespace
