#include "log_lines.h"

namespace host {

namespace {

constexpr std::string_view kTitle = "Bacnet/IP. ";
constexpr std::string_view kTimeout = "Request timeout: ";
constexpr std::string_view kErrorAnswer = "Error response [";

// The repeat count a folded line carries (" x" and a number at its end),
// 1 when it carries none; the text without the suffix goes to *base.
uint64_t RepeatCount(std::string_view text, std::string_view* base) {
  size_t digits = 0;
  while (digits < text.size() && text[text.size() - 1 - digits] >= '0' && text[text.size() - 1 - digits] <= '9')
    ++digits;
  *base = text;
  if (digits == 0 || digits > 9 || text.size() < digits + 2 || text.substr(text.size() - digits - 2, 2) != " x")
    return 1;
  uint64_t n = 0;
  for (char c : text.substr(text.size() - digits)) n = n * 10 + static_cast<uint64_t>(c - '0');
  if (n < 2) return 1;
  *base = text.substr(0, text.size() - digits - 2);
  return n;
}

}  // namespace

std::vector<LogLine> SplitLog(std::string_view text) {
  std::vector<LogLine> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 2;
    if (line.empty()) continue;
    LogLine l;
    const auto c = static_cast<unsigned char>(line[0]);
    if (c >= 1 && (c & 0x7F) >= 1 && (c & 0x7F) < 0x20) {
      l.level = (c & 0x7F) - 1;
      l.flagged = (c & 0x80) != 0;
      line.remove_prefix(1);
    } else {
      l.level = -1;  // no control character: shown as it is
    }
    l.text = std::string(line);
    out.push_back(std::move(l));
  }
  return out;
}

std::string LevelName(int level) {
  switch (level) {
    case 0: return "error";
    case 1: return "warning";
    case 2: return "info";
    default: return "level " + std::to_string(level);
  }
}

void LogCounters::Count(const LogLine& line) {
  if (line.level != 1) return;
  std::string_view t = line.text;
  if (t.substr(0, kTitle.size()) != kTitle) return;
  t.remove_prefix(kTitle.size());
  std::string_view base;
  if (t.substr(0, kTimeout.size()) == kTimeout) {
    // A time-out line ends with the endpoint in parentheses: a number after
    // them is the log's repeat count.
    uint64_t n = RepeatCount(t, &base);
    timeouts += base.empty() || base.back() != ')' ? 1 : n;
  } else if (t.substr(0, kErrorAnswer.size()) == kErrorAnswer) {
    uint64_t n = RepeatCount(t, &base);
    errorAnswers += base.empty() || base.back() != ']' ? 1 : n;
  }
}

}  // namespace host
