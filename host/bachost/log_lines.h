// The module log as GetLogEx hands it over: lines ended by CR LF, each
// starting with one control character (level + 1, bit 7 a flag).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct LogLine {
  int level = 0;         // 0 error, 1 warning, 2 information
  bool flagged = false;  // bit 7 of the control character
  std::string text;
};

std::vector<LogLine> SplitLog(std::string_view text);

// "error", "warning", "info" or "level N".
std::string LevelName(int level);

// What the summary counts from the log: time-outs ("Request timeout: ...")
// and error answers ("Error response [...]"), both warnings after the
// module's log title.  A line the log folded ("... x3") counts that often.
struct LogCounters {
  uint64_t timeouts = 0;
  uint64_t errorAnswers = 0;
  void Count(const LogLine& line);
};

}  // namespace host
