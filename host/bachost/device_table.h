// What bachost makes of the plug-in's DEVICE-STATUS lines: the devices a
// discovery found, as a table for the technician and as a request
// configuration to start from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct FoundDevice {
  uint32_t instance = 0;
  std::string address;  // IPv4
  uint16_t port = 47808;
  std::string network, station;  // behind a router, else empty
  std::string vendor, model, name, firmware;
  std::string rttMs;  // average round trip, empty before any answer
};

// One "key=value ..." line (values in quotes may hold blanks, with \" and
// \\ escaped); false for a line without device and address.
bool ParseDeviceStatusLine(std::string_view line, FoundDevice* device);
// Every device of the DEVICE-STATUS text (CR LF or LF between the lines).
std::vector<FoundDevice> ParseDeviceStatus(std::string_view text);
// The table: a header, then one line per device, columns separated by two
// blanks and padded to their widest entry.
std::string DeviceTable(const std::vector<FoundDevice>& devices);
// One request per device (its endpoint and instance, its object name or
// "Device N" as caption, no items).
std::string DiscoveredConfigXml(const std::vector<FoundDevice>& devices);

}  // namespace host
