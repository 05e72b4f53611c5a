// Construction, copying, destruction and the locked accessors of the grabber.
#include "VORKDirectShowGrabber.h"

#include <algorithm>
#include <cstring>

#include "GrabberList.h"
#include "MediaType.h"
#include "Text.h"

std::vector<CVORKDirectShowGrabber*> g_Grabbers;

HINSTANCE CVORKDirectShowGrabber::m_hInstance = nullptr;

void VORKAppendGrabber(CVORKDirectShowGrabber* grabber) {
    VORKCameraLock lock;
    g_Grabbers.push_back(grabber);
}

// Every entry: a board opened twice without being closed is listed twice.
static void RemoveEveryEntry(CVORKDirectShowGrabber* grabber) {
    VORKCameraLock lock;
    g_Grabbers.erase(std::remove(g_Grabbers.begin(), g_Grabbers.end(), grabber), g_Grabbers.end());
}

void VORKRemoveGrabber(CVORKDirectShowGrabber* grabber) {
    VORKCameraLock lock;
    auto it = std::find(g_Grabbers.begin(), g_Grabbers.end(), grabber);
    if (it != g_Grabbers.end()) g_Grabbers.erase(it);
}

CVORKDirectShowGrabber::CVORKDirectShowGrabber(const wchar_t* name, int number, const wchar_t* typeName,
                                               bool initNow, unsigned int ringSize)
    : CVORKGrabberBase(name, number, typeName, initNow),
      m_nActColorMode(-1),
      m_nActGrabWidth(-1),
      m_nActGrabHeight(-1),
      m_bRepeatSnap(false),
      m_GraphState(VORKDSGraphStopped),
      m_nDeviceNumber(-1),
      m_bConnected(false),
      m_bContSnapRunning(false),
      m_bMirrorVertical(true),
      m_bMirrorHorizontal(false),
      m_lWaitForCamStart(0),
      m_bNoSingleSnap(false),
      m_bUseSingleSnap(true),
      m_bBacklightCompEnabled(false),
      m_fDefSaturation(0.0f),
      m_fDefHue(0.0f),
      m_bDefColorEnable(true),
      m_bUseCameraControlProperties(false),
      m_bAutoFocus(false),
      m_fDefFocus(0.0f),
      m_fDefFramerate(1.0f),
      m_lImgBufSize(0),
      m_lOldBufSize(-1),
      m_pMediaType(nullptr),
      m_ActCamInfo(),
      m_pVideoWindow(nullptr),
      m_hMediaEventWnd(nullptr),
      m_pGB(nullptr) {
    ResetFlags();
    m_szDefaultFriendlyName[0] = L'\0';
    m_szFriendlyNamePart[0] = L'\0';
    m_szDevicePath[0] = L'\0';
    m_pMediaType = VORKNewMediaType();
    // The destructor never runs for an object whose constructor throws: what the
    // board opening made (the list entry, the window and its pointer to this
    // object, the graph, the buffers) is closed here before the failure goes on.
    try {
        m_pGB = new CVORKGrabberBuffersRing(ringSize);
        SetGB(m_pGB);
        if (initNow) InitGrabber(true);
    } catch (...) {
        CloseBoard();
        RemoveEveryEntry(this);
        VORKDeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
        throw;
    }
}

