// Arbitrary received frames against a stack with a seeded device table and a
// request in flight to a routed device, as one request out and through the
// matcher of many.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "bacnet/bacnet_stack.h"

namespace {

bacnet::TBACnetStack& Stack() {
  static bacnet::TBACnetStack* stack = [] {
    auto* s = new bacnet::TBACnetStack();
    bacnet::TDeviceConnInfo local{bacnet::TIpEndPoint{"192.168.1.20", 47808, false}};
    s->RegisterDevice(local, 1234, nullptr, nullptr);
    s->OnDeviceFound = [](bacnet::TBACnetStack&, const bacnet::TDeviceConnInfo&) {};
    return s;
  }();
  return *stack;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bacnet::TBACnetStack& stack = Stack();
  // Keep the table bounded across runs: I-Am frames keep adding devices.
  if (stack.Data.Devices.Count() > 4096) stack.Data.Devices.Clear();
  static bacnet::TDeviceConnInfo expected = [] {
    bacnet::TDeviceConnInfo c{bacnet::TIpEndPoint{"192.168.1.20", 47808, false}};
    c.Network = 7;
    const uint8_t station[] = {0x12, 0x34};
    c.SetStationAddress(station, 2);
    return c;
  }();
  const uint8_t invokeId = size > 7 ? data[7] : 0;
  stack.Inbound.Push(std::make_unique<bacnet::TBacDataItem>(data, static_cast<int32_t>(size), "192.168.1.20", 47808));
  bacnet::TProperty result;
  std::string raw;
  (void)stack.ProcessReceived(invokeId, expected, result, &raw);
  // The same frame once more through the matcher of many requests out.
  stack.Inbound.Push(std::make_unique<bacnet::TBacDataItem>(data, static_cast<int32_t>(size), "192.168.1.20", 47808));
  bacnet::TProperty matched;
  const bacnet::TReplyMatcher match = [&](uint8_t id, const bacnet::TReplySource& source) {
    return id == invokeId && source.From(expected);
  };
  (void)stack.ProcessReceived(match, matched, nullptr);
  expected.AddressLength = expected.AddressLength ? 0 : 2;  // alternate local and routed expectations
  (void)result.ErrorText();
  return 0;
}
