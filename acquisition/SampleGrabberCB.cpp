#include "SampleGrabberCB.h"

CSampleGrabberCB g_CB;

CSampleGrabberCB::CSampleGrabberCB()
    : m_hNewFrameEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_lLastBufferLen(0) {}

CSampleGrabberCB::~CSampleGrabberCB() {
    if (m_hNewFrameEvent) CloseHandle(m_hNewFrameEvent);
}

HRESULT STDMETHODCALLTYPE CSampleGrabberCB::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_ISampleGrabberCB) || IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CSampleGrabberCB::AddRef() { return 2; }

ULONG STDMETHODCALLTYPE CSampleGrabberCB::Release() { return 1; }

HRESULT STDMETHODCALLTYPE CSampleGrabberCB::SampleCB(double, IMediaSample*) { return S_OK; }

HRESULT STDMETHODCALLTYPE CSampleGrabberCB::BufferCB(double, BYTE* buffer, LONG bufferLength) {
    if (!buffer) return E_POINTER;
    // The reader takes the length after its wait on the event returned; frames go
    // on arriving meanwhile, so the value is exchanged atomically.
    InterlockedExchange(&m_lLastBufferLen, bufferLength);
    SetEvent(m_hNewFrameEvent);
    return S_OK;
}
