// Arbitrary received frames against a stack with a seeded device table and a
// request in flight to a routed device, as one request out and through the
// matcher of many; ReadPropertyMultiple-ACKs are read by the owner's handler,
// and by the ACK reader wherever the input puts them.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "bacnet/bacnet_enums.h"
#include "bacnet/bacnet_stack.h"

namespace {

// Results are reported only for a sound ACK, never more than asked, and
// each reads as a holder would.
void ReadAck(bacnet::TBacBytes frame, int32_t pos) {
  const size_t asked = frame.size() % (bacnet::kMaxRpmItems + 1);
  size_t reported = 0;
  auto take = [&](const bacnet::TRpmResult& r) {
    ++reported;
    bacnet::TProperty p;
    r.ToProperty(p);
    (void)p.ErrorText();
  };
  size_t count = 0;
  const bacnet::TRpmStatus status = bacnet::DecodeReadPropertyMultipleAck(frame, pos, asked, take, &count);
  if (status == bacnet::TRpmStatus::Ok ? (count != reported || count > asked) : reported != 0) __builtin_trap();
}

bacnet::TBACnetStack& Stack() {
  static bacnet::TBACnetStack* stack = [] {
    auto* s = new bacnet::TBACnetStack();
    // A COV notification is answered as the owner would: a confirmed one
    // with a Simple-ACK back to its sender, whatever routing it came with.
    s->OnSend = [](bacnet::TBACnetStack&, bacnet::TBacBytes, const bacnet::TDeviceConnInfo&, int32_t) { return 0; };
    s->OnCovNotification = [](bacnet::TBACnetStack& sender, const bacnet::TCovNotification& n) {
      if (n.HasPresentValue) (void)n.PresentValue.RawString();
      if (n.Confirmed) (void)sender.SendSimpleAck(n.From, n.InvokeId, bacnet::kServiceConfirmedCovNotification);
    };
    bacnet::TDeviceConnInfo local{bacnet::TIpEndPoint{"192.168.1.20", 47808, false}};
    s->RegisterDevice(local, 1234, nullptr, nullptr);
    s->OnDeviceFound = [](bacnet::TBACnetStack&, const bacnet::TDeviceConnInfo&) {};
    s->OnReadPropertyMultipleAck = [](bacnet::TBACnetStack&, const bacnet::TRpmAck& ack) { ReadAck(ack.Frame, ack.ApduPos); };
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
  // As the APDU of a local frame, and as a bare APDU.
  ReadAck(bacnet::TBacBytes(data, size), 6);
  ReadAck(bacnet::TBacBytes(data, size), 0);
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
