// Snaps: arming single or continuous acquisition, waiting for the frame and
// delivering it, mirrored as configured, into the framework's buffers.
#include <algorithm>
#include <string>

#include "VORKDirectShowGrabber.h"

#include "Mirror.h"
#include "SampleGrabberCB.h"
#include "Text.h"

namespace {

std::wstring GrabberName(const CVORKGrabberBase& grabber) {
    wchar_t name[256];
    grabber.GetGrabberName(name);
    return name;
}

void LogNamed(const wchar_t* format, const std::wstring& name, int code) {
    wchar_t text[512];
    VORKFormat(text, 512, format, name.c_str());
    VORKWriteErrorLog(text, code, 2);
}

}  // namespace

BYTE* CVORKDirectShowGrabber::Snap(bool toRing, int timeoutMs) {
    BYTE* result = SnapAsyncToAddBuffer() != 0 ? nullptr : WaitForSnap(toRing, timeoutMs);
    if (m_bRepeatSnap) {
        VORKWriteErrorLog(toRing ? L"CVORKDirectShowGrabber::SnapToRing: Repeating snap due to unexpected buffer size!"
                                 : L"CVORKDirectShowGrabber::SnapToAddBuffer: Repeating snap due to unexpected buffer size!",
                          -1, 2);
        result = SnapAsyncToAddBuffer() != 0 ? nullptr : WaitForSnap(toRing, timeoutMs);
        m_bRepeatSnap = false;
    }
    if (DoNoSingleSnap()) StopSnap();
    return result;
}

BYTE* CVORKDirectShowGrabber::SnapToAddBuffer(int timeoutMs) { return Snap(false, timeoutMs); }

BYTE* CVORKDirectShowGrabber::SnapToRing(int timeoutMs) { return Snap(true, timeoutMs); }

int CVORKDirectShowGrabber::SnapAsyncToAddBuffer() {
    if (!IsInitialized()) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::SnapToAddBuffer: No valid grabber object!", 2, 2);
        return 2;
    }
    const std::wstring name = GrabberName(*this);
    // From the look at the other graphs to the start of this one the camera lock
    // is held, so that no other thread starts a graph in between: all grabbers
    // share one sample callback, and only one graph may run.
    {
        VORKCameraLock lock;
        if (!AreAllGraphsStopped()) {
            LogNamed(L"CVORKDirectShowGrabber::SnapAsyncToAddBuffer: Not all graphs are stopped! Grabber: %ls", name, -1);
            // All grabbers share one callback: a single snap may not cut into a
            // continuous acquisition, but it may stop graphs that merely run.
            if (IsAnyContSnapRunning()) {
                VORKWriteErrorLog(L"CVORKDirectShowGrabber::SnapToAddBuffer: Stop any continous snap before doing single snaps!",
                                  22, 2);
                return 22;
            }
            StopAllGraphs();
        }
        if (!IsConnected()) {
            LogNamed(L"CVORKDirectShowGrabber::SnapAsyncToAddBuffer: Graph not connected, now connecting! Grabber: %ls", name,
                     -1);
            ConnectGraph();
            if (!IsConnected()) {
                VORKWriteErrorLog(L"CVORKDirectShowGrabber::SnapToAddBuffer: Graph not connected!", 2, 2);
                return 2;
            }
        }
        if (!DoNoSingleSnap()) {
            HRESULT hr = m_pSampleGrabber->SetOneShot(TRUE);
            SetGraphState(VORKDSGraphStarting);
            if (SUCCEEDED(hr)) hr = m_pSampleGrabber->SetCallback(nullptr, 1);
            if (ShowError(hr)) return 17;
            return Run();
        }
    }
    // Outside the lock: the continuous start pauses after it starts.
    return SnapAsyncToRing();
}

