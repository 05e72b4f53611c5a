// The framework's image buffers, sized by measuring one frame of the camera.
#include "VORKDirectShowGrabber.h"

#include <memory>

#include "Text.h"

namespace {
constexpr int kTestFramePasses = 501;  // of 10 ms each: about five seconds
constexpr DWORD kPassMs = 10;
}  // namespace

void CVORKDirectShowGrabber::UpdateImgBufferSizes(int /*channel*/) {
    if (!m_pSampleGrabber) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::UpdateImgBufferSizes: No valid grabber object!", 2, 2);
        return;
    }
    CVORKGrabberBuffersRing* ring = GetGB();
    if (!ring) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::UpdateImgBufferSizes: No valid CVORKGrabberBuffersRing object!", -1,
                          2);
        return;
    }
    if (GetImgBufSize() == GetOldBufSize()) return;
    if (!IsConnected()) {
        wchar_t name[256];
        GetGrabberName(name);
        wchar_t text[512];
        VORKFormat(text, 512,
                   L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Graph not connected, now connecting! Grabber: %ls",
                   name);
        VORKWriteErrorLog(text, -1, 2);
        ConnectGraph();
    }

    // Buffers are replaced only under the lock, so that no copy meets them half made.
    VORKCameraLock lock;
    if (!AreAllGraphsStopped()) StopAllGraphs();
    Run();
    OAEVENT eventHandle = 0;
    HRESULT hr = m_pMediaEvent ? m_pMediaEvent->GetEventHandle(&eventHandle) : E_POINTER;
    if (ShowError(hr)) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::UpdateImgBufferSizes: GetEventHandle failed!", 0, 2);
        Stop();
        return;
    }
    WaitForTestFrame(reinterpret_cast<HANDLE>(eventHandle));
    Stop();

    if (ShowError(m_pSampleGrabber->GetCurrentBuffer(&m_lImgBufSize, nullptr))) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::UpdateImgBufferSizes: GetCurrentBuffer failed!", 0, 2);
        return;
    }
    ClearImgBuffers();
    const LONG newSize = GetImgBufSize();
    if (newSize <= 0) return;
    // Owned here until the ring takes it, so that a failed allocation of an
    // entry does not lose it; entries the ring holds are freed by ClearImgBuffers.
    std::unique_ptr<BYTE[]> addBuffer(new BYTE[static_cast<size_t>(newSize)]);
    for (int index = 0; index < GetNumImgBuffers(); ++index) {
        BYTE* data = new BYTE[static_cast<size_t>(newSize)];
        if (CVORKGrabberBuffer* entry = ring->GetGrabberBufferInRing(index)) entry->m_pData = data;
        ring->SetBuffer(index, data);
    }
    ring->SetAddBuffer(addBuffer.release());
    m_lOldBufSize = newSize;
}

// Waits in passes of 10 ms for the end of the test frame's stream, draining the
// graph's events; an error event or the last pass ends the wait as well.
void CVORKDirectShowGrabber::WaitForTestFrame(HANDLE events) {
    for (int pass = 1;; ++pass) {
        bool complete = false;
        bool failed = false;
        if (WaitForSingleObject(events, kPassMs) == WAIT_OBJECT_0) {
            LONG code = 0;
            LONG_PTR param1 = 0;
            LONG_PTR param2 = 0;
            while (SUCCEEDED(m_pMediaEvent->GetEvent(&code, &param1, &param2, 0))) {
                // EC_DEVICE_LOST's first parameter is a filter, not a status.
                failed = code == EC_DEVICE_LOST ? param2 == 0
                                                : ShowError(static_cast<HRESULT>(param1)) ||
                                                      ShowError(static_cast<HRESULT>(param2)) || code == EC_ERRORABORT;
                if (failed) {
                    wchar_t text[256];
                    VORKFormat(text, 256,
                               L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Acquisition error! Event code: %#04x\n "
                               L"Params: %d, %d\n",
                               static_cast<unsigned>(code), static_cast<int>(param1), static_cast<int>(param2));
                    VORKWriteErrorLog(text, 0, 2);
                }
                m_pMediaEvent->FreeEventParams(code, param1, param2);
                complete = code == EC_COMPLETE;  // the last event drained decides
                if (failed) break;
            }
        }
        if (complete || failed) return;
        if (pass >= kTestFramePasses) {
            VORKWriteErrorLog(L"CVORKDirectShowGrabber::UpdateImgBufferSizes: Timeout waiting for event!", 0, 2);
            return;
        }
    }
}

void CVORKDirectShowGrabber::ClearImgBuffers() {
    CVORKGrabberBuffersRing* ring = GetGB();
    if (!ring) return;
    VORKCameraLock lock;
    delete[] ring->GetAddBuffer();
    for (int index = 0; index < GetNumImgBuffers(); ++index) {
        CVORKGrabberBuffer* entry = ring->GetGrabberBufferInRing(index);
        if (!entry || !entry->m_pData) continue;
        delete[] entry->m_pData;
        entry->m_pData = nullptr;
    }
    ring->ResetBuffers();
}

DWORD CVORKDirectShowGrabber::CalcBitmapInfoSize(const BITMAPINFOHEADER& header) {
    const DWORD headerSize = header.biSize != 0 ? header.biSize : 40;
    return headerSize + 4 * header.biClrUsed;
}
