// Discovery: devices named by pattern (a broadcast endpoint, or any device at
// an endpoint) are found with Who-Is; every new device that answers with
// I-Am and matches gets its own polled copies of the pattern's items.
#include <unordered_map>
#include <vector>

#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"

namespace bacnet_module {

bool IsPatternConnection(const bacnet::TDeviceConnInfo& c) {
  return c.EndPoint.IsBroadcast || c.Instance == bacnet::AnyInstance;
}

int32_t TSerialPortDM::StartDiscovery(const TRequestItem& item) {
  if (!IsPatternConnection(item.Connection)) return kDiscoveryNotNeeded;
  // A broadcast goes through the broadcast manager once it has answered
  // (or locally once it has failed), not locally before it could.
  if (item.Connection.EndPoint.IsBroadcast && Foreign.AwaitingFirstResult()) return kDiscoveryRecent;
  TDiscoverRequest* found = nullptr;
  {
    const kel::TReadLocked<TDiscoveryList> running(DiscoveryList);
    for (TDiscoverRequest* d : running.Items())
      if (bacnet::SameEndPoint(d->Connection.EndPoint, item.Connection.EndPoint)) {
        found = d;
        break;
      }
    if (found && !found->Stopwatch.Expired(kDiscoveryRepeatMs)) return kDiscoveryRecent;
  }
  // A Who-Is unanswered for the whole repeat time is named once.
  if (found && !found->Answered && !found->Reported) {
    found->Reported = true;
    LogNoIAm(found->Connection.EndPoint);
  }
  const uint32_t wanted = WantedInstance(item.Connection.EndPoint);
  bacnet::TDeviceConnInfo conn;
  {
    const kel::TWriteLocked<TDiscoveryList> running(DiscoveryList);
    if (!found) {
      found = new TDiscoverRequest{item.Connection, {}, false, false};
      running.Items().push_back(found);
    }
    found->Stopwatch.Restart();
    conn = found->Connection;
  }
  // Registered as a foreign device, a broadcast goes to the manager, which
  // broadcasts it where the devices are.
  if (conn.EndPoint.IsBroadcast && Foreign.Registered())
    Stack.SendDistributedWhoIs(Foreign.Manager(), conn.EndPoint.Port, wanted);
  else
    Stack.SendWhoIs(conn, wanted);
  return kDiscoverySent;
}

uint32_t TSerialPortDM::WantedInstance(const bacnet::TIpEndPoint& endPoint) {
  if (!endPoint.IsBroadcast) return bacnet::AnyInstance;
  // The caller (the tick) holds the list's write side; this reads under it.
  const TRequestListRead items(RequestList);
  uint32_t wanted = bacnet::AnyInstance;
  bool first = true;
  for (const TRequestItem* item : items.Items()) {
    if (!item->Enabled || !item->Connection.EndPoint.IsBroadcast ||
        !bacnet::SameEndPoint(item->Connection.EndPoint, endPoint))
      continue;
    if (first) wanted = item->Connection.Instance;
    first = false;
    if (item->Connection.Instance != wanted) {
      wanted = bacnet::AnyInstance;
      break;
    }
  }
  return wanted;
}

void TSerialPortDM::NoteIAm(const bacnet::TDeviceConnInfo& conn) {
  Status.NoteIAm(conn.EndPoint.Address, conn.Instance);
  const kel::TReadLocked<TDiscoveryList> running(DiscoveryList);
  for (TDiscoverRequest* d : running.Items()) {
    if (d->Answered) continue;
    bacnet::TDeviceConnInfo pattern = d->Connection;
    pattern.Instance = bacnet::AnyInstance;  // any device answers the endpoint's Who-Is
    if (bacnet::MatchEndPoint(pattern, conn)) d->Answered = true;  // a flag only it sets, never clears
  }
}

void TSerialPortDM::DeviceFound(bacnet::TBACnetStack&, const bacnet::TDeviceConnInfo& conn) {
  TRequestListWrite w(RequestList);
  const TRequestList::List& items = w.Items();
  const size_t count = items.size();  // copies appended below are not visited
  // Each matching pattern group gets one new group for this device, so that
  // its values leave as one record that names this device only.
  std::unordered_map<uint32_t, uint32_t> groupOf;
  uint32_t nextGroup = RequestList.MaxGroupId();
  std::vector<TRequestItem*> copies;
  // Only the pattern items are visited: a new device costs the same however
  // many devices were found before it.
  for (const int32_t i : RequestList.PatternItems()) {
    const TRequestItem& pattern = *items[static_cast<size_t>(i)];
    if (!bacnet::MatchEndPoint(pattern.Connection, conn)) continue;
    if (count + copies.size() >= kMaxRequestItems) break;
    auto [it, isNew] = groupOf.try_emplace(pattern.GroupId, 0);
    if (isNew) it->second = ++nextGroup;
    auto* copy = new TRequestItem;
    copy->Assign(pattern);
    copy->Connection = conn;
    copy->GroupId = it->second;
    copy->Pending = false;
    copy->Retries = 0;
    copy->Stopwatch.Clear();
    copies.push_back(copy);
  }
  for (TRequestItem* copy : copies) RequestList.Append(copy, false);
  if (!copies.empty()) nextDue_ = 0;  // the copies are due at once
}

}  // namespace bacnet_module
