// One poll request: the present value of one object of one device, with its
// schedule, its state while a frame is out, and the last value received.
#pragma once

#include <cstdint>
#include <string>

#include "bacnet/bacnet_endpoint.h"
#include "runtime/timing/kel_timeout.h"
#include "runtime/variant.h"

namespace bacnet_module {

class TRequestItem {
 public:
  TRequestItem() : Value(kel::Variant::Null()) {}
  TRequestItem(const TRequestItem&) = delete;
  TRequestItem& operator=(const TRequestItem&) = delete;

  // Copies every field but Value and InvokeId.
  void Assign(const TRequestItem& source);

  bool Enabled = false;
  bool Pending = false;
  std::string Description;
  bool Poll = false;
  int32_t PollInterval = 0;  // milliseconds
  int32_t Timeout = 0;       // milliseconds
  int32_t Retries = 0;
  bool DevicePropertyPending = false;
  uint32_t GroupId = 0;
  int32_t IndexInGroup = 0;
  uint32_t GroupSize = 0;
  uint32_t ObjectInstance = 0;
  std::string Name;
  uint16_t ObjectType = 0;
  kel::Variant Value;
  uint8_t InvokeId = 0;
  bacnet::TDeviceConnInfo Connection;
  kel::TkelTimeout Stopwatch;
};

}  // namespace bacnet_module
