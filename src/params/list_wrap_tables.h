// The function tables of the list wrapper (defined in list_wrap_methods.cc).
#pragma once

#include "bacnetip/plugin_abi.h"

namespace kel {

extern const IkelParamsListAVtbl kListAVtbl;
extern const IkelParamsListWVtbl kListWVtbl;

}  // namespace kel
