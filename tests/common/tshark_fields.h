// Wireshark's reading of a capture, for tests that compare it with ours:
// tshark's field output, one row per packet.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace testutil {

inline bool HaveTshark() { return std::system("command -v tshark >/dev/null 2>&1") == 0; }

// Standard output of a shell command (standard error dropped).
inline std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// The named fields of every packet of pcap, split at '|'.  options go to
// tshark before the fields (an occurrence rule, a decode-as).
inline std::vector<std::vector<std::string>> TsharkFields(const std::string& pcap, const std::vector<std::string>& names,
                                                          const std::string& options = "-E occurrence=l") {
  std::string cmd = "tshark -r " + pcap + " -T fields -E separator='|' " + options;
  for (const auto& n : names) cmd += " -e " + n;
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(RunCommand(cmd));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> row;
    std::string cell;
    std::istringstream cells(line);
    while (std::getline(cells, cell, '|')) row.push_back(cell);
    row.resize(names.size());
    rows.push_back(row);
  }
  return rows;
}

}  // namespace testutil
