// The devices' behaviour: what each datagram that reaches one of bacsim's
// sockets is answered with. No sockets here: the server feeds datagrams in
// and sends what comes out, so every answer can be checked in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "building.h"
#include "frame.h"

namespace bacsim {

enum class Role {
  kBroadcast,  // the simulated subnet's broadcast address
  kDevice,     // a local or relayed device's own address
  kRouter,     // a router to the networks of routed devices
  kBbmd,       // a broadcast manager relaying for devices on another subnet
};

struct SocketSpec {
  Endpoint endpoint;
  Role role = Role::kDevice;
  size_t index = 0;  // device, router or BBMD number
};

struct Incoming {
  size_t socket = 0;
  Endpoint from;
  const uint8_t* data = nullptr;
  size_t size = 0;
  // When it arrived, in seconds on a steady clock (the present values may
  // stand still; this one does not): the requests a device has in service.
  double arrived = 0;
};

struct Outgoing {
  size_t socket = 0;  // which socket sends it
  Endpoint to;
  Bytes data;
  uint32_t delayMs = 0;
};

struct ResponderOptions {
  bool iamBroadcast = false;  // I-Am to the broadcast address instead of the Who-Is sender
  uint32_t iamSpreadMs = 0;   // I-Ams answering one Who-Is spread over this time
  bool verbose = false;       // also log what is ignored
  // Answer an Original-Unicast-NPDU that arrives at the broadcast address;
  // real stacks drop it (a broadcast must come as a broadcast).
  bool lenientBroadcast = false;
  // The broadcast managers refuse every foreign-device registration (NAK).
  bool bbmdNak = false;
};

class Responder {
 public:
  explicit Responder(Building b, ResponderOptions options = {});

  const std::vector<SocketSpec>& Sockets() const { return sockets_; }
  const Building& GetBuilding() const { return building_; }
  // The endpoint a socket was actually bound to (port 0 binds any port).
  void SetBound(size_t socket, const Endpoint& actual);

  // Answers one datagram; seconds is the time the present values are taken
  // at. Appends the frames to send and one log line per request answered.
  void Handle(const Incoming& in, double seconds, std::vector<Outgoing>& out, std::vector<std::string>& log);
  // Change-of-value work due at seconds (cov.cc): expires subscriptions,
  // notifies the subscribers of objects whose value changed, resends
  // confirmed notifications that got no Simple-ACK.
  void Tick(double seconds, std::vector<Outgoing>& out, std::vector<std::string>& log);
  // Whether Tick has anything to do (a subscription or a notification
  // waiting for its Simple-ACK).
  bool HasCovWork() const { return !subscriptions_.empty() || !unacked_.empty(); }
  size_t Subscriptions() const { return subscriptions_.size(); }

 private:
  struct Router {
    Endpoint endpoint;
    size_t socket = 0;
    std::vector<uint16_t> networks;
  };
  struct Bbmd {
    Endpoint endpoint;
    size_t socket = 0;
    std::vector<size_t> devices;
    // The foreign-device table: each registered foreign device with its time
    // to live and when its entry expires (the time to live plus 30 s).
    struct Entry {
      uint16_t ttl = 0;
      double expires = 0;
    };
    std::map<Endpoint, Entry> foreign;
    bool Registered(const Endpoint& e, double now) const {
      auto it = foreign.find(e);
      return it != foreign.end() && it->second.expires > now;
    }
  };
  // One datagram with an NPDU on its way to the devices it reaches.
  struct Request {
    const Incoming* in = nullptr;
    const SocketSpec* socket = nullptr;
    Npdu npdu;
    Endpoint sender;             // where answers go
    bool bvllBroadcast = false;  // sent as a broadcast on the B/IP link
    bool broadcast = false;      // reached its devices as a broadcast
    bool fromForeignDevice = false;  // distributed for a foreign device registered with the BBMD
    const uint8_t* apdu = nullptr;
    size_t apduSize = 0;
  };
  // The devices a request reaches, and whether it reached them as a broadcast.
  struct Reach {
    bool broadcast = false;
    std::vector<size_t> devices;
  };

