#include "module/request_list.h"

#include "module/discovery.h"

namespace bacnet_module {

void TRequestList::Append(TRequestItem* item, bool configured) {
  TRequestListWrite w(*this);
  const auto index = static_cast<int32_t>(w.Items().size());
  w.Items().push_back(item);
  if (configured) {
    filter_.Add(item->Connection);
    if (IsPatternConnection(item->Connection)) patterns_.push_back(index);
  }
  const uint32_t id = item->GroupId;
  if (id >= groupStart_.size()) groupStart_.resize(static_cast<size_t>(id) + 1, -1);
  if (groupStart_[id] < 0) groupStart_[id] = index;
  if (id > maxGroupId_) maxGroupId_ = id;
}

void TRequestList::Reset() {
  TRequestListWrite w(*this);
  Clear();
  groupStart_.clear();
  groupStart_.shrink_to_fit();
  maxGroupId_ = 0;
  patterns_.clear();
  patterns_.shrink_to_fit();
  filter_.Clear();
}

int32_t TRequestList::GroupStart(uint32_t groupId) const {
  return groupId < groupStart_.size() ? groupStart_[groupId] : -1;
}

}  // namespace bacnet_module
