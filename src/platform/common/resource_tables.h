// The registered tables of embedded resources, shared by both platforms'
// resource look-up.
#pragma once

#include <string_view>

namespace port::detail {

// Searches the registered tables, the latest first.
bool FindRegisteredResource(std::string_view name, std::string_view* data);

}  // namespace port::detail
