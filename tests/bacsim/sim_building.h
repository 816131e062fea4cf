// A small building with one device of each attachment for the simulator's
// tests, and a way to put one datagram to it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "building.h"
#include "common/hex.h"
#include "names.h"
#include "responder.h"

namespace bacsim_test {

using testutil::Hex;
using testutil::HexText;

inline bacsim::Endpoint Ep(const char* text) { return *bacsim::ParseEndpoint(text, 47808); }

inline bacsim::SimObject Obj(uint16_t type, uint32_t instance, double base, uint32_t states = 0) {
  bacsim::SimObject o;
  o.type = type;
  o.instance = instance;
  o.base = base;
  o.amplitude = 2;
  o.states = states;
  bacsim::ApplyTypeDefaults(o, 0);
  return o;
}

// 1001 and 1002 local at 127.0.0.2/.3; 2001..2003 behind 127.0.0.10 on
// network 5 with station addresses 0C, 00 2A, 7F 00 00 09 BA C0; 3001 at
// 127.0.1.5 relayed by the BBMD 127.0.0.20.
inline bacsim::Building TestBuilding() {
  using namespace bacsim;
  Building b;
  auto device = [&](uint32_t instance) -> SimDevice& {
    SimDevice d;
    d.instance = instance;
    d.name = "Dev-" + std::to_string(instance);
    d.model = "Model";
    d.vendor = "Vendor";
    d.vendorId = 999;
    d.appVersion = "2.4";
    d.firmware = "7.0";
    d.description = "Desc";
    d.objects = {Obj(obj::kAnalogInput, 1, 21.5), Obj(obj::kBinaryInput, 1, 1), Obj(obj::kMultiStateValue, 1, 2, 3),
                 Obj(obj::kNotificationClass, 1, 0)};
    b.devices.push_back(d);
    return b.devices.back();
  };
  device(1001).address = Ep("127.0.0.2");
  device(1002).address = Ep("127.0.0.3");
  const Bytes macs[] = {{0x0C}, {0x00, 0x2A}, {0x7F, 0x00, 0x00, 0x09, 0xBA, 0xC0}};
  for (uint32_t i = 0; i < 3; ++i) {
    SimDevice& d = device(2001 + i);
    d.attachment = Attachment::kRouted;
    d.via = Ep("127.0.0.10");
    d.network = 5;
    d.mac = macs[i];
  }
  SimDevice& relayed = device(3001);
  relayed.attachment = Attachment::kRelayed;
  relayed.address = Ep("127.0.1.5");
  relayed.via = Ep("127.0.0.20");
  return b;
}

struct Answer {
  std::string from;  // the socket that sends it
  std::string to;
  std::string hex;
  uint32_t delayMs;
};

// Feeds one datagram from the client at 127.0.0.1:40000 to the socket at
// the given address and returns what goes out.
inline std::vector<Answer> Ask(bacsim::Responder& r, const char* socket, const std::string& hex, double seconds = 0,
                               std::vector<std::string>* log = nullptr, const char* client = "127.0.0.1:40000") {
  const auto& sockets = r.Sockets();
  size_t index = sockets.size();
  for (size_t i = 0; i < sockets.size(); ++i) {
    if (sockets[i].endpoint == Ep(socket)) index = i;
  }
  EXPECT_LT(index, sockets.size()) << socket;
  std::vector<uint8_t> frame = Hex(hex);
  bacsim::Incoming in{index, Ep(client), frame.data(), frame.size(), seconds};
  std::vector<bacsim::Outgoing> out;
  std::vector<std::string> lines;
  r.Handle(in, seconds, out, log ? *log : lines);
  std::vector<Answer> answers;
  for (const auto& o : out) {
    answers.push_back({sockets[o.socket].endpoint.ToString(), o.to.ToString(), HexText(o.data), o.delayMs});
  }
  return answers;
}

}  // namespace bacsim_test
