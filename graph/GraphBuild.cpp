// Opening and closing the board: the capture graph of source, sample grabber and
// null renderer, its hidden media-event window, and connecting its pins.
#include "VORKDirectShowGrabber.h"

#include "ComIdentity.h"
#include "GrabberList.h"
#include "Module.h"
#include "Text.h"

void CVORKDirectShowGrabber::CreateMediaEventWindow(const wchar_t* grabberName) {
    wchar_t windowName[256];
    VORKFormat(windowName, 256, L"DummyMediaEventWindow_%ls", grabberName);
    int creationParameter = 0;
    VORKCameraLock lock;
    // A window left by an earlier opening of this grabber would otherwise be lost.
    if (m_hMediaEventWnd) DestroyWindow(m_hMediaEventWnd);
    m_hMediaEventWnd = CreateWindowExW(0, kMediaEventWindowClass, windowName, 0, 0, 0, 100, 100, GetDesktopWindow(),
                                       nullptr, m_hInstance, &creationParameter);
    if (m_hMediaEventWnd) SetWindowLongPtrW(m_hMediaEventWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

bool CVORKDirectShowGrabber::InitBoard() {
    VORKAppendGrabber(this);
    ResetFlags();
    wchar_t grabberName[256];
    wchar_t iniFile[256];
    GetGrabberName(grabberName);
    VORKGetIniFileName(iniFile);
    ReadDeviceSettings(grabberName, iniFile);
    CreateMediaEventWindow(grabberName);

    // Creation failures show as a missing object, whatever the result said.
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                     reinterpret_cast<void**>(&m_pDevEnum));
    if (!m_pDevEnum) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::InitBoard: Could not initialize device enumerator!", 2, 2);
        return false;
    }
    CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                     reinterpret_cast<void**>(&m_pSampleGrabber));
    if (!m_pSampleGrabber) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::InitBoard: Could not initialize sample grabber!", 2, 2);
        return false;
    }
    if (ShowError(m_pSampleGrabber->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&m_pGrabberFilter))))
        return false;
    if (!SelectCaptureDevice(grabberName, iniFile)) return false;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&m_pGraph));
    if (!m_pGraph) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::InitBoard: Could not create filter graph!", 2, 2);
        return false;
    }
    CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     reinterpret_cast<void**>(&m_pNullRenderer));
    if (!m_pNullRenderer) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::InitBoard: Could not create NULL renderer!", 2, 2);
        return false;
    }
    {
        VORKCameraLock lock;
        if (m_hMediaEventWnd) {
            if (m_pVideoWindow) m_pVideoWindow->Release();
            m_pVideoWindow = nullptr;
            HRESULT hr = m_pGraph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&m_pVideoWindow));
            if (hr == S_OK) {
                m_pVideoWindow->put_Owner(reinterpret_cast<OAHWND>(m_hMediaEventWnd));
                m_pVideoWindow->put_WindowStyle(WS_CHILD);
                m_pVideoWindow->put_Visible(OATRUE);
            } else {
                ShowError(hr);
            }
        }
    }
    if (ShowError(m_pGraph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&m_pMediaEvent)))) return false;
    {
        VORKCameraLock lock;
        if (m_hMediaEventWnd)
            m_pMediaEvent->SetNotifyWindow(reinterpret_cast<OAHWND>(m_hMediaEventWnd), WM_MEDIAEVENT, 0);
    }
    if (ShowError(m_pGraph->AddFilter(m_pCapSource, L"Source"))) return false;
    if (ShowError(m_pGraph->AddFilter(m_pGrabberFilter, L"Grabber"))) return false;
    if (ShowError(m_pGraph->AddFilter(m_pNullRenderer, L"NullRender"))) return false;
    {
        VORKCameraLock lock;
        m_pMediaType->majortype = MEDIATYPE_Video;
    }
    if (ShowError(m_pSampleGrabber->SetBufferSamples(TRUE))) return false;
    if (ShowError(m_pSampleGrabber->SetOneShot(TRUE))) return false;
    if (ShowError(m_pSampleGrabber->SetCallback(nullptr, 1))) return false;
    if (ShowError(m_pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_pMediaControl))))
        return false;
    if (FAILED(m_pCapSource->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&m_pProcAmp))))
        VORKWriteErrorLog(L"Video device does not support video quality settings. No WDM capture device?", 0, 2);
    if (FAILED(m_pCapSource->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(&m_pCamCtrl))))
        VORKWriteErrorLog(L"Video device does not support camera control interface!", 0, 2);
    return true;
}

