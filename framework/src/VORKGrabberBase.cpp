#include "VORKGrabberBase.h"

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <atomic>
#include <cwchar>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

void CopyName(wchar_t* to, const wchar_t* from) {
    std::swprintf(to, 256, L"%ls", from ? from : L"");
    to[255] = 0;
}

struct EventHandlerSlot {
    std::mutex mutex;
    VORKErrorEventHandler handler = nullptr;
    void* context = nullptr;
};

EventHandlerSlot& EventHandler() {
    static auto* slot = new EventHandlerSlot;
    return *slot;
}

std::atomic<bool> g_containerAvailable{true};

int BytesPerPixelOf(int mode) {
    switch (mode) {
    case VORKColorModeRGB8: return 1;
    case VORKColorModeGray16:
    case VORKColorModeRGB555:
    case VORKColorModeRGB565:
    case VORKColorModeYUV422: return 2;
    case VORKColorModeRGB32: return 4;
    default: return 3;
    }
}

constexpr int kNotSupported = 3;
constexpr int kInvalidSetting = 14;
constexpr int kMaxSide = 65535;
constexpr int kGrabThreadTimeoutMs = 2000;
// Allowed from arming acquisition to the first frame: a webcam takes seconds to
// start (USB set-up, exposure), and a timed-out wait would restart it.
constexpr int kCameraStartAllowanceMs = 10000;
constexpr DWORD kMaxBackoffMs = 500;

}  // namespace

// ---- CVORKGrabberBuffersRing ----------------------------------------------------

CVORKGrabberBuffersRing::CVORKGrabberBuffersRing(unsigned int count)
    : m_pEntries(new CVORKGrabberBuffer[count]), m_nCount(static_cast<int>(count)),
      m_hNewImage(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    for (int i = 0; i < m_nCount; ++i) m_pEntries[i].m_nIndex = i;
}

CVORKGrabberBuffersRing::~CVORKGrabberBuffersRing() {
    delete[] m_pEntries;
    if (m_hNewImage) CloseHandle(m_hNewImage);
}

int CVORKGrabberBuffersRing::GetCount() const { return m_nCount; }

CVORKGrabberBuffer* CVORKGrabberBuffersRing::GetGrabberBufferInRing(int index) {
    if (index < 0 || index >= m_nCount) return nullptr;
    return &m_pEntries[index];
}

CVORKGrabberBuffer* CVORKGrabberBuffersRing::FindGrabberBuffer(const BYTE* data) {
    if (!data) return nullptr;
    for (int i = 0; i < m_nCount; ++i)
        if (m_pEntries[i].m_pData == data) return &m_pEntries[i];
    return nullptr;
}

void CVORKGrabberBuffersRing::ResetBuffers() {
    VORKCameraLock lock;
    for (int i = 0; i < m_nCount; ++i) {
        m_pEntries[i].m_pData = nullptr;
        m_pEntries[i].m_bLocked = false;
    }
    m_pAddBuffer = nullptr;
    m_nActIndex = 0;
    m_nLastGrabbed = -1;
}

// The entry the next frame goes into. The host may have locked it since it was
// chosen (it locks the newest frame, and a small ring comes round to that one
// quickly): a locked entry is passed over, so that no frame is written into a
// buffer the host is reading.
BYTE* CVORKGrabberBuffersRing::GetActBuffer() {
    VORKCameraLock lock;
    if (m_nCount <= 0) return nullptr;
    for (int step = 0; step < m_nCount && m_pEntries[m_nActIndex].m_bLocked; ++step)
        m_nActIndex = (m_nActIndex + 1) % m_nCount;
    return m_pEntries[m_nActIndex].m_pData;
}

BYTE* CVORKGrabberBuffersRing::GetAddBuffer() {
    VORKCameraLock lock;
    return m_pAddBuffer;
}

void CVORKGrabberBuffersRing::SetBuffer(int index, BYTE* data) {
    VORKCameraLock lock;
    if (index >= 0 && index < m_nCount) m_pEntries[index].m_pData = data;
}

void CVORKGrabberBuffersRing::SetAddBuffer(BYTE* data) {
    VORKCameraLock lock;
    m_pAddBuffer = data;
}

void CVORKGrabberBuffersRing::SetLastGrabbedIndex(int index) {
    {
        VORKCameraLock lock;
        if (index < 0 || index >= m_nCount) return;
        m_nLastGrabbed = index;
        int next = index;
        for (int step = 0; step < m_nCount; ++step) {
            next = (next + 1) % m_nCount;
            if (!m_pEntries[next].m_bLocked) break;
        }
        m_nActIndex = next;
    }
    SetEvent(m_hNewImage);
}

