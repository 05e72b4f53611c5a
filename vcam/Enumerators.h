// IEnumPins over the filter's one pin and IEnumMediaTypes over a list of types,
// each holding what it hands out.
#pragma once

#include <dshow.h>

#include <vector>

#include "Com.h"
#include "MediaTypes.h"
#include "vork/comptr.h"

namespace vcam {

HRESULT CreatePinEnumerator(IPin* pin, IEnumPins** out);
HRESULT CreateTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** out);

}  // namespace vcam
