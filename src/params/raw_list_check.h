// Telling a raw list object from any other pointer (for instance a pointer to
// an interface variable) without ever faulting.
#pragma once

namespace kel {

// True when p points at a live TkelParamsList: its signature word reads as
// the list signature.  Any pointer, even a wild one, is safe to pass.
bool IsRawParamsList(const void* p);

}  // namespace kel
