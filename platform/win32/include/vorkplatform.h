#pragma once

#include "vorkplatform_base.h"
#include "vork/comptr.h"
#include "vork/winapp.h"
