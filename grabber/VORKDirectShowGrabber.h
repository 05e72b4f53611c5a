// CVORKDirectShowGrabber: the framework's grabber for DirectShow video capture
// devices. One object drives one device through a graph of three filters: the
// device's capture source, a sample grabber and a null renderer.
//
// Threads: the host's threads (framework calls and public members), the
// framework's grab thread (snaps), the thread that opened the board (it owns the
// hidden media-event window and handles media events while it pumps messages),
// and DirectShow's streaming thread (only g_CB.BufferCB, which takes no lock).
// Shared state is guarded by the framework's camera lock (GetCameraCS), taken
// around single member accesses through the accessors below; the configuration
// members written by the channel set-up are not locked.
#pragma once

#include "vorkplatform.h"

#include "VORKCameraConfig.h"
#include "VORKGrabberBase.h"

#ifdef VORKDIRECTSHOWGRABBER_BUILD
#define VORKDSG_API VORK_EXPORT
#else
#define VORKDSG_API VORK_IMPORT
#endif

enum VORKDSGraphState { VORKDSGraphStopped = 0, VORKDSGraphRunning = 1, VORKDSGraphStarting = 2 };

// The layout of the frames a host receives, and what the camera sends before any
// filter the graph put between it and the sample grabber.
struct VORKDSFrameFormat {
    GUID subtype;      // what lands in the image buffers: MEDIASUBTYPE_RGB24, ...
    LONG width;
    LONG height;       // as in a bitmap header: positive rows run bottom up, negative top down
    WORD bitCount;
    LONG stride;       // bytes per row: DIB rows are padded to a multiple of 4 bytes
    LONG frameBytes;   // bytes of one frame in the image buffers, as last measured (0: not yet)
    GUID sourceSubtype;  // the camera's own format on its output pin
    LONG sourceWidth;
    LONG sourceHeight;
    double sourceFramesPerSecond;  // 0 when the format names no rate
};

// One format the camera offers on its output pin.
struct VORKDSOfferedFormat {
    GUID subtype;
    LONG width;
    LONG height;
    double framesPerSecond;  // the highest rate of the format; 0 when it names none
};

// Walks over g_Grabbers, so that at most one graph of the module runs at a time:
// all grabbers share one sample callback.
bool AreAllGraphsStopped();
bool IsAnyContSnapRunning();
HRESULT StopAllGraphs();

class VORKDSG_API CVORKDirectShowGrabber : public CVORKGrabberBase {
public:
    CVORKDirectShowGrabber(const wchar_t* name, int number, const wchar_t* typeName, bool initNow,
                           unsigned int ringSize);
    CVORKDirectShowGrabber(const CVORKDirectShowGrabber& other);
    CVORKDirectShowGrabber& operator=(const CVORKDirectShowGrabber& other);
    ~CVORKDirectShowGrabber() override;

    static HINSTANCE m_hInstance;

    // Logs a failed DirectShow result as "DirectShow error: <text>"; true if it failed.
    bool ShowError(HRESULT hr);