// A copy shares the hidden window and the ring with its source, as plain
// pointers, and the video window with a reference of its own; it owns a deep
// copy of the media type record, so that each destructor frees only its own.
CVORKDirectShowGrabber::CVORKDirectShowGrabber(const CVORKDirectShowGrabber& other)
    : CVORKGrabberBase(other),
      m_nActColorMode(other.m_nActColorMode),
      m_nActGrabWidth(other.m_nActGrabWidth),
      m_nActGrabHeight(other.m_nActGrabHeight),
      m_bRepeatSnap(other.m_bRepeatSnap),
      m_GraphState(other.m_GraphState),
      m_nDeviceNumber(other.m_nDeviceNumber),
      m_bConnected(other.m_bConnected),
      m_bContSnapRunning(other.m_bContSnapRunning),
      m_bMirrorVertical(other.m_bMirrorVertical),
      m_bMirrorHorizontal(other.m_bMirrorHorizontal),
      m_lWaitForCamStart(other.m_lWaitForCamStart),
      m_bNoSingleSnap(other.m_bNoSingleSnap),
      m_bUseSingleSnap(other.m_bUseSingleSnap),
      m_bBacklightCompEnabled(other.m_bBacklightCompEnabled),
      m_fDefSaturation(other.m_fDefSaturation),
      m_fDefHue(other.m_fDefHue),
      m_bDefColorEnable(other.m_bDefColorEnable),
      m_bUseCameraControlProperties(other.m_bUseCameraControlProperties),
      m_bAutoFocus(other.m_bAutoFocus),
      m_fDefFocus(other.m_fDefFocus),
      m_fDefFramerate(other.m_fDefFramerate),
      m_lImgBufSize(other.m_lImgBufSize),
      m_lOldBufSize(other.m_lOldBufSize),
      m_pMediaType(VORKCopyMediaType(other.m_pMediaType)),
      m_ActCamInfo(other.m_ActCamInfo),
      m_pVideoWindow(other.m_pVideoWindow),
      m_hMediaEventWnd(other.m_hMediaEventWnd),
      m_pMediaEvent(other.m_pMediaEvent),
      m_pSampleGrabber(other.m_pSampleGrabber),
      m_pCapSource(other.m_pCapSource),
      m_pNullRenderer(other.m_pNullRenderer),
      m_pGraph(other.m_pGraph),
      m_pGrabberFilter(other.m_pGrabberFilter),
      m_pSourceOutPin(other.m_pSourceOutPin),
      m_pGrabberInPin(other.m_pGrabberInPin),
      m_pGrabberOutPin(other.m_pGrabberOutPin),
      m_pNullRendererInPin(other.m_pNullRendererInPin),
      m_pMediaControl(other.m_pMediaControl),
      m_pProcAmp(other.m_pProcAmp),
      m_pCamCtrl(other.m_pCamCtrl),
      m_pDevEnum(other.m_pDevEnum),
      m_pGB(other.m_pGB) {
    VORKCopy(m_szDefaultFriendlyName, other.m_szDefaultFriendlyName);
    VORKCopy(m_szFriendlyNamePart, other.m_szFriendlyNamePart);
    VORKCopy(m_szDevicePath, other.m_szDevicePath);
    if (m_pVideoWindow) m_pVideoWindow->AddRef();
}

CVORKDirectShowGrabber& CVORKDirectShowGrabber::operator=(const CVORKDirectShowGrabber& other) {
    if (this == &other) return *this;
    AM_MEDIA_TYPE* mediaType = VORKCopyMediaType(other.m_pMediaType);
    CVORKGrabberBase::operator=(other);
    m_nActColorMode = other.m_nActColorMode;
    m_nActGrabWidth = other.m_nActGrabWidth;
    m_nActGrabHeight = other.m_nActGrabHeight;
    m_bRepeatSnap = other.m_bRepeatSnap;
    m_GraphState = other.m_GraphState;
    m_nDeviceNumber = other.m_nDeviceNumber;
    m_bConnected = other.m_bConnected;
    m_bContSnapRunning = other.m_bContSnapRunning;
    m_bMirrorVertical = other.m_bMirrorVertical;
    m_bMirrorHorizontal = other.m_bMirrorHorizontal;
    m_lWaitForCamStart = other.m_lWaitForCamStart;
    m_bNoSingleSnap = other.m_bNoSingleSnap;
    m_bUseSingleSnap = other.m_bUseSingleSnap;
    m_bBacklightCompEnabled = other.m_bBacklightCompEnabled;
    m_fDefSaturation = other.m_fDefSaturation;
    m_fDefHue = other.m_fDefHue;
    m_bDefColorEnable = other.m_bDefColorEnable;
    m_bUseCameraControlProperties = other.m_bUseCameraControlProperties;
    m_bAutoFocus = other.m_bAutoFocus;
    m_fDefFocus = other.m_fDefFocus;
    m_fDefFramerate = other.m_fDefFramerate;
    m_lImgBufSize = other.m_lImgBufSize;
    m_lOldBufSize = other.m_lOldBufSize;
    VORKDeleteMediaType(m_pMediaType);
    m_pMediaType = mediaType;
    VORKCopy(m_szDefaultFriendlyName, other.m_szDefaultFriendlyName);
    VORKCopy(m_szFriendlyNamePart, other.m_szFriendlyNamePart);
    VORKCopy(m_szDevicePath, other.m_szDevicePath);
    m_ActCamInfo = other.m_ActCamInfo;
    if (other.m_pVideoWindow) other.m_pVideoWindow->AddRef();
    if (m_pVideoWindow) m_pVideoWindow->Release();
    m_pVideoWindow = other.m_pVideoWindow;
    m_hMediaEventWnd = other.m_hMediaEventWnd;
    m_pMediaEvent = other.m_pMediaEvent;
    m_pSampleGrabber = other.m_pSampleGrabber;
    m_pCapSource = other.m_pCapSource;
    m_pNullRenderer = other.m_pNullRenderer;
    m_pGraph = other.m_pGraph;
    m_pGrabberFilter = other.m_pGrabberFilter;
    m_pSourceOutPin = other.m_pSourceOutPin;
    m_pGrabberInPin = other.m_pGrabberInPin;
    m_pGrabberOutPin = other.m_pGrabberOutPin;
    m_pNullRendererInPin = other.m_pNullRendererInPin;
    m_pMediaControl = other.m_pMediaControl;
    m_pProcAmp = other.m_pProcAmp;
    m_pCamCtrl = other.m_pCamCtrl;
    m_pDevEnum = other.m_pDevEnum;
    m_pGB = other.m_pGB;
    return *this;
}

