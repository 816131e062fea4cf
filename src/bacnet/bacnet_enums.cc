#include "bacnet/bacnet_enums.h"

#include <cstdio>

namespace bacnet {

std::string ObjectTypeName(uint16_t objectType) {
  static const char* const kNames[] = {
      "Analog Input",       "Analog Output",      "Analog Value",       "Binary Input",
      "Binary Output",      "Binary Value",       "Calendar",           "Command",
      "Device",             "Event Enrollment",   "File",               "Group",
      "Loop",               "Multi State Input",  "Multi State Output", "Notification Class",
      "Program",            "Schedule",           "Averaging",          "Multi State Value",
      "Trend Log",          "Life Safety Point",  "Life Safety Zone",   nullptr,
      "Pulse Converter",    "Event Log",          "Global Group",       "Trend Log Multiple",
      "Load Control",       "Structured View",
  };
  if (objectType < sizeof(kNames) / sizeof(kNames[0]) && kNames[objectType]) return kNames[objectType];
  char buf[24];
  std::snprintf(buf, sizeof buf, "Other (0x%04X)", static_cast<unsigned>(objectType));
  return buf;
}

}  // namespace bacnet
