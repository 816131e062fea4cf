#include "module/device_status.h"

#include <algorithm>

namespace bacnet_module {

TDeviceStatusTable::TDeviceStatusTable() {
  clock_.Start();
  since_ = clock_.StartTime;
}

uint64_t TDeviceStatusTable::Now() {
  port::Guard g(lock_);
  return clock_.Now();
}

void TDeviceStatusTable::NoteArrival() {
  port::Guard g(lock_);
  lastArrival_ = clock_.Now();
}

TDeviceStatus* TDeviceStatusTable::Entry(const bacnet::TDeviceConnInfo& conn) {
  Key key{conn.EndPoint.Address, conn.EndPoint.Port, conn.Instance};
  auto it = index_.find(key);
  if (it == index_.end()) {
    if (devices_.size() >= kMaxEntries) return nullptr;
    it = index_.emplace(std::move(key), devices_.size()).first;
    TDeviceStatus& d = devices_.emplace_back();
    d.Instance = conn.Instance;
    d.Address = conn.EndPoint.Address;
    d.Port = conn.EndPoint.Port;
  }
  TDeviceStatus& d = devices_[it->second];
  // The route as last used: a device found behind a router keeps it.
  if (conn.AddressLength > 0) {
    d.Network = static_cast<uint16_t>(conn.Network);
    const size_t n = std::min<size_t>(conn.AddressLength, conn.StationAddress.size());
    d.Station.assign(conn.StationAddress.begin(), conn.StationAddress.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return &d;
}

void TDeviceStatusTable::NoteAnswer(const bacnet::TDeviceConnInfo& conn, uint64_t sentAt, const std::string* error) {
  port::Guard g(lock_);
  const uint64_t now = clock_.Now();
  lastArrival_ = now;
  TDeviceStatus* d = Entry(conn);
  if (!d) return;
  d->LastAnswer = now;
  ++d->Answers;
  const uint64_t rtt = sentAt != 0 && now >= sentAt ? now - sentAt : 0;
  d->RttSum += rtt;
  d->RttMax = std::max(d->RttMax, rtt);
  if (error) {
    d->LastError = *error;
    d->LastErrorAt = now;
  }
}

void TDeviceStatusTable::NoteTimeout(const bacnet::TDeviceConnInfo& conn) {
  port::Guard g(lock_);
  if (TDeviceStatus* d = Entry(conn)) ++d->Timeouts;
}

void TDeviceStatusTable::NoteIAm(const std::string& address, uint32_t instance) {
  port::Guard g(lock_);
  lastArrival_ = clock_.Now();
  if (iAmAt_.size() >= kMaxEntries && iAmAt_.find(address) == iAmAt_.end()) return;
  iAmAt_[address] = instance;
}

void TDeviceStatusTable::ClearDevices() {
  port::Guard g(lock_);
  index_.clear();
  devices_.clear();
  iAmAt_.clear();
  since_ = clock_.Now();
}

TDiagnosisFacts TDeviceStatusTable::Facts(const bacnet::TDeviceConnInfo& conn) {
  port::Guard g(lock_);
  TDiagnosisFacts f;
  f.Now = clock_.Now();
  f.LastArrival = lastArrival_;
  f.Since = since_;
  const auto it = index_.find(Key{conn.EndPoint.Address, conn.EndPoint.Port, conn.Instance});
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (it != index_.end() && i == it->second) continue;
    f.LastOtherAnswer = std::max(f.LastOtherAnswer, devices_[i].LastAnswer);
  }
  if (it != index_.end()) f.Device = devices_[it->second];
  if (const auto a = iAmAt_.find(conn.EndPoint.Address); a != iAmAt_.end()) f.IAmInstance = a->second;
  return f;
}

std::vector<TDeviceStatus> TDeviceStatusTable::Devices() const {
  port::Guard g(lock_);
  return devices_;
}

std::string DurationText(uint64_t ms) {
  if (ms < 1000) return std::to_string(ms) + " ms";
  const uint64_t s = ms / 1000;
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) {
    std::string t = std::to_string(s / 60) + " min";
    if (s % 60) t += " " + std::to_string(s % 60) + " s";
    return t;
  }
  std::string t = std::to_string(s / 3600) + " h";
  if ((s % 3600) / 60) t += " " + std::to_string((s % 3600) / 60) + " min";
  return t;
}

std::string StationText(const std::vector<uint8_t>& station) {
  if (station.size() == 1) return std::to_string(station[0]);
  static const char kHex[] = "0123456789abcdef";
  std::string t;
  for (uint8_t o : station) {
    if (!t.empty()) t += ':';
    t += kHex[o >> 4];
    t += kHex[o & 15];
  }
  return t;
}

std::string DeviceStatusLine(int32_t dataSourceId, const TDeviceStatus& d, uint64_t now) {
  std::string line = "source=" + std::to_string(dataSourceId) + " device=" + std::to_string(d.Instance) +
                     " address=" + d.Address + ":" + std::to_string(d.Port);
  if (!d.Station.empty())
    line += " network=" + std::to_string(d.Network) + " station=" + StationText(d.Station);
  line += " answers=" + std::to_string(d.Answers) + " timeouts=" + std::to_string(d.Timeouts);
  if (d.Answers > 0) {
    line += " rtt-avg-ms=" + std::to_string(d.RttSum / d.Answers) + " rtt-max-ms=" + std::to_string(d.RttMax) +
            " last-answer-s-ago=" + std::to_string((now - std::min(now, d.LastAnswer)) / 1000);
  }
  if (!d.LastError.empty())
    line += " last-error-s-ago=" + std::to_string((now - std::min(now, d.LastErrorAt)) / 1000) +
            " last-error=\"" + d.LastError + "\"";
  return line;
}

}  // namespace bacnet_module
