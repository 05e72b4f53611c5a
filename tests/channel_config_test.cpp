// Setting up a channel from the INI file and applying its properties.
#include "TestSupport.h"

#include "vork/utf8.h"

namespace {

using vorktest::BoardTest;

class ChannelConfigTest : public BoardTest {
protected:
    TestGrabber* Open(vorksim::CameraDescription d, const wchar_t* name = L"G") {
        camera = vorksim::AddCamera(d);
        grabber = &Keep(std::make_unique<TestGrabber>(name));
        EXPECT_TRUE(grabber->InitBoard());
        return grabber;
    }
    void SetUpChannel() {
        params = std::make_unique<CVORKChannelParams>(L"G_Channel0");
        grabber->HWSpecificChannelSetup(L"", *params);
    }
    vorksim::CameraId camera = 0;
    TestGrabber* grabber = nullptr;
    std::unique_ptr<CVORKChannelParams> params;
};

TEST_F(ChannelConfigTest, WithoutAnIniFileEveryDefaultApplies) {
    TestGrabber* g = Open(vorksim::DefaultCameraDescription());
    SetUpChannel();
    EXPECT_TRUE(g->m_bMirrorVertical);
    EXPECT_FALSE(g->m_bMirrorHorizontal);
    EXPECT_TRUE(g->m_bUseSingleSnap);
    EXPECT_FALSE(g->DoNoSingleSnap());
    EXPECT_EQ(g->GetWaitForCamStart(), 1);
    EXPECT_EQ(params->m_nVideoMode, 5);
    EXPECT_FLOAT_EQ(g->m_fDefSaturation, 50.0f);
    EXPECT_FLOAT_EQ(g->m_fDefHue, 50.0f);
    EXPECT_FLOAT_EQ(g->m_fDefFocus, 50.0f);
    EXPECT_TRUE(g->m_bAutoFocus);
    EXPECT_FALSE(g->m_bUseCameraControlProperties);
    EXPECT_TRUE(g->m_bDefColorEnable);
    EXPECT_FLOAT_EQ(g->m_fDefFramerate, 10.0f);
    EXPECT_TRUE(g->IsConnected());
    auto state = vorksim::GetCameraState(camera);
    EXPECT_EQ(state.procAmp[VideoProcAmp_Saturation].value, 100);  // 50 % of 0..200
    EXPECT_EQ(state.procAmp[VideoProcAmp_Hue].value, 0);           // 50 % of -180..180
    EXPECT_EQ(state.procAmp[VideoProcAmp_ColorEnable].value, 1);   // enabled: the top of 0..1
    EXPECT_EQ(state.videoInfo.AvgTimePerFrame, 333333);            // no frame rate configured
    EXPECT_EQ(state.cameraControl[CameraControl_Exposure].flags, CameraControl_Flags_Auto);  // as the record says
    EXPECT_EQ(state.procAmp[VideoProcAmp_WhiteBalance].flags, VideoProcAmp_Flags_Auto);
    for (const VORKCamProperty* p : {&params->m_Exposure, &params->m_Gain, &params->m_Brightness, &params->m_Contrast,
                                     &params->m_Sharpness, &params->m_Gamma, &params->m_BacklightComp,
                                     &params->m_WhiteBalance})
        EXPECT_EQ(p->bAvailable, 1);
    float min = 0, max = 0;
    g->GetGainRange(min, max);
    EXPECT_FLOAT_EQ(max, 255.0f);
    g->GetOffsetRange(min, max);
    EXPECT_FLOAT_EQ(max, 255.0f);
}

TEST_F(ChannelConfigTest, SettingsAreReadFromTheChannelsSection) {
    WriteIni("[G_Channel0]\nMirrorImgVerticalInPlace=0\nMirrorImgHorizontalInPlace=1\nWaitForCamStart=250\n"
             "VideoMode=2\nDefSaturation=not a number\nDefFocus=49.5\nDefHue=50.4\nDefColorEnable=0\n"
             "UseCameraControlProperties=1\nAutoFocus=0\nDefFramerate=15\nUseSingleSnap=0\n");
    TestGrabber* g = Open(vorksim::DefaultCameraDescription());
    SetUpChannel();
    EXPECT_FALSE(g->m_bMirrorVertical);
    EXPECT_TRUE(g->m_bMirrorHorizontal);
    EXPECT_EQ(g->GetWaitForCamStart(), 250);
    EXPECT_EQ(params->m_nVideoMode, 2);
    auto state = vorksim::GetCameraState(camera);
    EXPECT_EQ(state.procAmp[VideoProcAmp_Saturation].value, 0);  // not a number: 0 %
    EXPECT_EQ(state.procAmp[VideoProcAmp_Hue].value, 0);         // 50.4 gives 50 %
    EXPECT_EQ(state.procAmp[VideoProcAmp_ColorEnable].value, 0);
    EXPECT_EQ(state.cameraControl[CameraControl_Focus].value, 125);  // 49.5 gives 50 % of 0..250
    EXPECT_EQ(state.cameraControl[CameraControl_Focus].flags, 2);
    EXPECT_EQ(state.videoInfo.AvgTimePerFrame, 666666);  // the configured 15 fps
    EXPECT_TRUE(g->DoNoSingleSnap());
    WriteIni("[G_Channel0]\nUseSingleSnap=1\n");  // a zero sticks
    SetUpChannel();
    EXPECT_TRUE(g->DoNoSingleSnap());
}

TEST_F(ChannelConfigTest, AFallbackToALogitechCameraSnapsContinuously) {
    const struct {
        const wchar_t* name;
        const char* ini;
        bool listed;
    } cases[] = {
        {L"Logitech QuickCam", "", true},
        {L"logitech quickcam", "", false},
        {L"Cam NOSINGLESNAP_DEVICES_END", "", false},  // the table's end marker is no device
        {L"Logitech Brio", "[G]\nFriendlyNamePart=Brio\n", false},  // found by its configured name: not tested
    };
    for (const auto& c : cases) {
        vorksim::RemoveAllCameras();
        vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
        d.friendlyName = c.name;
        WriteIni(c.ini);
        TestGrabber* g = Open(d);
        SetUpChannel();
        EXPECT_EQ(g->DoNoSingleSnap(), c.listed) << vork::Utf8(c.name);
        g->CloseBoard();
    }
}

TEST_F(ChannelConfigTest, ACameraWithoutCameraControlGetsNoPropertiesSet) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.hasCameraControl = false;
    Open(d);
    auto before = vorksim::GetCameraState(camera);
    SetUpChannel();
    EXPECT_TRUE(HasLine(L"CVORKDirectShowGrabber::ChannelDependentSetup: m_pCamCtrl not initialized!", 2));
    auto after = vorksim::GetCameraState(camera);
    EXPECT_EQ(after.procAmp[VideoProcAmp_Saturation].value, before.procAmp[VideoProcAmp_Saturation].value);
    EXPECT_EQ(params->m_Gain.bAvailable, 0);
}

