#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace vorktest {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorktest-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (!made) throw std::runtime_error("mkdtemp failed");
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::wstring TempDir::File(const std::string& name) const { return (path_ / name).wstring(); }

void WriteTextFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string ReadTextFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

LogCapture::LogCapture() : id_(VORKAddErrorLogListener(&LogCapture::OnLine, this)) {}
LogCapture::~LogCapture() { VORKRemoveErrorLogListener(id_); }

void LogCapture::OnLine(void* context, const wchar_t* text, int code, int level) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.push_back({text, code, level});
}

std::vector<LogLine> LogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

size_t LogCapture::Count(const std::wstring& text) const {
    const auto lines = Lines();
    return std::count_if(lines.begin(), lines.end(), [&](const LogLine& l) { return l.text == text; });
}

bool LogCapture::Has(const std::wstring& text, int code, int level) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), LogLine{text, code, level}) != lines.end();
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

EventCapture::EventCapture() { VORKSetErrorEventHandler(&EventCapture::OnEvent, this); }
EventCapture::~EventCapture() { VORKSetErrorEventHandler(nullptr, nullptr); }

void EventCapture::OnEvent(void* context, CVORKGrabberBase* grabber, const wchar_t* text, int code) {
    auto* self = static_cast<EventCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->events_.push_back({grabber, text, code});
}

std::vector<ErrorEvent> EventCapture::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

void EventCapture::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

std::vector<int> EventCapture::Codes() const {
    std::vector<int> codes;
    for (const auto& e : Events()) codes.push_back(e.code);
    return codes;
}

PluginModule::PluginModule() {
    std::string path = VORK_PLUGIN_PATH;
    module_ = LoadLibraryW(std::wstring(path.begin(), path.end()).c_str());
    if (!module_) ADD_FAILURE() << "could not load " << path;
}

PluginModule::~PluginModule() { if (module_) FreeLibrary(module_); }

void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PumpPending();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
}

}  // namespace vorktest

#include "vorksim/com.h"
#include "vorksim/ui.h"

namespace vorktest {

void BoardTest::SetUp() {
    vorksim::RemoveAllCameras();
    vorksim::ClearCallFaults();
    ini = dir.File("camera.ini");
    VORKSetIniFileName(ini.c_str());
    VORKSetErrorLogFile(dir.File("errors.log").c_str());
    liveObjects = vorksim::LiveObjectCount();
    windows = vorksim::WindowCount();
}

void BoardTest::TearDown() {
    for (auto& g : kept) {
        g->StopGrabThread(true);
        g->DeInitGrabber();
        g->CloseBoard();
    }
    vorksim::RemoveAllCameras();
    vorksim::ClearCallFaults();
    PumpPending();
    EXPECT_TRUE(g_Grabbers.empty()) << "a grabber was left in g_Grabbers";
    EXPECT_EQ(vorksim::LiveObjectCount(), liveObjects) << "simulated COM objects leaked";
    EXPECT_EQ(vorksim::WindowCount(), windows) << "a window was left behind";
    kept.clear();
}

TestGrabber& BoardTest::Keep(std::unique_ptr<TestGrabber> grabber) {
    return *kept.emplace_back(std::move(grabber));
}

vorksim::CameraId BoardTest::AddCamera(const wchar_t* name, const wchar_t* path) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    if (name) d.friendlyName = name;
    else d.friendlyName.reset();
    if (path) d.devicePath = path;
    return vorksim::AddCamera(d);
}

void BoardTest::WriteIni(const std::string& text) { WriteTextFile(dir.path() / "camera.ini", text); }

std::wstring BoardTest::Ini(const wchar_t* section, const wchar_t* key) {
    wchar_t value[2048];
    GetPrivateProfileStringW(section, key, L"<missing>", value, 2048, ini.c_str());
    return value;
}

}  // namespace vorktest
