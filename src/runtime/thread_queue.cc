#include "runtime/thread_queue.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace kel {

TDataItem::TDataItem(const void* source, bool freeSource, int32_t size) {
  if (size > 0 && source) {
    data_ = size <= kInlineSize ? inline_ : static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (data_) {
      std::memcpy(data_, source, static_cast<size_t>(size));
      size_ = size;
    }
  }
  if (freeSource && source) std::free(const_cast<void*>(source));
}

TDataItem::~TDataItem() {
  if (data_ != inline_) std::free(data_);
}

}  // namespace kel