    static LRESULT CALLBACK VideoWndProcedureGlobal(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // ---- Camera properties in percent of the device's range ------------------
    int SetProcAmpParam(tagVideoProcAmpProperty property, int percent, int flags);
    int GetProcAmpParam(tagVideoProcAmpProperty property, int& percent, int* flags);
    int SetCamCtrlParam(tagCameraControlProperty property, int percent, int flags);
    int GetCamCtrlParam(tagCameraControlProperty property, int& percent, int* flags);
    // The device's stepping delta of a property in percent of its range (100 for
    // a range of one value); 2 without the interface, 11 when the device lacks it.
    int ReadProcAmpStep(tagVideoProcAmpProperty property, double& percent);
    int ReadCamCtrlStep(tagCameraControlProperty property, double& percent);
    int SetBacklightComp(int percent, bool autoMode, bool enable);
    int GetBacklightComp(int& percent, bool& autoMode, bool& enable);
    int ShowVideoSourcePropertyDlg(HWND owner);

    // ---- Frame rate in frames per second ----------------------------------------
    int WriteFramerate(double framesPerSecond);
    int ReadFramerate(double& framesPerSecond);

    // ---- What is delivered and what is offered -------------------------------------
    // The connected formats; 2 without a sample grabber, 14 when the graph is not
    // connected. Neither connects nor stops a graph.
    int ReadFrameFormat(VORKDSFrameFormat& format);
    // Up to `count` of the formats the camera offers into `formats` (null to count
    // only); `count` comes back as the number offered. 14 without a stream configuration.
    int ReadOfferedFormats(VORKDSOfferedFormat* formats, int& count);

    // ---- Cameras --------------------------------------------------------------------
    VORKCamInfo* GetCamInfos(int& count) override;
    void GetActCamInfo(VORKCamInfo& info) override;

    // ---- Snaps and buffers -------------------------------------------------------
    BYTE* WaitForSnap(bool toRing, int timeoutMs) override;
    void StopSnap() override;
    BYTE* SnapToRing(int timeoutMs) override;
    BYTE* SnapToAddBuffer(int timeoutMs) override;
    int SnapAsyncToRing() override;
    int SnapAsyncToAddBuffer() override;
    void UpdateImgBufferSizes(int channel) override;
    void ClearImgBuffers() override;

protected:
    // ---- Locked accessors: each takes the camera lock around one member ----
    int GetDeviceNumber();
    void SetDeviceNumber(int number);
    bool IsGraphStopped();
    bool IsGraphRunning();
    VORKDSGraphState GetGraphState();
    void SetGraphState(VORKDSGraphState state);
    bool IsContSnapRunning();
    void SetContSnapRunning(bool running);
    CVORKGrabberBuffersRing* GetGB();
    bool IsConnected();
    LONG GetImgBufSize();
    LONG GetOldBufSize();
    bool DoNoSingleSnap();
    LONG GetWaitForCamStart();

    // ---- Channel set-up and the framework's format and property requests ----
    void HWSpecificChannelSetup(const wchar_t* name, CVORKChannelParams& params) override;
    int WriteCamChannel(int channel) override;
    int ReadVideoMode(VORKVideoMode& mode) override;
    int WriteColorMode(VORKColorMode mode) override;
    int ReadColorMode(VORKColorMode& mode) override;
    int WriteGrabRect(int& x, int& y, int& width, int& height) override;
    int ReadGrabRect(int& x, int& y, int& width, int& height) override;
    int WriteADGain(int gain, int channel) override;
    int ReadADGain(int& gain, int channel) override;
    int WriteADOffset(int offset, int channel) override;
    int ReadADOffset(int& offset, int channel) override;

    // Size in bytes of a BITMAPINFO with this header and its palette.
    DWORD CalcBitmapInfoSize(const BITMAPINFOHEADER& header);

    // ---- Board and graph -----------------------------------------------------
    bool InitBoard() override;
    void CloseBoard() override;
    int ConnectGraph();
    void DisconnectGraph();
    HRESULT GetPin(IBaseFilter* filter, PIN_DIRECTION direction, int index, IPin** pin);
    IPin* GetInPin(IBaseFilter* filter, int index);
    IPin* GetOutPin(IBaseFilter* filter, int index);
    int UpdateCallbackInfo();

    // ---- Devices ---------------------------------------------------------------
    int GetFriendlyName(IMoniker* moniker, wchar_t* name);
    int GetDevicePath(IMoniker* moniker, wchar_t* path);
    int GetPropertyString(IMoniker* moniker, const wchar_t* property, wchar_t* value);
    int GetPropertyLong(IMoniker* moniker, const wchar_t* property, LONG& value);
    void SetActCamInfo(CComPtr<IMoniker>& moniker, int deviceNumber);

    // ---- Run control --------------------------------------------------------
    int Run();
    void Stop();
    HRESULT StopIfNecessary();

    // ---- Members, in declaration order ----------------------------------------
    int32_t m_nActColorMode;
    int32_t m_nActGrabWidth;
    int32_t m_nActGrabHeight;
    bool m_bRepeatSnap;
    VORKDSGraphState m_GraphState;
    int32_t m_nDeviceNumber;
    bool m_bConnected;
    bool m_bContSnapRunning;
    bool m_bMirrorVertical;
    bool m_bMirrorHorizontal;
    LONG m_lWaitForCamStart;
    bool m_bNoSingleSnap;
    bool m_bUseSingleSnap;
    bool m_bBacklightCompEnabled;
    float m_fDefSaturation;
    float m_fDefHue;
    bool m_bDefColorEnable;
    bool m_bUseCameraControlProperties;
    bool m_bAutoFocus;
    float m_fDefFocus;
    float m_fDefFramerate;
    LONG m_lImgBufSize;
    LONG m_lOldBufSize;
    AM_MEDIA_TYPE* m_pMediaType;
    wchar_t m_szDefaultFriendlyName[256];
    wchar_t m_szFriendlyNamePart[256];
    wchar_t m_szDevicePath[2048];
    VORKCamInfo m_ActCamInfo;
    IVideoWindow* m_pVideoWindow;
    HWND m_hMediaEventWnd;
    CComPtr<IMediaEventEx> m_pMediaEvent;
    CComPtr<ISampleGrabber> m_pSampleGrabber;
    CComPtr<IBaseFilter> m_pCapSource;
    CComPtr<IBaseFilter> m_pNullRenderer;
    CComPtr<IGraphBuilder> m_pGraph;
    CComPtr<IBaseFilter> m_pGrabberFilter;
    CComPtr<IPin> m_pSourceOutPin;
    CComPtr<IPin> m_pGrabberInPin;
    CComPtr<IPin> m_pGrabberOutPin;
    CComPtr<IPin> m_pNullRendererInPin;
    CComPtr<IMediaControl> m_pMediaControl;
    CComPtr<IAMVideoProcAmp> m_pProcAmp;
    CComPtr<IAMCameraControl> m_pCamCtrl;
    CComPtr<ICreateDevEnum> m_pDevEnum;
    CVORKGrabberBuffersRing* m_pGB;

private:
    friend struct VORKDSGrabberTestPeer;
    friend bool AreAllGraphsStopped();
    friend bool IsAnyContSnapRunning();
    friend HRESULT StopAllGraphs();

    void ResetFlags();

    void ChannelDependentSetup(CVORKChannelParams& params);
    GUID GetDXVideoModeFromVORKColorMode(VORKColorMode mode);
    VORKColorMode GetVORKColorModeFromDXVideoMode(const GUID& subtype);
    int FindCapSource(IBaseFilter** source);
    int GetDefaultCapSource(IBaseFilter** source, wchar_t* friendlyName);
    void ReadDeviceSettings(const wchar_t* grabberName, const wchar_t* iniFile);
    bool SelectCaptureDevice(const wchar_t* grabberName, const wchar_t* iniFile);
    void CreateMediaEventWindow(const wchar_t* grabberName);
    BYTE* Snap(bool toRing, int timeoutMs);
    void WaitForTestFrame(HANDLE events);
    int ConnectedSource(const wchar_t* operation);
    void ReadSourceFormat(VORKDSFrameFormat& format);

    LRESULT VideoWndProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMediaEvent();
};

// Module-wide list of grabbers whose board is open, in the order they opened it.
// Appends and removals take the camera lock, as the walks over it do.
void VORKAppendGrabber(CVORKDirectShowGrabber* grabber);
void VORKRemoveGrabber(CVORKDirectShowGrabber* grabber);

// The window message a graph posts to its grabber's hidden window.
constexpr UINT WM_MEDIAEVENT = WM_USER + 42;
