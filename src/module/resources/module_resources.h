// The module's raw-data resources: the options form, its package and its
// name, found through port::FindRawResource.
#pragma once

namespace bacnet_module {

// Resource names.
inline constexpr char kFormNameResource[] = "FORM_NAME";
inline constexpr char kFormDataResource[] = "FORM_DATA";
inline constexpr char kOptionsFormResource[] = "TFRMOPTION";

// Makes the resources the build embedded findable (POSIX); on Windows they
// are resources of the DLL and this does nothing.  Safe to call again.
void RegisterModuleResources();

}  // namespace bacnet_module
