// The request configuration the quick-start options turn into: the XML
// with root MODBUSRTUQUERY that the options form writes and the module reads
// from its "Parser config" setting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct ItemSpec {
  uint16_t objectType = 0;  // BACnet object type
  uint32_t instance = 0;    // object instance
  std::string name;         // the item name the module delivers the value under
};

struct IntervalSpec {
  uint32_t count = 1;        // 1..655350
  std::string units = "S";  // "MS", "S", "M" or "H", as the form stores them
  uint64_t Milliseconds() const;
};

struct PollSpec {
  std::string caption;          // the request's description
  std::string address;          // IPv4
  uint16_t port = 47808;
  std::string instances = "1001";  // device instances: numbers or "*", joined by ";"
  std::vector<ItemSpec> items;
  IntervalSpec interval;
  uint32_t timeoutMs = 1500;  // 1..65535
  bool once = false;
  bool logOnChange = false;  // --cov on: the request's "Log on change"
};

// Object types by their short names (AI AO AV BI BO BV MSI MSO MSV NC),
// ignoring case; false for any other name.
bool ObjectTypeByName(std::string_view name, uint16_t* type);
// The short name of a type those names cover, else empty.
std::string ObjectTypeName(uint16_t type);

// "AI:1,AV:2=RoomTemp,BI:3": type short name, ":", instance 0..4194303,
// optionally "=" and an item name (else "AI_1").  Names are trimmed, must
// not be empty, hold no control character and not repeat within the list.
bool ParseItemList(std::string_view text, std::vector<ItemSpec>* items, std::string* reason);

// "500ms", "1s", "2m", "1h", or a bare number of milliseconds.
bool ParseInterval(std::string_view text, IntervalSpec* interval, std::string* reason);

// A time-out: "1500", "1500ms" or "2s"; 1..65535 ms.
bool ParseTimeout(std::string_view text, uint32_t* ms, std::string* reason);

// "1234", "1;7", "*": device instances 1..4194303 or "*", separated by ";"
// or ",".  Written back joined by ";".
bool ParseDeviceInstances(std::string_view text, std::string* normalised, std::string* reason);

// The configuration XML for the requests, one request element per spec.
std::string BuildRequestXml(const std::vector<PollSpec>& polls);

// Text with the five XML entities for &, <, >, " and '.
std::string XmlEscape(std::string_view text);

// True when text contains an element MODBUSRTUQUERY (ignoring case).
bool HasRequestRoot(std::string_view xml);

}  // namespace host
