// The plug-in module as the host uses it: loading, InitDll and DeInitDll.
#include <gtest/gtest.h>

#include "Module.h"
#include "TestSupport.h"

namespace {

using vorktest::PluginModule;

class OtherGrabber : public CVORKGrabberBase {
public:
    OtherGrabber() : CVORKGrabberBase(L"Other", 0, L"OTHER", false) {}
};

std::wstring NameOf(CVORKGrabberBase* grabber) {
    wchar_t name[256];
    grabber->GetGrabberName(name);
    return name;
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ini_ = dir_.File("camera.ini");
        VORKSetIniFileName(ini_.c_str());
        container_ = GetGrabberContainer();
        ASSERT_NE(container_, nullptr);
        ASSERT_EQ(container_->GetGrabberCount(), 0);
    }
    void TearDown() override {
        while (container_->GetGrabberCount() > 0) {
            CVORKGrabberBase* g = container_->GetGrabber(0);
            container_->RemoveGrabber(g);
            if (!dynamic_cast<CVORKDirectShowGrabber*>(g)) delete g;
        }
        VORKSetGrabberContainerAvailable(true);
    }

    vorktest::ComScope com_;
    vorktest::TempDir dir_;
    std::wstring ini_;
    PluginModule module_;
    CVORKGrabberContainer* container_ = nullptr;
};

TEST_F(ModuleTest, LoadingRegistersTheWindowClassAndUnloadingRemovesIt) {
    WNDCLASSW wc{};
    ASSERT_TRUE(GetClassInfoW(nullptr, L"IMediaEventDummyWndClass", &wc));
    EXPECT_EQ(wc.style, static_cast<UINT>(CS_NOCLOSE));
    EXPECT_EQ(wc.lpfnWndProc, &CVORKDirectShowGrabber::VideoWndProcedureGlobal);
    EXPECT_EQ(wc.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(6)));
    EXPECT_EQ(wc.hInstance, reinterpret_cast<HINSTANCE>(module_.handle()));
    EXPECT_EQ(CVORKDirectShowGrabber::m_hInstance, reinterpret_cast<HINSTANCE>(module_.handle()));
    {
        PluginModule second;  // a second load does not start the module again
        EXPECT_TRUE(GetClassInfoW(nullptr, L"IMediaEventDummyWndClass", &wc));
    }
    EXPECT_TRUE(GetClassInfoW(nullptr, L"IMediaEventDummyWndClass", &wc));
    FreeLibrary(module_.handle());
    EXPECT_FALSE(GetClassInfoW(nullptr, L"IMediaEventDummyWndClass", &wc));
    HMODULE again = LoadLibraryW(std::wstring(L"" VORK_PLUGIN_PATH).c_str());
    ASSERT_EQ(again, module_.handle());
    EXPECT_TRUE(GetClassInfoW(nullptr, L"IMediaEventDummyWndClass", &wc));
}

TEST_F(ModuleTest, InitDllNamesAndNumbersTheGrabber) {
    const std::wstring longName(400, L'x');
    struct Case {
        const wchar_t* name;
        int number;
        std::wstring expectedName;
        int expectedNumber;
    } cases[] = {
        {nullptr, -5, L"DSGRABBER", 0},
        {L"", 2, L"", 2},
        {L"Cam", 7, L"Cam", 7},
        {longName.c_str(), 0, std::wstring(255, L'x'), 0},  // cut to the framework's buffer
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(InitDll(c.name, c.number));
        ASSERT_EQ(container_->GetGrabberCount(), 1);
        CVORKGrabberBase* g = container_->GetGrabber(0);
        ASSERT_NE(dynamic_cast<CVORKDirectShowGrabber*>(g), nullptr);
        EXPECT_EQ(NameOf(g), c.expectedName);
        EXPECT_EQ(g->GetGrabberNumber(), c.expectedNumber);
        wchar_t type[256];
        g->GetGrabberTypeName(type);
        EXPECT_STREQ(type, L"DSGRABBER");
        EXPECT_EQ(g->GetNumImgBuffers(), 3);
        ASSERT_TRUE(DeInitDll());
        EXPECT_EQ(container_->GetGrabberCount(), 0);
    }
}

TEST_F(ModuleTest, DeInitDllRemovesTheFirstDirectShowGrabberPerCall) {
    EXPECT_TRUE(DeInitDll());  // an empty container
    auto* other = new OtherGrabber;
    container_->AddGrabber(other);
    InitDll(L"A", 0);
    InitDll(L"A", 0);  // a grabber of its own even for the same name
    ASSERT_EQ(container_->GetGrabberCount(), 3);
    CVORKGrabberBase* second = container_->GetGrabber(2);
    EXPECT_NE(container_->GetGrabber(1), second);

    EXPECT_TRUE(DeInitDll());
    ASSERT_EQ(container_->GetGrabberCount(), 2);
    EXPECT_EQ(container_->GetGrabber(0), other);
    EXPECT_EQ(container_->GetGrabber(1), second);

    EXPECT_TRUE(DeInitDll());
    ASSERT_EQ(container_->GetGrabberCount(), 1);
    EXPECT_EQ(container_->GetGrabber(0), other);

    EXPECT_TRUE(DeInitDll());
    EXPECT_EQ(container_->GetGrabberCount(), 1);

    // Without a container nothing is created or removed.
    InitDll(L"Kept", 0);
    VORKSetGrabberContainerAvailable(false);
    EXPECT_FALSE(InitDll(L"New", 0));
    EXPECT_FALSE(DeInitDll());
    VORKSetGrabberContainerAvailable(true);
    EXPECT_EQ(container_->GetGrabberCount(), 2);
    DeInitDll();
}

}  // namespace
