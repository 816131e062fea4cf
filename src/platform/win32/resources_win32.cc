// Raw-data resources on Windows: registered tables first, then the RCDATA
// resources of the DLL that holds this code.
#include <windows.h>

#include <string>

#include "platform/common/resource_tables.h"
#include "platform/port.h"

namespace port {

namespace {

HMODULE ThisModule() {
  HMODULE h = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &h);
  return h;
}

}  // namespace

bool FindRawResource(std::string_view name, std::string_view* data) {
  if (name.empty()) return false;
  if (detail::FindRegisteredResource(name, data)) return true;
  // "#123" would name a numbered resource: ours all have names.
  if (name.front() == '#' || name.find('\0') != std::string_view::npos) return false;
  const std::string z(name);
  HMODULE module = ThisModule();
  HRSRC info = FindResourceA(module, z.c_str(), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (!info) return false;
  HGLOBAL loaded = LoadResource(module, info);
  if (!loaded) return false;
  const void* bytes = LockResource(loaded);
  const DWORD size = SizeofResource(module, info);
  if (!bytes && size != 0) return false;
  if (data) *data = std::string_view(static_cast<const char*>(bytes), size);
  return true;
}

}  // namespace port
