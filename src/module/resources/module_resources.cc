#include "module/resources/module_resources.h"

#include <cstddef>

#include "platform/port.h"

namespace bacnet_module {

#if defined(_WIN32)

void RegisterModuleResources() {}

#else

// module_resources_data.cc, made by the build.
extern const port::EmbeddedResource kModuleResources[];
extern const size_t kModuleResourceCount;

void RegisterModuleResources() { port::RegisterResources(kModuleResources, kModuleResourceCount); }

#endif

}  // namespace bacnet_module
