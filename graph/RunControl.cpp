// Running and stopping a grabber's graph, the module-wide walks that keep at most
// one graph running, and the logging of DirectShow failures.
#include "VORKDirectShowGrabber.h"

#include "GrabberList.h"
#include "Text.h"

namespace {

constexpr int kRunPolls = 100;
constexpr LONG kPollMs = 10;
constexpr LONG kStopWaitMs = 1000;

// A state query that fails without reporting a state leaves `state` as it was; the
// callers start from the state in which they must not assume a running graph.
HRESULT QueryState(IMediaControl* control, LONG timeoutMs, OAFilterState& state) {
    return control->GetState(timeoutMs, &state);
}

}  // namespace

bool CVORKDirectShowGrabber::ShowError(HRESULT hr) {
    if (hr >= 0) return false;
    wchar_t text[MAX_ERROR_TEXT_LEN] = L"";
    if (AMGetErrorTextW(hr, text, MAX_ERROR_TEXT_LEN) == 0)
        VORKFormat(text, MAX_ERROR_TEXT_LEN, L"CVORKDirectShowGrabber: Unknown Error: 0x%2x",
                   static_cast<unsigned int>(hr));
    wchar_t line[MAX_ERROR_TEXT_LEN + 32];
    VORKFormat(line, MAX_ERROR_TEXT_LEN + 32, L"DirectShow error: %ls", text);
    VORKWriteErrorLog(line, 0, 2);
    return true;
}

int CVORKDirectShowGrabber::Run() {
    if (!m_pSampleGrabber) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::Run: Grabber not initialized!", 2, 2);
        return 2;
    }
    if (!IsConnected()) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::Run: Graph not connected!", 2, 2);
        return 2;
    }
    if (!m_pMediaControl) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::Run: No valid grabber control object!", 2, 2);
        return 2;
    }
    OAFilterState state = State_Stopped;
    QueryState(m_pMediaControl, 0, state);
    if (state == State_Running) return 22;

    const HRESULT runResult = m_pMediaControl->Run();
    HRESULT hr = runResult;
    if (hr != S_OK) {
        // S_FALSE: some filters are still on their way to running.
        for (int poll = 0; poll < kRunPolls; ++poll) {
            state = State_Stopped;
            hr = QueryState(m_pMediaControl, kPollMs, state);
            if (hr == S_OK) {
                // A run that failed keeps its own code (a camera held by another
                // program, a device gone), so that the log says why.
                if (state != State_Running) hr = FAILED(runResult) ? runResult : E_FAIL;
                break;
            }
            if (hr == E_FAIL || hr == VFW_S_CANT_CUE) break;
        }
    }
    if (ShowError(hr)) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::Run(): Error switching to Run state", 0, 2);
        return 17;
    }
    SetGraphState(VORKDSGraphRunning);
    return 0;
}

void CVORKDirectShowGrabber::Stop() {
    if (!m_pSampleGrabber) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::Stop : No valid grabber object!", 2, 2);
        return;
    }
    if (!m_pMediaControl) {
        VORKWriteErrorLog(L"CVORKDirectShowGrabber::Stop : No valid grabber control object!", 2, 2);
        return;
    }
    // The stop and its record are one step for every other thread: a start holds
    // the same lock, so no graph can be started between them and then be
    // recorded as stopped.
    VORKCameraLock lock;
    SetContSnapRunning(false);
    m_pMediaControl->Stop();
    // A query that reports no state counts as still running, so the longer wait
    // is not skipped on a graph whose state is unknown.
    OAFilterState state = State_Running;
    HRESULT hr = QueryState(m_pMediaControl, kPollMs, state);
    if (hr != S_OK) ShowError(hr);
    if (hr != E_FAIL && state != State_Stopped) {
        hr = QueryState(m_pMediaControl, kStopWaitMs, state);
        if (hr == E_FAIL) ShowError(hr);
        if (state != State_Stopped) {
            wchar_t text[256];
            VORKFormat(text, 256,
                       L"CVORKDirectShowGrabber::Stop(): Timeout waiting for acquisition to stop, return code: %d!",
                       static_cast<int>(hr));
            VORKWriteErrorLog(text, 0, 2);
        }
    }
    SetGraphState(VORKDSGraphStopped);
}

HRESULT CVORKDirectShowGrabber::StopIfNecessary() {
    VORKCameraLock lock;  // the look at the state and the stop are one step
    HRESULT hr = S_OK;
    // A board that never got its media control has no graph to stop.
    if (m_pMediaControl) {
        OAFilterState state = State_Running;
        hr = QueryState(m_pMediaControl, kPollMs, state);
        ShowError(hr);
        if (state != State_Stopped) Stop();
    }
    SetGraphState(VORKDSGraphStopped);
    return hr;
}

bool AreAllGraphsStopped() {
    VORKCameraLock lock;
    bool allStopped = true;
    for (CVORKDirectShowGrabber* grabber : g_Grabbers)
        if (!grabber->IsGraphStopped()) allStopped = false;
    return allStopped;
}

bool IsAnyContSnapRunning() {
    VORKCameraLock lock;
    bool any = false;
    for (CVORKDirectShowGrabber* grabber : g_Grabbers)
        if (grabber->IsContSnapRunning()) any = true;
    return any;
}

HRESULT StopAllGraphs() {
    HRESULT result = S_OK;
    // Held across the walk, so that no DeInitDll on another thread destroys a
    // grabber of the copy before it is stopped; a copy, as stopping may run
    // code that changes the list.
    VORKCameraLock lock;
    const std::vector<CVORKDirectShowGrabber*> grabbers = g_Grabbers;
    for (CVORKDirectShowGrabber* grabber : grabbers) result |= grabber->StopIfNecessary();
    return result;
}
