#include "device_table.h"

#include <algorithm>
#include <cstdlib>

#include "address_text.h"
#include "request_config.h"

namespace host {

bool ParseDeviceStatusLine(std::string_view line, FoundDevice* d) {
  *d = FoundDevice();
  bool hasDevice = false, hasAddress = false;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t eq = line.find('=', i);
    if (eq == std::string_view::npos) break;
    const std::string key(line.substr(i, eq - i));
    std::string value;
    i = eq + 1;
    if (i < line.size() && line[i] == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        value += line[i];
      }
      ++i;  // the closing quote
    } else {
      const size_t end = std::min(line.find(' ', i), line.size());
      value = std::string(line.substr(i, end - i));
      i = end;
    }
    if (key == "device") {
      char* end = nullptr;
      const unsigned long v = std::strtoul(value.c_str(), &end, 10);
      hasDevice = !value.empty() && *end == 0 && v <= 4194303;
      d->instance = static_cast<uint32_t>(v);
    } else if (key == "address") {
      std::string reason;
      hasAddress = ParseEndpoint(value, 47808, &d->address, &d->port, &reason);
    } else if (key == "network") {
      d->network = value;
    } else if (key == "station") {
      d->station = value;
    } else if (key == "vendor") {
      d->vendor = value;
    } else if (key == "model") {
      d->model = value;
    } else if (key == "name") {
      d->name = value;
    } else if (key == "firmware") {
      d->firmware = value;
    } else if (key == "rtt-avg-ms") {
      d->rttMs = value;
    }
  }
  return hasDevice && hasAddress;
}

std::vector<FoundDevice> ParseDeviceStatus(std::string_view text) {
  std::vector<FoundDevice> devices;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    FoundDevice d;
    if (ParseDeviceStatusLine(line, &d)) devices.push_back(std::move(d));
    start = end + 1;
  }
  return devices;
}

std::string DeviceTable(const std::vector<FoundDevice>& devices) {
  std::vector<std::vector<std::string>> rows = {
      {"instance", "address", "route", "vendor", "model", "object name", "firmware", "rtt ms"}};
  for (const FoundDevice& d : devices) {
    const std::string route = d.network.empty() ? "-" : "network " + d.network + " station " + d.station;
    rows.push_back({std::to_string(d.instance), EndpointText(d.address, d.port), route, d.vendor, d.model, d.name,
                    d.firmware, d.rttMs});
  }
  std::vector<size_t> width(rows[0].size(), 0);
  for (const auto& r : rows)
    for (size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
  std::string out;
  for (const auto& r : rows) {
    std::string line;
    for (size_t c = 0; c < r.size(); ++c) {
      line += r[c];
      if (c + 1 < r.size()) line += std::string(width[c] - r[c].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

std::string DiscoveredConfigXml(const std::vector<FoundDevice>& devices) {
  std::vector<PollSpec> polls;
  for (const FoundDevice& d : devices) {
    PollSpec p;
    p.caption = d.name.empty() ? "Device " + std::to_string(d.instance) : d.name;
    p.address = d.address;
    p.port = d.port;
    p.instances = std::to_string(d.instance);
    polls.push_back(std::move(p));
  }
  return BuildRequestXml(polls);
}

}  // namespace host
