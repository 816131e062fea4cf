// The command line of bachost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "record_writer.h"
#include "request_config.h"

namespace host {

// One data source of the host: a UDP socket bound to an address.
struct SourceSpec {
  int32_t id = 1;
  std::string name;  // "UDP1" unless given
  std::string bindAddress = "0.0.0.0";
  uint16_t bindPort = 47808;
};

enum class RunMode { Log, Help, Demo, Options, ShowOptions };

struct HostOptions {
  RunMode mode = RunMode::Log;
  std::string plugin;    // empty: bacnetip.so beside the program
  std::string ini;       // empty: a file of this run in the temporary folder
  std::string language = "EN";
  std::vector<SourceSpec> sources;
  std::string configFile;       // --config
  std::vector<PollSpec> polls;  // from --poll, or the built-in default
  bool deviceProperties = true;
  bool freshOnly = false;  // --fresh-only: "Deliver only fresh values"
  // --pace fast|designed, --in-flight N, --per-device N: the fast pace and
  // its window; unset, the stored options stay as they are.
  std::optional<bool> fastPace;
  std::optional<uint32_t> inFlight;
  std::optional<uint32_t> inFlightPerDevice;
  bool diagnosis = true;   // --no-diagnosis turns the line after each time-out off
  // --bbmd/--ttl: registration as a foreign device (ttl 0: off).
  std::string bbmdAddress;
  uint16_t bbmdPort = 47808;
  uint32_t ttlSeconds = 0;
  bool status = false;  // --status: the plug-in's DEVICE-STATUS at exit
  // --discover: find the devices at this endpoint and print them at exit;
  // --write-config: a request configuration with one request per device.
  std::string discoverAddress;
  uint16_t discoverPort = 47808;
  std::string writeConfig;
  // --rpm on|off: "Read a device's items with ReadPropertyMultiple"; unset,
  // the stored option stays as it is.
  std::optional<bool> readMultiple;
  RecordFormat format = RecordFormat::Jsonl;
  std::string outFile;  // empty: standard output
  bool quiet = false;
  std::optional<double> durationSeconds;
  std::optional<uint64_t> records;
};

// Parses the arguments (without the program name).  False with a one-line
// reason for anything it cannot use.
bool ParseCommandLine(const std::vector<std::string>& args, HostOptions* options, std::string* error);

// The text with every control character made "?", for one-line messages
// that quote what a user or a file gave.
std::string OneLine(std::string text);

// The text of --help.
const char* UsageText();

// The built-in request: 127.0.0.2:47808, device 1234, AI:1, AV:1, BI:1
// every second.
PollSpec DefaultPoll();

}  // namespace host
