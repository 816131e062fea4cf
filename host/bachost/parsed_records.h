// Reading what the module hands the host: a parameter list seen only through
// its IkelParamsListA interface, and the records of DataLogger_SendDataEx
// kind 9.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bacnetip/plugin_abi.h"
#include "host_params.h"

namespace host {

using NamedValues = std::vector<std::pair<std::string, HostValue>>;

// Every item of a list, in order (row markers included, as "$NEW_ROW$"-named
// items with whatever value they carry).
NamedValues ReadList(IkelParamsListA* list);

struct ParsedRecord {
  std::string rawText;  // Input: raw packet texts, if any
  NamedValues items;    // Output: the parsed items
};
// Reads a kind-9 record (valid only during the host call).
ParsedRecord ReadParsedRecord(const TPluginCallRec* rec);
// "name=value" lines for printing.
std::string FormatRecord(const ParsedRecord& record);

}  // namespace host
