// Raw-data resources on POSIX: only the tables the build embeds.
#include "platform/common/resource_tables.h"
#include "platform/port.h"

namespace port {

bool FindRawResource(std::string_view name, std::string_view* data) {
  if (name.empty()) return false;
  return detail::FindRegisteredResource(name, data);
}

}  // namespace port