int CVORKGrabberBuffersRing::GetLastGrabbedIndex() const {
    VORKCameraLock lock;
    return m_nLastGrabbed;
}

BYTE* CVORKGrabberBuffersRing::GetLastGrabbedBuffer() {
    VORKCameraLock lock;
    return m_nLastGrabbed >= 0 ? m_pEntries[m_nLastGrabbed].m_pData : nullptr;
}

bool CVORKGrabberBuffersRing::WaitForNewImage(DWORD timeoutMs) {
    return WaitForSingleObject(m_hNewImage, timeoutMs) == WAIT_OBJECT_0;
}

// ---- CVORKGrabberContainer ------------------------------------------------------

struct CVORKGrabberContainer::Impl {
    std::mutex mutex;
    std::vector<CVORKGrabberBase*> grabbers;
};

CVORKGrabberContainer::CVORKGrabberContainer() : m_pImpl(new Impl) {}

bool CVORKGrabberContainer::AddGrabber(CVORKGrabberBase* grabber) {
    if (!grabber) return false;
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->grabbers.push_back(grabber);
    return true;
}

bool CVORKGrabberContainer::RemoveGrabber(CVORKGrabberBase* grabber) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    auto& g = m_pImpl->grabbers;
    auto it = std::find(g.begin(), g.end(), grabber);
    if (it == g.end()) return false;
    g.erase(it);
    return true;
}

CVORKGrabberBase* CVORKGrabberContainer::GetGrabber(int index) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    if (index < 0 || index >= static_cast<int>(m_pImpl->grabbers.size())) return nullptr;
    return m_pImpl->grabbers[static_cast<size_t>(index)];
}

int CVORKGrabberContainer::GetGrabberCount() {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return static_cast<int>(m_pImpl->grabbers.size());
}

CVORKGrabberContainer* GetGrabberContainer() {
    static auto* container = new CVORKGrabberContainer;  // lives as long as the process
    return g_containerAvailable ? container : nullptr;
}

void VORKSetGrabberContainerAvailable(bool available) { g_containerAvailable = available; }

void VORKSetErrorEventHandler(VORKErrorEventHandler handler, void* context) {
    auto& slot = EventHandler();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.handler = handler;
    slot.context = context;
}

// ---- CVORKGrabberBase ---------------------------------------------------------------

struct CVORKGrabberBase::Impl {
    wchar_t name[256] = L"";
    wchar_t typeName[256] = L"";
    int number = 0;
    bool initNow = false;
    std::atomic<bool> initialized{false};
    // The framework owns the ring a grabber hands it; copies of a grabber share it.
    std::shared_ptr<CVORKGrabberBuffersRing> ring;
    HANDLE abortEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<LONG> lastImgNr{0};
    std::vector<CVORKChannelParams> channels;
    VORKColorMode colorMode = VORKColorModeRGB24;
    int grabWidth = 640;
    int grabHeight = 480;

    std::mutex threadMutex;
    std::thread grabThread;
    std::atomic<bool> grabThreadRunning{false};
    std::atomic<bool> runEmpty{false};
    std::atomic<LONG> threadFrames{0};
    std::atomic<LONG> threadErrors{0};

    Impl() = default;
    Impl(const Impl& o)
        : number(o.number), initNow(o.initNow), ring(o.ring), channels(o.channels), colorMode(o.colorMode),
          grabWidth(o.grabWidth), grabHeight(o.grabHeight) {
        CopyName(name, o.name);
        CopyName(typeName, o.typeName);
    }
    ~Impl() {
        if (abortEvent) CloseHandle(abortEvent);
    }
};

CVORKGrabberBase::CVORKGrabberBase(const wchar_t* name, int number, const wchar_t* typeName, bool initNow)
    : m_pBase(new Impl) {
    CopyName(m_pBase->name, name);
    CopyName(m_pBase->typeName, typeName);
    m_pBase->number = number;
    m_pBase->initNow = initNow;
    wchar_t channelName[300];
    std::swprintf(channelName, 300, L"%ls_Channel0", m_pBase->name);
    m_pBase->channels.emplace_back(channelName);
}

CVORKGrabberBase::CVORKGrabberBase(const CVORKGrabberBase& other)
    : m_fGainMin(other.m_fGainMin), m_fGainMax(other.m_fGainMax), m_fOffsetMin(other.m_fOffsetMin),
      m_fOffsetMax(other.m_fOffsetMax), m_pBase(new Impl(*other.m_pBase)) {}