void CVORKDirectShowGrabber::CloseBoard() {
    DisconnectGraph();
    ClearImgBuffers();
    ResetFlags();
    VORKRemoveGrabber(this);
    {
        VORKCameraLock lock;
        if (m_hMediaEventWnd) {
            DestroyWindow(m_hMediaEventWnd);
            m_hMediaEventWnd = nullptr;
        }
        if (m_pVideoWindow) {
            m_pVideoWindow->put_Owner(0);
            m_pVideoWindow->put_Visible(OAFALSE);
            m_pVideoWindow->Release();
            m_pVideoWindow = nullptr;
        }
    }
    m_pDevEnum.Release();
    m_pCamCtrl.Release();
    m_pMediaEvent.Release();
    m_pSampleGrabber.Release();
    m_pCapSource.Release();
    m_pNullRenderer.Release();
    m_pGraph.Release();
    m_pGrabberFilter.Release();
    m_pSourceOutPin.Release();
    m_pGrabberInPin.Release();
    m_pGrabberOutPin.Release();
    m_pNullRendererInPin.Release();
    m_pMediaControl.Release();
    m_pProcAmp.Release();
}

int CVORKDirectShowGrabber::ConnectGraph() {
    // The host's thread and the grab thread may both find the graph
    // disconnected: the pins are stored by one of them at a time.
    VORKCameraLock hold;
    if (IsConnected()) {
        VORKWriteErrorLog(
            L"CVORKDirectShowGrabber::ConnectGraph: Warning, graph is connected and will be disconnected before "
            L"reconnecting!",
            0, 2);
        DisconnectGraph();
    }
    if (!m_pSampleGrabber) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::ConnectGraph: No valid grabber object!", 2, 2);
        return 16;
    }
    // A board opened only part way has no graph to connect.
    if (!m_pGraph || !m_pCapSource || !m_pGrabberFilter || !m_pNullRenderer) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::ConnectGraph: Graph not built!", 16, 2);
        return 16;
    }
    m_pSampleGrabber->SetMediaType(m_pMediaType);
    m_pSourceOutPin = GetOutPin(m_pCapSource, 0);
    m_pGrabberInPin = GetInPin(m_pGrabberFilter, 0);
    m_pGrabberOutPin = GetOutPin(m_pGrabberFilter, 0);
    m_pNullRendererInPin = GetInPin(m_pNullRenderer, 0);
    if (ShowError(m_pGraph->Connect(m_pSourceOutPin, m_pGrabberInPin))) return 16;
    if (ShowError(m_pGraph->Connect(m_pGrabberOutPin, m_pNullRendererInPin))) return 16;
    if (UpdateCallbackInfo() != 0) return 16;
    m_bConnected = true;
    return 0;
}


void CVORKDirectShowGrabber::DisconnectGraph() {
    // Held from the stop to the last disconnection, so that no other thread
    // starts the graph while its filters are taken apart.
    VORKCameraLock hold;
    if (!IsGraphStopped()) Stop();
    // The filters the graph put between the camera and the sample grabber while
    // it connected them (a colour space converter, an MJPEG decompressor) leave
    // the graph with the connection: half-connected, they would stay in it for
    // good and make every new connection insert fresh ones.
    constexpr int kMaxIntermediateFilters = 8;
    CComPtr<IPin> next;
    if (m_pGraph && m_pSourceOutPin) m_pSourceOutPin->ConnectedTo(&next);
    for (int hop = 0; next && hop < kMaxIntermediateFilters; ++hop) {
        PIN_INFO info{};
        if (FAILED(next->QueryPinInfo(&info)) || !info.pFilter) break;
        CComPtr<IBaseFilter> filter;
        filter.Attach(info.pFilter);
        if (IsSameObject(filter, m_pGrabberFilter)) break;
        CComPtr<IPin> after;
        if (CComPtr<IPin> out = GetOutPin(filter, 0)) out->ConnectedTo(&after);
        m_pGraph->RemoveFilter(filter);  // disconnects its pins on both sides
        next = after;
    }
    if (IsConnected() && m_pGraph) {
        for (IPin* pin : {m_pSourceOutPin.p, m_pGrabberInPin.p, m_pGrabberOutPin.p, m_pNullRendererInPin.p})
            ShowError(m_pGraph->Disconnect(pin));
    }
    VORKCameraLock lock;
    m_bConnected = false;
}

HRESULT CVORKDirectShowGrabber::GetPin(IBaseFilter* filter, PIN_DIRECTION direction, int index, IPin** pin) {
    *pin = nullptr;
    if (!filter) return E_FAIL;
    CComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (ShowError(hr)) return hr;
    hr = E_FAIL;
    IPin* candidate = nullptr;
    while (pins && pins->Next(1, &candidate, nullptr) == S_OK) {
        CComPtr<IPin> held;
        held.Attach(candidate);
        // A pin whose direction cannot be read never matches.
        auto found = static_cast<PIN_DIRECTION>(3);
        held->QueryDirection(&found);
        if (found != direction) continue;
        if (index == 0) {
            *pin = held.Detach();
            hr = S_OK;
            break;
        }
        --index;
    }
    return hr;
}

IPin* CVORKDirectShowGrabber::GetInPin(IBaseFilter* filter, int index) {
    CComPtr<IPin> pin;
    GetPin(filter, PINDIR_INPUT, index, &pin);
    // Not counted: valid while the filter holds the pin.
    return pin;
}

IPin* CVORKDirectShowGrabber::GetOutPin(IBaseFilter* filter, int index) {
    CComPtr<IPin> pin;
    GetPin(filter, PINDIR_OUTPUT, index, &pin);
    return pin;
}