TEST_F(ChannelConfigTest, CameraControlPropertiesCentrePanAndTiltEvenWithoutFocus) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.cameraControl.erase(CameraControl_Focus);
    d.cameraControl[CameraControl_Pan].value = 90;
    WriteIni("[G_Channel0]\nUseCameraControlProperties=1\n");
    Open(d);
    SetUpChannel();
    EXPECT_EQ(vorksim::GetCameraState(camera).cameraControl[CameraControl_Pan].value, 0);
}

TEST_F(ChannelConfigTest, UnsupportedPropertiesAreSkippedAndThreeAreLogged) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    for (LONG p : {VideoProcAmp_Gain, VideoProcAmp_Brightness, VideoProcAmp_Contrast, VideoProcAmp_Sharpness})
        d.procAmp.erase(p);
    Open(d);
    SetUpChannel();
    EXPECT_TRUE(HasLine(L"Property gain not supported by this video device!", E_PROP_ID_UNSUPPORTED));
    EXPECT_TRUE(HasLine(L"Property brigthness not supported by this video device!", E_PROP_ID_UNSUPPORTED));
    EXPECT_TRUE(HasLine(L"Property contrast not supported by this video device!", E_PROP_ID_UNSUPPORTED));
    EXPECT_EQ(log.Lines().size(), 3u);
    EXPECT_EQ(params->m_Gain.bAvailable, 0);
    EXPECT_EQ(params->m_Sharpness.bAvailable, 0);
}

TEST_F(ChannelConfigTest, WriteCamChannelAppliesTheStoredRecord) {
    TestGrabber* g = Open(vorksim::DefaultCameraDescription());
    CVORKChannelParams stored(L"ChannelParams");
    g->GetCamChannelParams(stored, 0);
    stored.m_Contrast.nValue = 100;
    g->SetCamChannelParams(stored, 0);
    EXPECT_EQ(g->WriteCamChannel(0), 0);
    EXPECT_EQ(vorksim::GetCameraState(camera).procAmp[VideoProcAmp_Contrast].value, 255);
    g->GetCamChannelParams(stored, 0);
    EXPECT_EQ(stored.m_Contrast.bAvailable, 1);
}

}  // namespace
