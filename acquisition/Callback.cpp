// The check that the sample grabber is connected, for the callback's use.
#include "VORKDirectShowGrabber.h"

#include "MediaType.h"

int CVORKDirectShowGrabber::UpdateCallbackInfo() {
    if (!m_pSampleGrabber) return 16;
    VORKScopedMediaType connected;
    if (ShowError(m_pSampleGrabber->GetConnectedMediaType(&connected))) return 16;
    return 0;
}