CVORKGrabberBase& CVORKGrabberBase::operator=(const CVORKGrabberBase& other) {
    if (this == &other) return *this;
    Impl* copy = new Impl(*other.m_pBase);
    StopGrabThread(true);
    delete m_pBase;
    m_pBase = copy;
    m_fGainMin = other.m_fGainMin;
    m_fGainMax = other.m_fGainMax;
    m_fOffsetMin = other.m_fOffsetMin;
    m_fOffsetMax = other.m_fOffsetMax;
    return *this;
}

CVORKGrabberBase::~CVORKGrabberBase() {
    StopGrabThread(true);
    delete m_pBase;
}

bool CVORKGrabberBase::InitBoard() { return false; }
void CVORKGrabberBase::CloseBoard() {}
void CVORKGrabberBase::HWSpecificChannelSetup(const wchar_t*, CVORKChannelParams&) {}

bool CVORKGrabberBase::InitGrabber(bool initBoard) {
    if (!initBoard) return true;
    m_pBase->initialized = false;
    if (!InitBoard()) {
        VORKWriteErrorLog(L"CVORKGrabberBase::InitGrabber: InitBoard failed!", 2, 2);
        return false;
    }
    wchar_t ini[256];
    VORKGetIniFileName(ini);
    for (size_t ch = 0; ch < m_pBase->channels.size(); ++ch) {
        CVORKChannelParams params = m_pBase->channels[ch];
        HWSpecificChannelSetup(m_pBase->name, params);
        m_pBase->channels[ch] = params;
        // The framework's own format settings of the channel, applied after the
        // grabber has set the channel up and before the buffers are sized. A
        // colour mode is always asked for (RGB24 unless the run or the file names
        // another), since the framework reads pixels, not a camera's YUY2 or MJPG.
        // A grab rectangle is asked for only when given: otherwise the camera
        // keeps its size, and one that cannot be told a size opens quietly.
        int mode = VORKColorModeRGB24;
        int width = 640;
        int height = 480;
        bool given = false;
        if (!ReadSetting(params.m_szName, L"ColorMode", ini, VORKColorModeRGB8, VORKColorModeUnknown, mode, given))
            ReportSetting(L"colour mode", kInvalidSetting);
        else
            ReportSetting(L"colour mode", SetColorMode(static_cast<VORKColorMode>(mode)));
        bool widthGiven = false, heightGiven = false;
        if (!ReadSetting(params.m_szName, L"GrabWidth", ini, 1, kMaxSide, width, widthGiven) ||
            !ReadSetting(params.m_szName, L"GrabHeight", ini, 1, kMaxSide, height, heightGiven))
            ReportSetting(L"grab rectangle", kInvalidSetting);
        else if (widthGiven || heightGiven)
            ReportSetting(L"grab rectangle", SetGrabRect(width, height));
    }
    m_pBase->initialized = true;
    UpdateImgBufferSizes(0);
    return true;
}

// A format setting of the channel as a whole number within [min, max], from the
// host's settings for the run or else the INI file; absent,
// it keeps `value` and `given` is false. A value outside (text, a number too
// large for 32 bits) is logged with its key and not applied.
bool CVORKGrabberBase::ReadSetting(const wchar_t* section, const wchar_t* key, const wchar_t* ini, int min, int max,
                                   int& value, bool& given) {
    wchar_t text[64] = L"";
    const DWORD n = VORKGetRunSetting(section, key, text, 64)
                        ? static_cast<DWORD>(std::wcslen(text))
                        : GetPrivateProfileStringW(section, key, L"\x01", text, 64, ini);
    given = !(n == 1 && text[0] == L'\x01');
    if (!given) return true;
    wchar_t* end = nullptr;
    errno = 0;
    const long long parsed = std::wcstoll(text, &end, 0);
    if (n > 0 && n < 63 && end && *end == 0 && errno == 0 && parsed >= min && parsed <= max) {
        value = static_cast<int>(parsed);
        return true;
    }
    wchar_t message[256];
    std::swprintf(message, 256, L"CVORKGrabberBase::InitGrabber: %ls=%.40ls in [%ls] is not a value from %d to %d",
                  key, text, section, min, max);
    message[255] = 0;
    VORKWriteErrorLog(message, kInvalidSetting, 2);
    return false;
}