CVORKDirectShowGrabber::~CVORKDirectShowGrabber() {
    // A grabber destroyed with its board still open must not stay in the list,
    // where the walks of other grabbers would find a dangling pointer, nor in its
    // window, whose media events then take the default path. (The window itself
    // can only be destroyed by the thread that owns it.)
    RemoveEveryEntry(this);
    if (m_hMediaEventWnd &&
        GetWindowLongPtrW(m_hMediaEventWnd, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this))
        SetWindowLongPtrW(m_hMediaEventWnd, GWLP_USERDATA, 0);
    // The video window's reference would otherwise keep the whole graph alive.
    if (m_pVideoWindow) m_pVideoWindow->Release();
    m_pVideoWindow = nullptr;
    VORKDeleteMediaType(m_pMediaType);
    m_pDevEnum.Release();
    m_pCamCtrl.Release();
    m_pProcAmp.Release();
    m_pMediaControl.Release();
    m_pNullRendererInPin.Release();
    m_pGrabberOutPin.Release();
    m_pGrabberInPin.Release();
    m_pSourceOutPin.Release();
    m_pGrabberFilter.Release();
    m_pGraph.Release();
    m_pNullRenderer.Release();
    m_pCapSource.Release();
    m_pSampleGrabber.Release();
    m_pMediaEvent.Release();
}

void CVORKDirectShowGrabber::ResetFlags() {
    m_nDeviceNumber = -1;
    m_nActColorMode = -1;
    m_nActGrabWidth = -1;
    m_nActGrabHeight = -1;
    m_lOldBufSize = -1;
    m_lImgBufSize = 0;
}

int CVORKDirectShowGrabber::GetDeviceNumber() {
    VORKCameraLock lock;
    return m_nDeviceNumber;
}

void CVORKDirectShowGrabber::SetDeviceNumber(int number) {
    VORKCameraLock lock;
    m_nDeviceNumber = number;
}

bool CVORKDirectShowGrabber::IsGraphStopped() {
    VORKCameraLock lock;
    return m_GraphState == VORKDSGraphStopped;
}

bool CVORKDirectShowGrabber::IsGraphRunning() {
    VORKCameraLock lock;
    return m_GraphState == VORKDSGraphRunning;
}

VORKDSGraphState CVORKDirectShowGrabber::GetGraphState() {
    VORKCameraLock lock;
    return m_GraphState;
}

void CVORKDirectShowGrabber::SetGraphState(VORKDSGraphState state) {
    VORKCameraLock lock;
    m_GraphState = state;
}

bool CVORKDirectShowGrabber::IsContSnapRunning() {
    VORKCameraLock lock;
    return m_bContSnapRunning;
}

void CVORKDirectShowGrabber::SetContSnapRunning(bool running) {
    VORKCameraLock lock;
    m_bContSnapRunning = running;
}

CVORKGrabberBuffersRing* CVORKDirectShowGrabber::GetGB() {
    VORKCameraLock lock;
    return m_pGB;
}

bool CVORKDirectShowGrabber::IsConnected() {
    VORKCameraLock lock;
    return m_bConnected;
}

LONG CVORKDirectShowGrabber::GetImgBufSize() {
    VORKCameraLock lock;
    return m_lImgBufSize;
}

LONG CVORKDirectShowGrabber::GetOldBufSize() {
    VORKCameraLock lock;
    return m_lOldBufSize;
}

bool CVORKDirectShowGrabber::DoNoSingleSnap() {
    VORKCameraLock lock;
    return m_bNoSingleSnap;
}

LONG CVORKDirectShowGrabber::GetWaitForCamStart() {
    VORKCameraLock lock;
    return m_lWaitForCamStart;
}
