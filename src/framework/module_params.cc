#include "framework/module_params.h"

namespace kel {

Variant GetModuleParameter(TkelPlugin&, const std::string&) { return Variant(); }

bool SetModuleParameter(TkelPlugin&, const std::string&, const Variant&) { return false; }

}  // namespace kel
