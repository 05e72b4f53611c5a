// The platform as the project's code sees it: the Win32, COM and DirectShow
// declarations of this platform (vorkplatform_base.h: the SDK on Windows, the
// simulation elsewhere) and the pieces every platform shares.
#pragma once

#include "vorkplatform_base.h"
#include "vork/comptr.h"
#include "vork/winapp.h"
