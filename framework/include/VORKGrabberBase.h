// The framework's grabber library: the abstract grabber base class, the ring of
// image buffers, the process-wide grabber container, and the records shared with
// grabber plug-ins.
#pragma once

#include <cstdint>

#include "VORKCameraConfig.h"

#ifdef VORKGRABBERBASE_BUILD
#define VORKGB_API VORK_EXPORT
#else
#define VORKGB_API VORK_IMPORT
#endif

enum VORKColorMode {
    VORKColorModeRGB8 = 0,
    VORKColorModeGray16 = 1,
    VORKColorModeRGB555 = 2,
    VORKColorModeRGB565 = 3,
    VORKColorModeRGB24 = 4,
    VORKColorModeRGB32 = 5,
    VORKColorModeYUV422 = 6,
    VORKColorModeUnknown = 7
};

enum VORKVideoMode {
    VORKVideoModeUnknown = 0,
    VORKVideoModeCCIR = 1,
    VORKVideoModeRS170 = 2,
    VORKVideoModePAL = 3,
    VORKVideoModeNTSC = 4,
    VORKVideoModeDigital = 5
};

// One camera as the framework lists it; copied as a whole.
struct VORKCamInfo {
    int32_t nDeviceNumber;
    wchar_t szFriendlyName[256];
    wchar_t szDevicePath[2048];
};

// One entry of the image ring. The grabber owns the memory behind m_pData.
struct CVORKGrabberBuffer {
    BYTE* m_pData = nullptr;
    int m_nIndex = 0;
    bool m_bLocked = false;
};

class VORKGB_API CVORKGrabberBuffersRing {
public:
    explicit CVORKGrabberBuffersRing(unsigned int count);
    CVORKGrabberBuffersRing(const CVORKGrabberBuffersRing&) = delete;
    CVORKGrabberBuffersRing& operator=(const CVORKGrabberBuffersRing&) = delete;
    virtual ~CVORKGrabberBuffersRing();

    int GetCount() const;
    CVORKGrabberBuffer* GetGrabberBufferInRing(int index);
    CVORKGrabberBuffer* FindGrabberBuffer(const BYTE* data);

    // Forgets every buffer: entries and the additional buffer hand out null until
    // SetBuffer/SetAddBuffer give them memory again.
    virtual void ResetBuffers();
    // The entry the next frame goes into.
    virtual BYTE* GetActBuffer();
    virtual BYTE* GetAddBuffer();
    virtual void SetBuffer(int index, BYTE* data);
    virtual void SetAddBuffer(BYTE* data);

    // Records, under the camera lock, which entry holds the newest frame; the next
    // frame then goes into the following unlocked entry.
    void SetLastGrabbedIndex(int index);
    int GetLastGrabbedIndex() const;
    BYTE* GetLastGrabbedBuffer();
    // Waits until SetLastGrabbedIndex records a frame; false on time-out.
    bool WaitForNewImage(DWORD timeoutMs);

private:
    CVORKGrabberBuffer* m_pEntries;
    int m_nCount;
    BYTE* m_pAddBuffer = nullptr;
    int m_nActIndex = 0;
    int m_nLastGrabbed = -1;
    HANDLE m_hNewImage;
};

class CVORKGrabberBase;

class VORKGB_API CVORKGrabberContainer {
public:
    bool AddGrabber(CVORKGrabberBase* grabber);
    bool RemoveGrabber(CVORKGrabberBase* grabber);
    CVORKGrabberBase* GetGrabber(int index);
    int GetGrabberCount();

private:
    friend VORKGB_API CVORKGrabberContainer* GetGrabberContainer();
    CVORKGrabberContainer();
    struct Impl;
    Impl* m_pImpl;
};

// The process-wide container; null when the framework has none.
VORKGB_API CVORKGrabberContainer* GetGrabberContainer();
// Host-side control: makes GetGrabberContainer return null (false) or the container.
VORKGB_API void VORKSetGrabberContainerAvailable(bool available);

// Error events reach the host through this handler.
typedef void (*VORKErrorEventHandler)(void* context, CVORKGrabberBase* grabber, const wchar_t* text, int code);
VORKGB_API void VORKSetErrorEventHandler(VORKErrorEventHandler handler, void* context);

