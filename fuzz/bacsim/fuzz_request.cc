// Any datagram at any of the simulator's sockets: no crash, bounded work,
// and every answer a frame that reads back as BACnet/IP.
// Input: octet 0 picks the socket, octet 1 the time, the rest is the datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "building.h"
#include "codec.h"
#include "frame.h"
#include "names.h"
#include "responder.h"

using namespace bacsim;

namespace {

Responder& Sim() {
  static Responder* r = [] {
    Building b;
    b.devices.clear();
    auto add = [&](uint32_t instance) -> SimDevice& {
      SimDevice d;
      d.instance = instance;
      d.name = "Device";
      d.objects = DefaultObjects(instance);
      b.devices.push_back(d);
      return b.devices.back();
    };
    add(1001).address = {0x7F000002, 47808};
    SimDevice& slow = add(1002);
    slow.address = {0x7F000003, 47808};
    slow.knobs = {10, 3, 2, 0, 3};
    const Bytes macs[] = {{0x0C}, {0x00, 0x2A}, {0x7F, 0, 0, 9, 0xBA, 0xC0}};
    for (uint32_t i = 0; i < 3; ++i) {
      SimDevice& d = add(2001 + i);
      d.attachment = Attachment::kRouted;
      d.via = {0x7F00000A, 47808};
      d.network = 5;
      d.mac = macs[i];
    }
    SimDevice& relayed = add(3001);
    relayed.attachment = Attachment::kRelayed;
    relayed.address = {0x7F000105, 47808};
    relayed.via = {0x7F000014, 47808};
    ResponderOptions o;
    o.verbose = true;
    o.iamSpreadMs = 100;
    return new Responder(std::move(b), o);
  }();
  return *r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Responder& r = Sim();
  Incoming in{data[0] % r.Sockets().size(), {0x7F000001, 40000}, data + 2, size - 2};
  std::vector<Outgoing> out;
  std::vector<std::string> log;
  r.Handle(in, data[1] * 7.5, out, log);
  if (out.size() > r.GetBuilding().devices.size() + 1) std::abort();
  for (const Outgoing& o : out) {
    Bvll b;
    if (o.data.size() > 1497 || !ParseBvll(o.data.data(), o.data.size(), b)) std::abort();
    if (b.function == bvlc::kResult || b.function == bvlc::kReadBdtAck || b.function == bvlc::kReadFdtAck) continue;
    Npdu n;
    if (!ParseNpdu(o.data.data(), o.data.size(), b.payload, n)) std::abort();
  }
  // The tag reader on its own, over the whole input.
  Reader reader(data, size);
  Value v;
  Tag t;
  while (!reader.AtEnd()) {
    if (reader.ReadValue(v)) continue;
    if (!reader.ReadTag(t)) break;
    reader.Skip(t.ContentLength());
  }
  return 0;
}