void CVORKGrabberBase::ReportSetting(const wchar_t* what, int result) {
    if (result == 0) return;
    wchar_t text[256];
    std::swprintf(text, 256, L"CVORKGrabberBase::InitGrabber: the configured %ls could not be applied (result %d)", what,
                  result);
    text[255] = 0;
    VORKWriteErrorLog(text, result, 2);
    SendErrorEvent(text, result);
}

bool CVORKGrabberBase::DeInitGrabber() {
    StopGrabThread(true);
    CloseBoard();
    m_pBase->initialized = false;
    return true;
}

BYTE* CVORKGrabberBase::WaitForSnap(bool, int) { return nullptr; }
void CVORKGrabberBase::StopSnap() {}
BYTE* CVORKGrabberBase::SnapToRing(int) { return nullptr; }
BYTE* CVORKGrabberBase::SnapToAddBuffer(int) { return nullptr; }
int CVORKGrabberBase::SnapAsyncToRing() { return 2; }
int CVORKGrabberBase::SnapAsyncToAddBuffer() { return 2; }
bool CVORKGrabberBase::InitPreProc() { return true; }
void CVORKGrabberBase::UpdateSizes() { UpdateImgBufferSizes(0); }
void CVORKGrabberBase::UpdateImgBufferSizes(int) {}
void CVORKGrabberBase::ClearImgBuffers() {}

BYTE* CVORKGrabberBase::GetAddImgBuffer() { return m_pBase->ring ? m_pBase->ring->GetAddBuffer() : nullptr; }
BYTE* CVORKGrabberBase::GetActImgBufferInRing() { return m_pBase->ring ? m_pBase->ring->GetActBuffer() : nullptr; }
int CVORKGrabberBase::GetNumImgBuffers() { return m_pBase->ring ? m_pBase->ring->GetCount() : 0; }

BYTE* CVORKGrabberBase::GetLastGrabbedBufferInRing() {
    return m_pBase->ring ? m_pBase->ring->GetLastGrabbedBuffer() : nullptr;
}

BYTE* CVORKGrabberBase::GetLastGrabbedBufferInRingSynced(int timeoutMs) {
    if (!m_pBase->ring || !m_pBase->ring->WaitForNewImage(static_cast<DWORD>(timeoutMs))) return nullptr;
    return m_pBase->ring->GetLastGrabbedBuffer();
}

void CVORKGrabberBase::ReleaseBufferInRing(BYTE* data) {
    VORKCameraLock lock;
    if (CVORKGrabberBuffer* b = m_pBase->ring ? m_pBase->ring->FindGrabberBuffer(data) : nullptr) b->m_bLocked = false;
}

bool CVORKGrabberBase::LockBufferInRing(BYTE* data) {
    VORKCameraLock lock;
    CVORKGrabberBuffer* b = m_pBase->ring ? m_pBase->ring->FindGrabberBuffer(data) : nullptr;
    if (!b) return false;
    b->m_bLocked = true;
    return true;
}

bool CVORKGrabberBase::IsBufferLocked(BYTE* data) {
    VORKCameraLock lock;
    CVORKGrabberBuffer* b = m_pBase->ring ? m_pBase->ring->FindGrabberBuffer(data) : nullptr;
    return b && b->m_bLocked;
}

int CVORKGrabberBase::WriteCamChannel(int) { return 0; }
int CVORKGrabberBase::ReadVideoMode(VORKVideoMode&) { return 0; }
int CVORKGrabberBase::WriteColorMode(VORKColorMode) { return 0; }
int CVORKGrabberBase::ReadColorMode(VORKColorMode& mode) {
    mode = m_pBase->colorMode;
    return 0;
}
int CVORKGrabberBase::WriteGrabRect(int&, int&, int&, int&) { return 0; }
int CVORKGrabberBase::ReadGrabRect(int& x, int& y, int& width, int& height) {
    x = y = 0;
    width = m_pBase->grabWidth;
    height = m_pBase->grabHeight;
    return 0;
}
int CVORKGrabberBase::WriteADGain(int, int) { return kNotSupported; }
int CVORKGrabberBase::ReadADGain(int&, int) { return kNotSupported; }
int CVORKGrabberBase::WriteADOffset(int, int) { return kNotSupported; }
int CVORKGrabberBase::ReadADOffset(int&, int) { return kNotSupported; }

bool CVORKGrabberBase::ReStart() {
    DeInitGrabber();
    return InitGrabber(true);
}

