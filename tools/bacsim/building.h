// The simulated building: devices, how each is reached, their objects and
// the values those objects show over time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec.h"
#include "frame.h"

namespace bacsim {

constexpr uint16_t kDefaultPort = 47808;
constexpr uint32_t kMaxInstance = 4194302;  // 4194303 addresses "this device"
// Largest APDU the devices send (and accept): 1476 octets, as on B/IP.
constexpr size_t kMaxApdu = 1476;
// Bounds of one building, so that no file or option takes unbounded memory.
constexpr size_t kMaxDevices = 100000;
constexpr size_t kMaxObjectsPerDevice = 10000;
constexpr size_t kMaxObjects = 500000;

struct SimObject {
  uint16_t type = 0;
  uint32_t instance = 0;
  std::string name;
  std::string description;
  // Analog: base + amplitude * sin(2 pi t / period); binary: starts at base
  // (0 inactive, else active) and toggles every period seconds; multi-state:
  // starts at base (1..states) and steps on every period seconds, after
  // states back to 1. fixed: the value is always the one at t = 0.
  double base = 0;
  double amplitude = 0;
  double period = 0;
  uint32_t states = 0;
  uint32_t units = 0;  // analog engineering units
  double covIncrement = 1.0;  // analog: the change that sends a COV notification
  bool fixed = false;
};

// Answering faults a device can show.
struct Knobs {
  uint32_t delayMs = 0;     // every answer leaves this much later
  uint32_t dropEvery = 0;   // every Nth confirmed request gets no answer (0: never)
  uint32_t errorEvery = 0;  // every Nth confirmed request is answered with an Error (0: never)
  uint8_t errorClass = 0;   // the Error that errorEvery sends: device,
  uint8_t errorCode = 3;    // device-busy
  // At most this many requests in service at once (received, answer not
  // yet sent: with delayMs, a device behind a slow link); beyond that the
  // request is answered with Abort out-of-resources, or dropped with
  // busyDrop.  0: no limit.
  uint32_t maxConcurrent = 0;
  bool busyDrop = false;
  // How strict the device is, as real stacks differ.
  bool optionalProperties = true;  // false: the Device object has no description (Error unknown-property)
  bool iamBroadcast = false;       // I-Am by broadcast instead of to the Who-Is sender
  bool anyInstance = false;        // the Device object answers for any device instance (a gateway)
  // The maximum APDU length accepted that the device announces (I-Am, its
  // Device object): it answers longer APDUs with Abort segmentation-not-
  // supported and takes no longer request (Abort buffer-overflow).
  uint32_t maxApdu = kMaxApdu;
  bool readMultiple = true;       // false: ReadPropertyMultiple is rejected (unrecognized service)
  uint32_t abortLongerThan = 0;   // answers longer than this are aborted (segmentation-not-supported); 0: none
  // Change-of-value reporting.
  bool covRefuse = false;       // SubscribeCOV answered with Error services, cov-subscription-failed
  bool covConfirmed = false;    // notifications go out confirmed, whatever the subscriber asked for
  uint32_t covResendMs = 1000;  // a confirmed notification without Simple-ACK goes again after this
  uint32_t covRetries = 3;      // ... this many times at most
  uint32_t covDropEvery = 0;    // every Nth notification of a device is not sent (0: none)
};

enum class Attachment {
  kLocal,    // on the B/IP subnet, its own address
  kRouted,   // behind a router on another network, a station address there
  kRelayed,  // on another B/IP subnet: frames reach us as Forwarded-NPDU through a BBMD
};

struct SimDevice {
  uint32_t instance = 0;
  std::string name, model, vendor, appVersion, firmware, description;
  uint16_t vendorId = 0;
  Attachment attachment = Attachment::kLocal;
  Endpoint address;  // local and relayed devices: where it receives
  Endpoint via;      // routed: the router; relayed: the BBMD
  uint16_t network = 0;  // routed: its network
  Bytes mac;             // routed: its station address (1..6 octets)
  Knobs knobs;
  std::vector<SimObject> objects;
};

struct Building {
  Endpoint broadcast{0x7F0000FF, kDefaultPort};  // 127.0.0.255:47808
  bool hasBroadcast = true;
  std::vector<SimDevice> devices;
};

// Present value of an object at t seconds after start; the property is not
// one of notification-class objects, which have none.
Value PresentValue(const SimObject& o, double seconds);

// Default objects of a device: instances 0 and 1 of each of the ten types.
std::vector<SimObject> DefaultObjects(uint32_t deviceInstance);
// Fills in the curve of an object from its type where the file left it open.
void ApplyTypeDefaults(SimObject& o, uint32_t deviceInstance);

// The building used without a file: two devices at 127.0.0.2 and 127.0.0.3.
Building DefaultBuilding();

struct GenerateSpec {
  uint32_t local = 0;                // devices on their own addresses
  Endpoint firstAddress{0x7F000002, kDefaultPort};
  uint32_t firstInstance = 100000;
  uint32_t routed = 0;               // devices behind one router
  Endpoint router{0x7F0000FE, kDefaultPort};
  uint16_t network = 5;
  uint32_t objectsPerType = 1;       // generated devices carry fewer objects
};

// Appends generated devices. Local ones take consecutive addresses from
// firstAddress, skipping host octets 0 and 255 and addresses in use (the
// router's among them); routed ones take station
// addresses of 1, 2 and 6 octets in turn. When the generated devices leave
// 127.0.0.x and the broadcast address is the default 127.0.0.255, it becomes
// the /16 of the first address (127.0.255.255); callers that were given a
// broadcast address set it again afterwards.
bool Generate(Building& b, const GenerateSpec& spec, std::string& error);

// Checks a building before it is served: unique instances and addresses,
// instances in range, station addresses of 1 to 6 octets, one router per
// network, addresses on the loopback network unless allowed otherwise.
bool Validate(const Building& b, bool allowNonLoopback, std::string& error);

// The device's address as printed: "127.0.0.2", "127.0.0.254/5:0012" for a
// routed device (router, network, station address in hex).
std::string DeviceLabel(const SimDevice& d);

}  // namespace bacsim
