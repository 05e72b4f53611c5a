// The camera list the framework offers to the user.
#include "TestSupport.h"

namespace {

using vorktest::BoardTest;

class CameraListTest : public BoardTest {
protected:
    void Open() {
        grabber = &Keep(std::make_unique<TestGrabber>(L"G"));
        grabber->InitBoard();
    }
    std::vector<VORKCamInfo> List() {
        int count = -7;
        VORKCamInfo* infos = grabber->GetCamInfos(count);
        std::vector<VORKCamInfo> list;
        if (infos) list.assign(infos, infos + count);
        else EXPECT_EQ(count, -7);  // unchanged
        delete[] infos;
        return list;
    }
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        for (const auto& i : List()) names.push_back(i.szFriendlyName);
        return names;
    }
    TestGrabber* grabber = nullptr;
};

TEST_F(CameraListTest, DuplicateNamesGetTheirPositions) {
    const std::wstring longName(255, L'n');
    for (const wchar_t* name : {L"USB Camera", L"Other", L"USB Camera", L"A", L"A", L"A", longName.c_str(),
                                longName.c_str()})
        AddCamera(name, (L"p" + std::to_wstring(vorksim::Cameras().size())).c_str());
    Open();
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"USB Camera", L"Other", L"USB Camera_2", L"A", L"A_4", L"A_5",
                                                  longName, std::wstring(253, L'n') + L"_7"}));  // the suffix kept
    auto list = List();
    for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].nDeviceNumber, static_cast<int>(i));
        EXPECT_EQ(std::wstring(list[i].szDevicePath), L"p" + std::to_wstring(i));
    }
}

TEST_F(CameraListTest, UnreadableDevicesGetFallbackNamesAndPaths) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.faults.propertyBagFails = true;
    AddCamera(L"Readable", L"p0");
    vorksim::AddCamera(d);
    vorksim::AddCamera(d);
    Open();
    auto list = List();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_STREQ(list[1].szFriendlyName, L"Unknown_friendly_name");
    EXPECT_STREQ(list[1].szDevicePath, L"Unknown_device_path_cam_Unknown_friendly_name_1");
    EXPECT_STREQ(list[2].szFriendlyName, L"Unknown_friendly_name_2");
    EXPECT_STREQ(list[2].szDevicePath, L"Unknown_device_path_cam_Unknown_friendly_name_2");
}

TEST_F(CameraListTest, ATwentyFirstCameraIsNotListed) {
    for (int i = 0; i < 21; ++i) AddCamera((L"Cam " + std::to_wstring(i)).c_str());
    Open();
    auto list = List();
    ASSERT_EQ(list.size(), 20u);
    EXPECT_STREQ(list[19].szFriendlyName, L"Cam 19");
}

}  // namespace
