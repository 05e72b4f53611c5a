// The camera description files both platforms read: a format list written back
// by the registration of vorkvcam must read as the same formats, and every key
// lands where it belongs.
#include <gtest/gtest.h>

#include "vork/cameradescription.h"
#include "vork/utf8.h"

namespace {

TEST(CameraDescription, FormatListsSurviveBeingWrittenBack) {
    const wchar_t* lists[] = {
        L"640x480 RGB24 30",
        L"1x1 RGB8 0.5, 16384x1 RGB32 1000",
        L"720x480 RGB555 29.97, 641x481 RGB565 14.985, 320x240 YUY2 7.5, 1920x1080 MJPG 59.94",
        L"640x480 YUY2 30/15/7.5, 320x240 NV12 0, 1920x1080 H264 30",
    };
    for (const wchar_t* list : lists) {
        std::vector<vork::VideoFormat> formats, again;
        ASSERT_TRUE(vork::ParseFormats(list, formats)) << list;
        const std::wstring text = vork::FormatsText(formats);
        ASSERT_TRUE(vork::ParseFormats(text, again)) << text;
        ASSERT_EQ(again.size(), formats.size()) << text;
        for (size_t i = 0; i < formats.size(); ++i) {
            EXPECT_EQ(again[i].width, formats[i].width) << text;
            EXPECT_EQ(again[i].height, formats[i].height) << text;
            EXPECT_TRUE(IsEqualGUID(again[i].subtype, formats[i].subtype)) << text;
            EXPECT_DOUBLE_EQ(again[i].fps, formats[i].fps) << text;
            EXPECT_EQ(again[i].rates, formats[i].rates) << text;
            EXPECT_EQ(again[i].rateUnreported, formats[i].rateUnreported) << text;
        }
    }
    EXPECT_EQ(vork::FormatsText({{640, 480, MEDIASUBTYPE_RGB24, 30.0}, {320, 240, MEDIASUBTYPE_RGB565, 29.97}}),
              L"640x480 RGB24 30, 320x240 RGB565 29.97");
    std::vector<vork::VideoFormat> listed;
    ASSERT_TRUE(vork::ParseFormats(L"640x480 YUY2 15/30, 320x240 NV12 0", listed));
    EXPECT_DOUBLE_EQ(listed[0].fps, 15.0);
    EXPECT_EQ(listed[0].rates, (std::vector<double>{15.0, 30.0}));
    EXPECT_TRUE(listed[1].rateUnreported && listed[1].rates.empty());
    EXPECT_DOUBLE_EQ(listed[1].fps, 30.0) << "a camera that does not say runs at 30";
}

TEST(CameraDescription, EveryKeyLandsInItsCamera) {
    std::vector<vork::DescribedCamera> cameras;
    std::wstring error;
    ASSERT_TRUE(vork::ParseCameraDescriptions(
        L"; comment\n[one]\nFriendlyName=A\nDevicePath=p\nStreamConfig=0\nFrameRate=max\n"
        L"StartDelay=3000\nDarkFrames=5\nDropEvery=3\nUnplug=1500/200\nVideoInfo2=1\nBusy=1\nTopDown=1\n"
        L"Formats=640x480 RGB32 30, 640x480 YUY2 30\n"
        L"[two]\r\nProcAmp=0\r\nCameraControl=0\r\nPropertyBag=0\r\nBind=0\r\nUnplug=0\r\n",
        L"f.ini", cameras, error))
        << error;
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0].friendlyName.value_or(L"-"), L"A");
    EXPECT_EQ(cameras[0].devicePath.value_or(L"-"), L"p");
    EXPECT_FALSE(cameras[0].hasStreamConfig);
    EXPECT_TRUE(cameras[0].unthrottled);
    EXPECT_TRUE(cameras[0].hasProcAmp && cameras[0].hasCameraControl && cameras[0].propertyBagWorks && cameras[0].bindWorks);
    EXPECT_EQ(cameras[0].startDelayMs, 3000u);
    EXPECT_EQ(cameras[0].darkFrames, 5);
    EXPECT_EQ(cameras[0].dropEvery, 3);
    EXPECT_EQ(cameras[0].unplugAfterMs.value_or(0), 1500u);
    EXPECT_EQ(cameras[0].unplugBackMs.value_or(0), 200u);
    EXPECT_TRUE(cameras[0].videoInfo2 && cameras[0].busy);
    EXPECT_TRUE(cameras[0].formats[0].topDown) << "the key applies to the formats that follow it";
    EXPECT_FALSE(cameras[0].formats[1].topDown) << "YUY2 rows have no sign";
    EXPECT_EQ(cameras[1].unplugAfterMs.value_or(1), 0u);
    EXPECT_FALSE(cameras[1].unplugBackMs.has_value()) << "without a return time it stays away";
    EXPECT_FALSE(cameras[1].videoInfo2 || cameras[1].busy || cameras[1].startDelayMs || cameras[1].darkFrames);
    EXPECT_FALSE(cameras[1].friendlyName.has_value());
    EXPECT_TRUE(cameras[1].hasStreamConfig);
    EXPECT_FALSE(cameras[1].hasProcAmp || cameras[1].hasCameraControl || cameras[1].propertyBagWorks || cameras[1].bindWorks);
}

TEST(CameraDescription, ABadFileNamesWhereAndKeepsNothing) {
    struct Case {
        std::wstring text;
        const wchar_t* error;
    } cases[] = {
        {L"[a]\nFormats=640x480 RGB24 30\nFormats=320x240 RGB24 30\n", L"f.ini: [a] Formats: given twice"},
        {std::wstring(L"[a]\nFriendlyName=A\0B\n", 21), L"f.ini: [a] FriendlyName: bad value \"A\\x00B\""},
        {std::wstring(L"[\0a\0]\0\n", 7), L"f.ini: holds NUL characters in its first line; a description is UTF-8, not UTF-16"},
        {L"[a]\nTopDown=yes\n", L"f.ini: [a] TopDown: bad value \"yes\""},
        {L"[a]\nFormats=640x480 RGB24 30/0\n", L"f.ini: [a] Formats: bad value \"640x480 RGB24 30/0\""},
        {L"[a]\nFormats=640x480 RGB24 30/\n", L"f.ini: [a] Formats: bad value \"640x480 RGB24 30/\""},
        {L"[a]\nStartDelay=60001\n", L"f.ini: [a] StartDelay: bad value \"60001\""},
        {L"[a]\nDarkFrames=1.5\n", L"f.ini: [a] DarkFrames: bad value \"1.5\""},
        {L"[a]\nUnplug=100/3600001\n", L"f.ini: [a] Unplug: bad value \"100/3600001\""},
        {L"[a]\nFormats=8000x5001 RGB24 30\n", L"f.ini: [a] Formats: bad value \"8000x5001 RGB24 30\""},
        {L"[a]\nFormats=640x480 RGB24 1e3\n", L"f.ini: [a] Formats: bad value \"640x480 RGB24 1e3\""},
        {L"[a]\nColour=1\n", L"f.ini: [a] Colour: unknown key"},
        {L"key=1\n", L"f.ini: line 1: expected a [camera] section and key=value"},
        {L"[a]\n[b\n", L"f.ini: line 2: bad section header \"[b\""},
    };
    for (const Case& c : cases) {
        std::vector<vork::DescribedCamera> cameras(1);
        std::wstring error;
        EXPECT_FALSE(vork::ParseCameraDescriptions(c.text, L"f.ini", cameras, error)) << vork::Utf8(c.text);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(cameras.size(), 1u) << "a bad file changes nothing";
    }
}

}  // namespace
