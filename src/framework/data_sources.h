// The data sources of the host configuration, as SET-STATE delivers them in
// "DATA-SOURCES-IN-CFG": one "id;name;full name" line per source.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

struct TConfigDataSource {
  std::string Text;  // the whole line as received
  int32_t Id = 0;
  std::string Name;
  std::string FullName;
};
using TConfigDataSourceList = std::vector<TConfigDataSource>;

// Decimal integer of a trimmed field; fallback when it is not one (or does
// not fit 32 bits).


// Parses the text line by line.  A line whose first field is not a number
// (or is -1) is skipped.  A failure while handling a line is handed to
// onLineError and the next line follows.
TConfigDataSourceList ParseDataSources(std::string_view text,
                                       const std::function<void(const char* message)>& onLineError);

}  // namespace kel
