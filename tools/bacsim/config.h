// Building files: a JSON description of the devices bacsim serves.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "building.h"

namespace bacsim {

// What the command line gives a building file: knob values replace the
// file's "defaults" but not what a device sets for itself; the port is the
// one of addresses without a port unless the file has its own "port".
struct ParseDefaults {
  std::optional<uint32_t> delayMs, dropEvery, errorEvery, maxConcurrent;
  std::optional<bool> busyDrop;
  std::optional<uint32_t> maxApdu, abortLongerThan;
  std::optional<bool> readMultiple;
  std::optional<uint32_t> covDropEvery;
  std::optional<bool> covConfirmed, covRefuse;
  uint16_t port = kDefaultPort;
  bool portGiven = false;  // the command line's port wins over the file's
};

// The command line's maximum APDU, ReadPropertyMultiple and abort-length
// knobs, where it gives them.
void ApplyServiceKnobs(const ParseDefaults& d, Knobs& k);

// Reads a building file into b (replacing its devices). A "generate" entry
// appends generated devices. Unknown members are errors, so that a typing
// mistake does not pass unnoticed.
bool ParseBuilding(std::string_view text, const ParseDefaults& overrides, Building& b, std::string& error);

// The command line's change-of-value knobs, where it gives them.
void ApplyCovKnobs(const ParseDefaults& d, Knobs& k);

// Station address text: hex octets, separated by ':' or not ("12", "00:12",
// "0a05000abac0"); 1 to 6 octets.
std::optional<Bytes> ParseStationAddress(std::string_view text);

}  // namespace bacsim