int CVORKDirectShowGrabber::SnapAsyncToRing() {
    if (!IsInitialized()) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::SnapAsyncToRing: No valid grabber object!", 2, 2);
        return 2;
    }
    int result = 0;
    {
        // Held from the look at the other graphs to the start of this one, so
        // that no other thread starts a graph in between.
        VORKCameraLock lock;
        if (IsContSnapRunning()) return 0;
        if (!AreAllGraphsStopped()) StopAllGraphs();
        if (!IsConnected()) {
            LogNamed(L"CVORKDirectShowGrabber::SnapAsyncToRing: Graph not connected, now connecting! Grabber: %ls",
                     GrabberName(*this), -1);
            ConnectGraph();
            if (!IsConnected()) {
                VORKWriteErrorLog(L"CVORKDirectShowGrabber::SnapAsyncToRing: Graph not connected!", 2, 2);
                return 2;
            }
        }
        HRESULT hr = m_pSampleGrabber->SetOneShot(FALSE);
        if (SUCCEEDED(hr)) hr = m_pSampleGrabber->SetCallback(&g_CB, 1);
        // Without the callback no frame would ever be signalled: the caller is told.
        if (ShowError(hr)) return 17;
        SetContSnapRunning(true);
        SetGraphState(VORKDSGraphStarting);
        result = Run();
        if (result == 2 || result == 17) {
            SetContSnapRunning(false);
            SetGraphState(VORKDSGraphStopped);
            return result;
        }
    }
    // A negative pause from the INI file means none.
    const LONG pause = GetWaitForCamStart();
    if (pause > 0) Sleep(static_cast<DWORD>(pause));
    return result;
}