// The bytes of a delivered pixel: those of the mode the grabber reports it
// delivers, or of the configured mode when it reports none.
int CVORKGrabberBase::GetBytesPerPixel() {
    VORKColorMode delivered = VORKColorModeUnknown;
    if (ReadColorMode(delivered) == 0 && delivered != VORKColorModeUnknown) return BytesPerPixelOf(delivered);
    return BytesPerPixelOf(GetColorMode());
}
int CVORKGrabberBase::GetBitsPerPixel() { return 8 * GetBytesPerPixel(); }
int CVORKGrabberBase::SetTriggerPeriod(int) { return kNotSupported; }
int CVORKGrabberBase::StopTriggerPeriod() { return kNotSupported; }
int CVORKGrabberBase::WriteDigOutput(int) { return kNotSupported; }
int CVORKGrabberBase::WriteDigOutputBit(int, bool) { return kNotSupported; }
int CVORKGrabberBase::ReadDigInput(int&) { return kNotSupported; }
int CVORKGrabberBase::ReadDigInputBit(int, bool&) { return kNotSupported; }
int CVORKGrabberBase::EnableTrigger(bool) { return kNotSupported; }
bool CVORKGrabberBase::IsTriggerEnabled() { return false; }
bool CVORKGrabberBase::IsExposureTimerEnabled() { return false; }
int CVORKGrabberBase::FireSoftwareTrigger() { return kNotSupported; }
int CVORKGrabberBase::SimulateExposureTimer() { return kNotSupported; }

bool CVORKGrabberBase::StartGrabThread() {
    std::lock_guard<std::mutex> lock(m_pBase->threadMutex);
    if (m_pBase->grabThreadRunning) return false;
    if (m_pBase->grabThread.joinable()) m_pBase->grabThread.join();
    ResetEvent(m_pBase->abortEvent);
    m_pBase->threadFrames = 0;
    m_pBase->threadErrors = 0;
    m_pBase->grabThreadRunning = true;
    // Continuous acquisition into the ring, as the framework runs it: arm, then
    // take frames until aborted; the grabber ends acquisition on the way out.
    // Arming again is a no-op while acquisition runs; after a failed wait (which
    // may have stopped it) it starts the camera again, and the next wait allows
    // for the camera's start. A wait that fails at once (no buffers, a camera
    // that does not start) must not spin: the loop backs off, up to half a
    // second, until a frame comes again.
    m_pBase->grabThread = std::thread([this] {
        bool starting = true;
        DWORD backoffMs = 0;
        while (!IsAborting()) {
            const bool armed = SnapAsyncToRing() == 0;
            if (armed && WaitForSnap(true, starting ? kCameraStartAllowanceMs : kGrabThreadTimeoutMs)) {
                ++m_pBase->threadFrames;
                starting = false;
                backoffMs = 0;
                continue;
            }
            if (IsAborting()) break;
            ++m_pBase->threadErrors;
            starting = true;
            backoffMs = std::min<DWORD>(kMaxBackoffMs, backoffMs ? backoffMs * 2 : 1);
            WaitForSingleObject(m_pBase->abortEvent, backoffMs);
        }
        StopSnap();
        m_pBase->grabThreadRunning = false;
    });
    return true;
}

void CVORKGrabberBase::SetGrabThreadRunEmpty(bool runEmpty) { m_pBase->runEmpty = runEmpty; }

VORKCamInfo* CVORKGrabberBase::GetCamInfos(int&) { return nullptr; }

void CVORKGrabberBase::GetActCamInfo(VORKCamInfo& info) { info = VORKCamInfo{}; }

void CVORKGrabberBase::GetGrabberName(wchar_t* buffer) const { CopyName(buffer, m_pBase->name); }
void CVORKGrabberBase::GetGrabberTypeName(wchar_t* buffer) const { CopyName(buffer, m_pBase->typeName); }
int CVORKGrabberBase::GetGrabberNumber() const { return m_pBase->number; }
bool CVORKGrabberBase::IsInitialized() const { return m_pBase->initialized; }
bool CVORKGrabberBase::IsAborting() const { return WaitForSingleObject(m_pBase->abortEvent, 0) == WAIT_OBJECT_0; }
HANDLE CVORKGrabberBase::GetAbortEvent() const { return m_pBase->abortEvent; }
void CVORKGrabberBase::IncLastImgNr() { ++m_pBase->lastImgNr; }
void CVORKGrabberBase::ResetLastImgNr() { m_pBase->lastImgNr = 0; }
LONG CVORKGrabberBase::GetLastImgNr() const { return m_pBase->lastImgNr; }

