#include "module/request_item.h"

namespace bacnet_module {

void TRequestItem::Assign(const TRequestItem& s) {
  Enabled = s.Enabled;
  Pending = s.Pending;
  Description = s.Description;
  Poll = s.Poll;
  PollInterval = s.PollInterval;
  Timeout = s.Timeout;
  Retries = s.Retries;
  DevicePropertyPending = s.DevicePropertyPending;
  GroupId = s.GroupId;
  IndexInGroup = s.IndexInGroup;
  GroupSize = s.GroupSize;
  ObjectInstance = s.ObjectInstance;
  Name = s.Name;
  Key = s.Key;
  ObjectType = s.ObjectType;
  Connection = s.Connection;
  Stopwatch = s.Stopwatch;
  LogOnChange = s.LogOnChange;
  CovLifetime = s.CovLifetime;
  SafetyNetMs = s.SafetyNetMs;
}

}  // namespace bacnet_module
