// The sample grabber callback shared by every grabber of the module. The
// streaming thread calls BufferCB for each frame of a continuous acquisition; it
// records the frame's length and signals m_hNewFrameEvent, nothing more. The
// frame itself is fetched later by the waiting thread from the sample grabber's
// buffered copy, so the buffer handed to BufferCB is never kept.
#pragma once

#include "vorkplatform.h"

class CSampleGrabberCB : public ISampleGrabberCB {
public:
    CSampleGrabberCB();
    CSampleGrabberCB(const CSampleGrabberCB&) = delete;
    CSampleGrabberCB& operator=(const CSampleGrabberCB&) = delete;
    virtual ~CSampleGrabberCB();

    // A static object of the module: not counted, never deleted through COM.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG bufferLength) override;

    HANDLE m_hNewFrameEvent;  // auto-reset; one signal per delivered frame
    LONG m_lLastBufferLen;    // written by the streaming thread before the signal
};

extern CSampleGrabberCB g_CB;