  // ---- routing (routing.cc): links, networks, who hears what ----
  void HandleBvllManagement(const Incoming& in, const SocketSpec& s, const Bvll& bvll, std::vector<Outgoing>& out,
                            std::vector<std::string>& log);
  // A broadcast that reached the devices: relayed by every BBMD, as a
  // Forwarded-NPDU, to each foreign device registered with it.
  void ForwardToForeignDevices(Outgoing broadcast, size_t device, std::vector<Outgoing>& out);
  void HandleNetworkMessage(const Request& rq, std::vector<Outgoing>& out, std::vector<std::string>& log);
  // Nothing when the request is for none of the devices (a reject to the
  // sender may have gone out).
  std::optional<Reach> Targets(const Request& rq, std::vector<Outgoing>& out, std::vector<std::string>& log);
  // A request for a remote network, taken by that network's router (via: the
  // router it was sent to; null when it came to the broadcast address).
  std::optional<Reach> ThroughRouter(const Request& rq, const Router* via, std::vector<Outgoing>& out,
                                     std::vector<std::string>& log);
  // Wraps an APDU from a device into the frame that reaches the requester.
  Outgoing Reply(size_t device, const Request& rq, const Bytes& apdu, bool broadcast = false) const;

  // ---- services (services.cc): what the devices answer ----
  void WhoIs(const std::vector<size_t>& devices, const Request& rq, std::vector<Outgoing>& out,
             std::vector<std::string>& log);
  void Confirmed(size_t device, const Request& rq, double seconds, std::vector<Outgoing>& out,
                 std::vector<std::string>& log);

  class ConfirmedAnswer;  // the steps of answering one confirmed request

  // ---- change of value (cov.cc) ----
  struct Subscription {
    size_t device = 0;
    size_t object = 0;  // index into the device's objects
    uint64_t processId = 0;
    Endpoint sender;  // the subscriber, and the route back to it
    Npdu npdu;
    bool confirmed = false;
    double expires = -1;  // seconds; below 0: never
    Value last;           // the value last notified
    bool initial = true;  // the first notification is still to go
  };
  struct Unacked {
    size_t device = 0;
    Endpoint to;
    uint8_t invoke = 0;
    Outgoing frame;
    double due = 0;
    uint32_t triesLeft = 0;
  };
  // SubscribeCOV to a device: the APDU that answers it and the log outcome.
  Bytes SubscribeCov(size_t device, const Request& rq, double seconds, std::string& outcome);
  void Notify(Subscription& sub, double seconds, std::vector<Outgoing>& out, std::vector<std::string>& log);
  // A Simple-ACK from a subscriber for a confirmed notification.
  void CovAck(const Request& rq, const std::vector<size_t>& devices, std::vector<std::string>& log);

  void Ignored(const Incoming& in, const char* why, std::vector<std::string>& log) const;

  Building building_;
  ResponderOptions options_;
  std::vector<SocketSpec> sockets_;
  std::vector<size_t> deviceSocket_;  // local and relayed devices
  std::vector<size_t> deviceBbmd_;    // relayed devices
  std::vector<Router> routers_;
  std::vector<size_t> deviceRouter_;  // routed devices
  std::map<uint16_t, size_t> networkRouter_;
  std::map<std::pair<uint16_t, Bytes>, size_t> stations_;
  std::vector<Bbmd> bbmds_;
  std::vector<uint64_t> requests_;    // confirmed requests seen per device
  // Per device with a concurrency limit: when the answers of the requests
  // in service leave.
  std::map<size_t, std::vector<double>> inService_;
  double now_ = 0;                    // the time of the datagram being handled (s)
  std::vector<Subscription> subscriptions_;
  std::vector<Unacked> unacked_;
  std::vector<uint64_t> notifications_;  // notifications made per device (for covDropEvery)
  std::vector<uint8_t> covInvoke_;       // next invoke identifier of a device's confirmed notifications
};

}  // namespace bacsim
