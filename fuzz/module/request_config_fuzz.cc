// Any bytes as the stored request configuration: the requests read from it
// must keep the list's rules, within the item limit, however odd the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "module/request_config.h"
#include "runtime/errors.h"

namespace {

// A small limit keeps one input's work bounded; the reader stops the same
// way at the real one.
constexpr size_t kLimit = 20000;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t group = 0;
  uint32_t groupSize = 0;
  int32_t index = 0;
  size_t count = 0;
  auto add = [&](std::unique_ptr<bacnet_module::TRequestItem> item) {
    ++count;
    Check(item->ObjectType <= 19);
    Check(item->ObjectInstance <= 0x3FFFFF);
    Check(item->PollInterval >= 0 && item->Timeout >= 0);
    Check(item->Connection.Instance != 0);
    Check(item->Value.IsNull());
    if (item->GroupId != group) {
      // A new group starts at its first item, numbered one above the last.
      Check(item->GroupId == group + 1);
      Check(index == static_cast<int32_t>(groupSize));
      group = item->GroupId;
      groupSize = item->GroupSize;
      index = 0;
    }
    Check(item->GroupSize == groupSize && item->IndexInGroup == ++index);
  };
  try {
    bacnet_module::ReadRequestConfig(std::string_view(reinterpret_cast<const char*>(data), size), add, kLimit);
  } catch (const kel::EkelError&) {
    Check(count == kLimit);
  }
  Check(count <= kLimit);
  return 0;
}