class VORKGB_API CVORKGrabberBase {
public:
    CVORKGrabberBase(const wchar_t* name, int number, const wchar_t* typeName, bool initNow);
    CVORKGrabberBase(const CVORKGrabberBase& other);
    CVORKGrabberBase& operator=(const CVORKGrabberBase& other);
    virtual ~CVORKGrabberBase();

protected:
    virtual bool InitBoard();
    virtual void CloseBoard();
    virtual void HWSpecificChannelSetup(const wchar_t* name, CVORKChannelParams& params);

public:
    virtual bool InitGrabber(bool initBoard);
    virtual bool DeInitGrabber();
    virtual BYTE* WaitForSnap(bool toRing, int timeoutMs);
    virtual void StopSnap();
    virtual BYTE* SnapToRing(int timeoutMs);
    virtual BYTE* SnapToAddBuffer(int timeoutMs);
    virtual int SnapAsyncToRing();
    virtual int SnapAsyncToAddBuffer();
    virtual bool InitPreProc();
    virtual void UpdateSizes();
    virtual void UpdateImgBufferSizes(int channel);
    virtual void ClearImgBuffers();
    virtual BYTE* GetAddImgBuffer();
    virtual BYTE* GetActImgBufferInRing();
    virtual int GetNumImgBuffers();
    virtual BYTE* GetLastGrabbedBufferInRing();
    virtual BYTE* GetLastGrabbedBufferInRingSynced(int timeoutMs);
    virtual void ReleaseBufferInRing(BYTE* data);
    virtual bool LockBufferInRing(BYTE* data);
    virtual bool IsBufferLocked(BYTE* data);

protected:
    virtual int WriteCamChannel(int channel);
    virtual int ReadVideoMode(VORKVideoMode& mode);
    virtual int WriteColorMode(VORKColorMode mode);
    virtual int ReadColorMode(VORKColorMode& mode);
    virtual int WriteGrabRect(int& x, int& y, int& width, int& height);
    virtual int ReadGrabRect(int& x, int& y, int& width, int& height);
    virtual int WriteADGain(int gain, int channel);
    virtual int ReadADGain(int& gain, int channel);
    virtual int WriteADOffset(int offset, int channel);
    virtual int ReadADOffset(int& offset, int channel);

public:
    virtual bool ReStart();
    virtual int GetBytesPerPixel();
    virtual int GetBitsPerPixel();
    virtual int SetTriggerPeriod(int periodMs);
    virtual int StopTriggerPeriod();
    virtual int WriteDigOutput(int value);
    virtual int WriteDigOutputBit(int bit, bool value);
    virtual int ReadDigInput(int& value);
    virtual int ReadDigInputBit(int bit, bool& value);
    virtual int EnableTrigger(bool enable);
    virtual bool IsTriggerEnabled();
    virtual bool IsExposureTimerEnabled();
    virtual int FireSoftwareTrigger();
    virtual int SimulateExposureTimer();
    virtual bool StartGrabThread();
    virtual void SetGrabThreadRunEmpty(bool runEmpty);
    virtual VORKCamInfo* GetCamInfos(int& count);
    virtual void GetActCamInfo(VORKCamInfo& info);

    // ---- Framework services ------------------------------------------------
    void GetGrabberName(wchar_t* buffer) const;  // buffer of 256
    void GetGrabberTypeName(wchar_t* buffer) const;
    int GetGrabberNumber() const;
    bool IsInitialized() const;
    bool IsAborting() const;
    HANDLE GetAbortEvent() const;
    void IncLastImgNr();
    void ResetLastImgNr();
    LONG GetLastImgNr() const;
    void GetGrabRect(int& x, int& y, int& width, int& height, int channel);
    bool GetCamChannelParams(CVORKChannelParams& params, int channel);
    bool SetCamChannelParams(const CVORKChannelParams& params, int channel);
    // Ends the grab thread: it stops at its next wait; with wait it is also joined.
    void StopGrabThread(bool wait);
    bool IsGrabThreadRunning() const;
    // Frames the grab thread delivered and waits that gave none, since its start.
    LONG GetGrabThreadFrames() const;
    LONG GetGrabThreadErrors() const;
    CVORKGrabberBuffersRing* GetRing() const;
    void GetGainRange(float& min, float& max) const;
    void GetOffsetRange(float& min, float& max) const;

    // ---- The host's requests, carried out through the grabber's operations ----
    int SetColorMode(VORKColorMode mode);
    VORKColorMode GetColorMode() const;
    int RequestColorMode(VORKColorMode& mode);  // asks the grabber
    int SetGrabRect(int width, int height);
    int RequestGrabRect(int& x, int& y, int& width, int& height);
    int SetADGain(int gain, int channel);
    int GetADGain(int& gain, int channel);
    int SetADOffset(int offset, int channel);
    int GetADOffset(int& offset, int channel);
    int ApplyCamChannel(int channel);
    int GetVideoMode(VORKVideoMode& mode);

protected:
    void SetGB(CVORKGrabberBuffersRing* ring);
    void SendErrorEvent(const wchar_t* text, int code);

    float m_fGainMin = 0.0f;
    float m_fGainMax = 0.0f;
    float m_fOffsetMin = 0.0f;
    float m_fOffsetMax = 0.0f;

private:
    void ReportSetting(const wchar_t* what, int result);
    static bool ReadSetting(const wchar_t* section, const wchar_t* key, const wchar_t* ini, int min, int max,
                            int& value, bool& given);

    struct Impl;
    Impl* m_pBase;
};