BYTE* CVORKDirectShowGrabber::WaitForSnap(bool toRing, int timeoutMs) {
    if (!IsInitialized()) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WaitForSnap: No valid grabber object!", 2, 2);
        return nullptr;
    }
    if (!IsConnected()) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WaitForSnap: Graph not connected!", 2, 2);
        return nullptr;
    }
    CVORKGrabberBuffersRing* ring = GetGB();
    if (!ring) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::WaitForSnap: No valid CVORKGrabberBuffersRing object!", -1, 2);
        return nullptr;
    }
    const std::wstring name = GrabberName(*this);
    // Only a first look: the buffer may be freed or replaced while this thread
    // waits, so the copy takes its target again under the lock. Buffers not
    // allocated yet: a ring entry without one is said, since a grab loop would
    // otherwise go round without a word.
    if (!(toRing ? ring->GetActBuffer() : ring->GetAddBuffer())) {
        if (toRing)
            LogNamed(L"CVORKDirectShowGrabber::WaitForSnap: The ring's current entry has no buffer! Grabber %ls", name, -1);
        return nullptr;
    }

    wchar_t message[256] = L"";
    LONG expected = 0;
    HRESULT lastStatus = S_OK;

    if (IsContSnapRunning()) {
        const HANDLE handles[2] = {g_CB.m_hNewFrameEvent, GetAbortEvent()};
        const DWORD ret = WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(timeoutMs));
        if (ret == WAIT_OBJECT_0 + 1) {
            VORKWriteErrorLog(L"CVORKDirectShowGrabber::WaitForSnap: Abort event received, returning NULL", -1, 2);
            return nullptr;
        }
        if (ret != WAIT_OBJECT_0) {
            wchar_t text[512];
            VORKFormat(text, 512,
                       L"CVORKDirectShowGrabber::WaitForSnap: Timeout or error waiting for g_CB.m_hNewFrameEvent "
                       L"(ret=%d), Grabber %ls",
                       static_cast<int>(ret), name.c_str());
            VORKWriteErrorLog(text, -1, 2);
            DisconnectGraph();
            ConnectGraph();
            if (!toRing && DoNoSingleSnap()) {
                SetContSnapRunning(false);
                StopSnap();
            }
            return nullptr;
        }
        expected = InterlockedCompareExchange(&g_CB.m_lLastBufferLen, 0, 0);  // an atomic read
    } else {
        OAEVENT eventHandle = 0;
        lastStatus = m_pMediaEvent ? m_pMediaEvent->GetEventHandle(&eventHandle) : E_POINTER;
        if (ShowError(lastStatus)) {
            VORKWriteErrorLog(L"CVORKDirectShowGrabber::WaitForSnap: GetEventHandle failed", 0, 2);
            Stop();
            return nullptr;
        }
        bool complete = false;
        const DWORD start = GetTickCount();
        for (;;) {
            if (WaitForSingleObject(reinterpret_cast<HANDLE>(eventHandle), 0) == WAIT_OBJECT_0) {
                LONG code = 0;
                LONG_PTR param1 = 0;
                LONG_PTR param2 = 0;
                while (SUCCEEDED(lastStatus = m_pMediaEvent->GetEvent(&code, &param1, &param2, 0))) {
                    // EC_DEVICE_LOST's first parameter is a filter, not a status.
                    const bool failed = code == EC_DEVICE_LOST
                                            ? param2 == 0
                                            : ShowError(static_cast<HRESULT>(param1)) ||
                                                  ShowError(static_cast<HRESULT>(param2)) || code == EC_ERRORABORT;
                    if (failed) {
                        wchar_t text[512];
                        VORKFormat(text, 512,
                                   L"CVORKDirectShowGrabber::WaitForSnap: Acquisition error! Event code: %#04x\n "
                                   L"Params: %d, %d grabber %ls\n",
                                   static_cast<unsigned>(code), static_cast<int>(param1), static_cast<int>(param2),
                                   name.c_str());
                        VORKWriteErrorLog(text, 0, 2);
                        m_pMediaEvent->FreeEventParams(code, param1, param2);
                        Stop();
                        return nullptr;
                    }
                    m_pMediaEvent->FreeEventParams(code, param1, param2);
                    complete = code == EC_COMPLETE;
                }
                if (complete) StopIfNecessary();
            }
            // Unsigned, so that the tick count's wrap does not end the wait early.
            if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) {
                VORKFormat(message, 256, L"CVORKDirectShowGrabber::WaitForSnap: Timeout, Grabber %ls", name.c_str());
                Stop();
                break;
            }
            if (complete) break;
        }
        // A single snap into the ring delivers as one into the additional buffer.
        if (complete) expected = GetImgBufSize();
    }

    BYTE* result = nullptr;
    {
        VORKCameraLock lock;
        BYTE* target = toRing ? ring->GetActBuffer() : ring->GetAddBuffer();
        if (!target) expected = 0;
        const LONG capacity = m_lImgBufSize;
        if (expected > capacity) {
            // A frame longer than the buffers (the callback's length in the
            // continuous path) is refused as a size mismatch before any copy,
            // as the single-snap path refuses it through the sample grabber.
            VORKFormat(message, 256,
                       L"CVORKDirectShowGrabber::WaitForSnap: Warning: received buffers size %d does not equal "
                       L"expected buffer size %d! Grabber %ls",
                       static_cast<int>(expected), static_cast<int>(capacity), name.c_str());
            m_bRepeatSnap = true;
        } else if (expected > 0) {
            LONG size = expected;
            const HRESULT copy = m_pSampleGrabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(target));
            lastStatus = copy;
            int x = 0, y = 0, width = 0, height = 0;
            GetGrabRect(x, y, width, height, -1);
            const int bytesPerPixel = GetBytesPerPixel();
            if (width > 0 && height > 0 && bytesPerPixel > 0 && capacity > 0) {
                // Only the rows that fit the buffer are mirrored.
                const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel);
                const auto rows = static_cast<unsigned>(
                    std::min(static_cast<size_t>(height), static_cast<size_t>(capacity) / rowBytes));
                if (m_bMirrorVertical)
                    MirrorImageVertical(target, static_cast<unsigned>(width), rows, static_cast<unsigned>(bytesPerPixel));
                if (m_bMirrorHorizontal)
                    MirrorImageHorizontal(target, static_cast<unsigned>(width), rows,
                                          static_cast<unsigned>(bytesPerPixel));
            }
            if (size != expected) {
                VORKFormat(message, 256,
                           L"CVORKDirectShowGrabber::WaitForSnap: Warning: received buffers size %d does not equal "
                           L"expected buffer size %d! Grabber %ls",
                           static_cast<int>(size), static_cast<int>(expected), name.c_str());
                m_bRepeatSnap = true;
            } else if (!ShowError(copy)) {
                result = target;
                IncLastImgNr();
                if (toRing)
                    if (CVORKGrabberBuffer* entry = ring->FindGrabberBuffer(target))
                        ring->SetLastGrabbedIndex(entry->m_nIndex);
            }
        }
    }
    if (message[0]) VORKWriteErrorLog(message, -1, 2);
    if (!result) LogNamed(L"DirectShow Snap error grabber %ls", name, lastStatus);
    if (!toRing && DoNoSingleSnap()) {
        SetContSnapRunning(false);
        StopSnap();
    }
    return result;
}

void CVORKDirectShowGrabber::StopSnap() {
    // One last frame lands in the ring, unless the framework is aborting.
    if (IsContSnapRunning() && !IsAborting()) WaitForSnap(true, 1000);
    Stop();
    ResetLastImgNr();
}