void CVORKGrabberBase::GetGrabRect(int& x, int& y, int& width, int& height, int) {
    VORKCameraLock lock;
    x = y = 0;
    width = m_pBase->grabWidth;
    height = m_pBase->grabHeight;
}

bool CVORKGrabberBase::GetCamChannelParams(CVORKChannelParams& params, int channel) {
    VORKCameraLock lock;
    if (channel < 0 || channel >= static_cast<int>(m_pBase->channels.size())) return false;
    params = m_pBase->channels[static_cast<size_t>(channel)];
    return true;
}

bool CVORKGrabberBase::SetCamChannelParams(const CVORKChannelParams& params, int channel) {
    VORKCameraLock lock;
    if (channel < 0 || channel >= static_cast<int>(m_pBase->channels.size())) return false;
    // The record keeps its channel's name, whatever name the copy carried.
    CVORKChannelParams& stored = m_pBase->channels[static_cast<size_t>(channel)];
    wchar_t name[256];
    CopyName(name, stored.m_szName);
    stored = params;
    CopyName(stored.m_szName, name);
    return true;
}

void CVORKGrabberBase::StopGrabThread(bool wait) {
    SetEvent(m_pBase->abortEvent);
    if (!wait) return;
    std::lock_guard<std::mutex> lock(m_pBase->threadMutex);
    if (m_pBase->grabThread.joinable() && m_pBase->grabThread.get_id() != std::this_thread::get_id())
        m_pBase->grabThread.join();
}

bool CVORKGrabberBase::IsGrabThreadRunning() const { return m_pBase->grabThreadRunning; }
LONG CVORKGrabberBase::GetGrabThreadFrames() const { return m_pBase->threadFrames; }
LONG CVORKGrabberBase::GetGrabThreadErrors() const { return m_pBase->threadErrors; }
CVORKGrabberBuffersRing* CVORKGrabberBase::GetRing() const { return m_pBase->ring.get(); }

void CVORKGrabberBase::GetGainRange(float& min, float& max) const {
    VORKCameraLock lock;
    min = m_fGainMin;
    max = m_fGainMax;
}

void CVORKGrabberBase::GetOffsetRange(float& min, float& max) const {
    VORKCameraLock lock;
    min = m_fOffsetMin;
    max = m_fOffsetMax;
}

int CVORKGrabberBase::SetColorMode(VORKColorMode mode) {
    int result = WriteColorMode(mode);
    VORKCameraLock lock;
    m_pBase->colorMode = mode;
    return result;
}

VORKColorMode CVORKGrabberBase::GetColorMode() const {
    VORKCameraLock lock;
    return m_pBase->colorMode;
}

int CVORKGrabberBase::RequestColorMode(VORKColorMode& mode) { return ReadColorMode(mode); }

int CVORKGrabberBase::SetGrabRect(int width, int height) {
    int x = 0;
    int y = 0;
    int result = WriteGrabRect(x, y, width, height);
    VORKCameraLock lock;
    m_pBase->grabWidth = width;
    m_pBase->grabHeight = height;
    return result;
}

int CVORKGrabberBase::RequestGrabRect(int& x, int& y, int& width, int& height) {
    GetGrabRect(x, y, width, height, 0);
    return ReadGrabRect(x, y, width, height);
}

int CVORKGrabberBase::SetADGain(int gain, int channel) { return WriteADGain(gain, channel); }
int CVORKGrabberBase::GetADGain(int& gain, int channel) { return ReadADGain(gain, channel); }
int CVORKGrabberBase::SetADOffset(int offset, int channel) { return WriteADOffset(offset, channel); }
int CVORKGrabberBase::GetADOffset(int& offset, int channel) { return ReadADOffset(offset, channel); }
int CVORKGrabberBase::ApplyCamChannel(int channel) { return WriteCamChannel(channel); }
int CVORKGrabberBase::GetVideoMode(VORKVideoMode& mode) {
    mode = static_cast<VORKVideoMode>(m_pBase->channels.empty() ? 0 : m_pBase->channels[0].m_nVideoMode);
    return ReadVideoMode(mode);
}

void CVORKGrabberBase::SetGB(CVORKGrabberBuffersRing* ring) {
    if (ring != m_pBase->ring.get()) m_pBase->ring.reset(ring);
}

void CVORKGrabberBase::SendErrorEvent(const wchar_t* text, int code) {
    auto& slot = EventHandler();
    VORKErrorEventHandler handler = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        handler = slot.handler;
        context = slot.context;
    }
    if (handler) handler(context, this, text ? text : L"", code);
}
