// Choosing a grabber's capture device when its board opens.
#include "TestSupport.h"

namespace {

using vorktest::BoardTest;

std::wstring FallbackText(const std::wstring& part) {
    return L"Could not connect DirectShow camera with FriendlyName " + part +
           L"!\r\nTry to connect default camera instead";
}

class DeviceSelectionTest : public BoardTest {
protected:
    // Opens a board named "Cam"; the test's end closes it.
    bool Open() {
        grabber = &Keep(std::make_unique<TestGrabber>(L"Cam"));
        return grabber->InitBoard();
    }
    TestGrabber* grabber = nullptr;
};

TEST_F(DeviceSelectionTest, TheConfiguredNamePartAndWholePathChooseTheDevice) {
    const wchar_t* const paths[] = {L"path-a", L"path-10", L"path-1", L"path-100"};
    AddCamera(L"Alpha Cam", paths[0]);
    for (int i = 1; i < 4; ++i) AddCamera(L"USB Video Device", paths[i]);
    struct Case {
        const char* ini;
        int device;
        const wchar_t* fallback;  // the part the fallback event names; nullptr: none
    } cases[] = {
        {"FriendlyNamePart=Video\n", 1, nullptr},                        // a part of the name, the first such
        {"FriendlyNamePart=Video\nDevicePath=path-1\n", 2, nullptr},     // the whole path, never a part of it
        {"FriendlyNamePart=video\n", 0, L"video"},                       // case-sensitive
        {"", 0, L""},                                                    // one character or less: not configured
        {"FriendlyNamePart=V\n", 0, L"V"},
        {"FriendlyNamePart=V\nDevicePath=p\n", 0, L"V"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        WriteIni(std::string("[Cam]\n") + c.ini);
        events.Clear();
        ASSERT_TRUE(Open());
        EXPECT_EQ(grabber->GetDeviceNumber(), c.device);
        VORKCamInfo info{};
        grabber->GetActCamInfo(info);
        EXPECT_EQ(info.nDeviceNumber, c.device);
        EXPECT_STREQ(info.szDevicePath, paths[c.device]);
        EXPECT_STREQ(info.szFriendlyName, c.device ? L"USB Video Device" : L"Alpha Cam");  // not the list's suffix
        if (c.fallback) {
            ASSERT_EQ(events.Events().size(), 1u);
            EXPECT_EQ(events.Events()[0].text, FallbackText(c.fallback));
        } else {
            EXPECT_TRUE(events.Events().empty());
            EXPECT_STREQ(grabber->m_szDefaultFriendlyName, L"");
            EXPECT_EQ(Ini(L"Cam", L"FriendlyNamePart"), L"Video");  // no rewrite
        }
        grabber->CloseBoard();
    }
}

TEST_F(DeviceSelectionTest, AnUnknownDeviceFallsBackToTheFirstAndRewritesTheSettings) {
    AddCamera(L"First Cam", L"p0");
    AddCamera(L"Second Cam", L"p1");
    WriteIni("[Cam]\nFriendlyNamePart=Missing\nDevicePath=nowhere\n[Other]\nKeep=1\n");
    ASSERT_TRUE(Open());
    ASSERT_EQ(events.Events().size(), 1u);
    EXPECT_EQ(events.Events()[0].code, 10);
    EXPECT_EQ(events.Events()[0].text, FallbackText(L"Missing"));
    EXPECT_EQ(grabber->GetDeviceNumber(), 0);
    EXPECT_STREQ(grabber->m_szDefaultFriendlyName, L"First Cam");
    EXPECT_EQ(Ini(L"Cam", L"FriendlyNamePart"), L"First Cam");
    EXPECT_EQ(Ini(L"Cam", L"DevicePath"), L"");
    EXPECT_EQ(Ini(L"Other", L"Keep"), L"1");
    // In memory the settings stay as they were read.
    EXPECT_STREQ(grabber->m_szFriendlyNamePart, L"Missing");
}

TEST_F(DeviceSelectionTest, ReopeningAfterTheCameraIsGoneLeavesNoCurrentCamera) {
    const vorksim::CameraId cam = AddCamera(L"Only Cam", L"only");
    WriteIni("[Cam]\nFriendlyNamePart=Only Cam\n");
    ASSERT_TRUE(Open());
    EXPECT_STREQ(grabber->m_ActCamInfo.szFriendlyName, L"Only Cam");
    grabber->CloseBoard();
    vorksim::RemoveCamera(cam);
    EXPECT_FALSE(grabber->InitBoard());
    VORKCamInfo now{};
    grabber->GetActCamInfo(now);
    EXPECT_STREQ(now.szFriendlyName, L"");
    EXPECT_STREQ(now.szDevicePath, L"");
}

TEST_F(DeviceSelectionTest, TheSearchLooksAtTwentyDevicesAndTheFallbackAtAll) {
    for (const int plain : {20, 19}) {  // the 21st device is the fallback's first; the 20th is found
        WriteIni("[Cam]\nFriendlyNamePart=Special\n");  // the fallback rewrote it
        vorksim::RemoveAllCameras();
        for (int i = 0; i < plain; ++i) AddCamera(L"Plain");
        AddCamera(L"Special");
        events.Clear();
        ASSERT_TRUE(Open());
        EXPECT_EQ(events.Codes(), plain == 20 ? std::vector<int>{10} : std::vector<int>{});
        EXPECT_EQ(grabber->GetDeviceNumber(), plain == 20 ? 0 : 19);
        grabber->CloseBoard();
    }
}

TEST_F(DeviceSelectionTest, AMatchingDeviceThatCannotBeBoundEndsTheSearch) {
    AddCamera(L"Good Alpha");
    vorksim::CameraDescription bad = vorksim::DefaultCameraDescription();
    bad.friendlyName = L"Bad Beta";
    bad.faults.bindFails = true;
    vorksim::AddCamera(bad);
    AddCamera(L"Good Beta");
    WriteIni("[Cam]\nFriendlyNamePart=Beta\n");
    ASSERT_TRUE(Open());
    EXPECT_EQ(events.Codes(), std::vector<int>{10});
    EXPECT_EQ(grabber->GetDeviceNumber(), 0);  // the fallback, not the later match
    EXPECT_TRUE(HasLine(L"DirectShow error: Unspecified error", 0));
}

TEST_F(DeviceSelectionTest, DevicesWithUnreadablePropertiesGetFallbackNames) {
    struct Case {
        bool bag;
        std::optional<std::wstring> name;
        std::optional<std::wstring> path;
        std::wstring expectedName;
        std::wstring expectedPath;
    } cases[] = {
        {false, L"Cam", L"p", L"Unknown_friendly_name", L"Unknown_device_path_cam_Unknown_friendly_name_0"},
        {true, L"Named", std::nullopt, L"Named", L"Unknown_device_path_cam_Named_0"},
        {true, std::nullopt, L"only-path", L"", L"only-path"},
    };
    for (const Case& c : cases) {
        vorksim::RemoveAllCameras();
        vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
        d.friendlyName = c.name;
        d.devicePath = c.path;
        d.faults.propertyBagFails = !c.bag;
        vorksim::AddCamera(d);
        WriteIni("");
        ASSERT_TRUE(Open());
        EXPECT_EQ(std::wstring(grabber->m_ActCamInfo.szFriendlyName), c.expectedName);
        EXPECT_EQ(std::wstring(grabber->m_ActCamInfo.szDevicePath), c.expectedPath);
        grabber->CloseBoard();
    }
    // A fallback to a device without a readable name writes an empty part.
    EXPECT_EQ(Ini(L"Cam", L"FriendlyNamePart"), L"");
}

TEST_F(DeviceSelectionTest, PropertyReadersFollowOnePattern) {
    AddCamera(L"Reader Cam", L"reader-path");
    ASSERT_TRUE(Open());
    CComPtr<ICreateDevEnum> devEnum = grabber->m_pDevEnum;
    CComPtr<IEnumMoniker> monikers;
    devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    CComPtr<IMoniker> moniker;
    ASSERT_EQ(monikers->Next(1, &moniker, nullptr), S_OK);
    wchar_t text[2048] = L"untouched";
    EXPECT_EQ(grabber->GetFriendlyName(nullptr, text), 4);
    EXPECT_EQ(grabber->GetFriendlyName(moniker, nullptr), 4);
    EXPECT_EQ(grabber->GetPropertyString(moniker, L"NoSuchProperty", text), 0);
    EXPECT_STREQ(text, L"untouched");
    EXPECT_EQ(grabber->GetDevicePath(moniker, text), 0);
    EXPECT_STREQ(text, L"reader-path");
    LONG value = 7;
    EXPECT_EQ(grabber->GetPropertyLong(moniker, L"NoSuchProperty", value), 0);
    EXPECT_EQ(value, 7);
}

}  // namespace
