// Parsed data going back to the host: into the record of a ProcessData call,
// or later through DataLogger_SendDataEx.
#include "framework/delivery.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>

#include "framework/call_rec.h"
#include "framework/kel_plugin.h"
#include "params/params_list_wrap.h"
#include "runtime/errors.h"

namespace kel {

namespace {

// The block this thread's running ProcessData call handed to the host last.
thread_local void* t_ownBuffer = nullptr;

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;  // days since 1970-01-01
}

}  // namespace

DeliveryScope::DeliveryScope() : saved_(t_ownBuffer) { t_ownBuffer = nullptr; }
DeliveryScope::~DeliveryScope() { t_ownBuffer = saved_; }

double LocalNowOleDate() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  // The local date of a second is worked out once: records of one second
  // (every answer of a busy data source) share it.
  thread_local std::time_t cachedSecond = -1;
  thread_local double cachedDays = 0;
  thread_local double cachedSeconds = 0;
  if (t != cachedSecond) {
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    cachedDays = static_cast<double>(DaysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                                                   static_cast<unsigned>(tm.tm_mday)) +
                                     25569);  // 1899-12-30 to 1970-01-01
    cachedSeconds = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec;
    cachedSecond = t;
  }
  const double seconds = cachedSeconds + (ms < 0 ? 0 : ms) / 1000.0;
  return cachedDays + seconds / 86400.0;
}

int32_t TkelPlugin::FillStandardItems(TkelParamsList* list, const std::string& fullPacket,
                                      const std::string& dataPacket, uint32_t dataSourceId, uint32_t clientId,
                                      const std::string& dataSourceName, const std::string& dataSourceFullName,
                                      const std::string& clientName) {
  if (!list) return 0;
  int32_t n = 0;
  // The names are constants: their keys are written out, not made per record.
  auto add = [&](const char* name, const char* key, Variant&& v) {
    if (list->AddKeyed(name, key, std::move(v))) ++n;
  };
  if (!fullPacket.empty()) add("FULL_DATA_PACKET", "full_data_packet", Variant(fullPacket));
  if (!dataPacket.empty()) add("DATA_PACKET", "data_packet", Variant(dataPacket));
  add("DATE_TIME_STAMP", "date_time_stamp", Variant::FromDate(LocalNowOleDate()));
  add("DATA_SOURCE_ID", "data_source_id", Variant(dataSourceId));
  add("DATA_SOURCE_FULL_NAME", "data_source_full_name", Variant(dataSourceFullName));
  if (clientId != 0) {
    add("CLIENTID", "clientid", Variant(clientId));
    add("DATA_SOURCE_NAME", "data_source_name", Variant(clientName));
  } else {
    add("DATA_SOURCE_NAME", "data_source_name", Variant(dataSourceName));
  }
  return n;
}

void TkelPlugin::DeliverParsedData(TPluginCallRec* rec, TParsedDataList& list, const std::string& rawText,
                                   bool append, bool takeItems) {
  if (!rec) return;
  ParamsRef out = DescriptorParams(rec->Output);
  if (!out) return;
  if (!rawText.empty()) {
    const size_t n = rawText.size();
    const uint32_t oldSize = rec->Input.Size;
    auto* old = reinterpret_cast<const char*>(rec->Input.Value);
    const bool reuse = oldSize > 0 && old != nullptr && rec->Input.Kind == KEL_KIND_BUFFER;
    size_t keep = 0;
    bool separator = false;
    if (reuse && append) {
      keep = oldSize;
      separator = oldSize > kPacketSeparator.size() &&
                  std::memcmp(old + oldSize - kPacketSeparator.size(), kPacketSeparator.data(),
                              kPacketSeparator.size()) != 0;
    }
    // Counted in 64 bits: on a 32-bit build a host's Size near 4 GiB plus the
    // text would wrap size_t and make the block too small for the copies.
    const uint64_t total = uint64_t{keep} + (separator ? kPacketSeparator.size() : 0) + uint64_t{n};
    if (total > std::numeric_limits<uint32_t>::max())
      throw EkelError("Parsed data text is too long");
    const auto size = static_cast<size_t>(total);
    auto* block = static_cast<char*>(port::HostAlloc(size));
    if (!block) throw std::bad_alloc();
    char* at = block;
    if (keep) {
      std::memcpy(at, old, keep);
      at += keep;
    }
    if (separator) {
      std::memcpy(at, kPacketSeparator.data(), kPacketSeparator.size());
      at += kPacketSeparator.size();
    }
    std::memcpy(at, rawText.data(), n);
    if (reuse && old == t_ownBuffer) port::HostFree(const_cast<char*>(old));
    t_ownBuffer = block;
    rec->Input.Kind = KEL_KIND_BUFFER;
    rec->Input.Value = reinterpret_cast<uintptr_t>(block);
    rec->Input.Size = static_cast<uint32_t>(size);
  }
  rec->Output.Counter = rec->Output.Counter + 1;
  if (!append) out.Clear();
  // A raw list of the call's own wrapping takes copies of the items
  // directly; any other list gets them through its interface.
  if (TkelParamsList* own = RunningCallRawList(rec->Output)) {
    if (takeItems) own->TakeItems(list);
    else own->AddList(&list);
  } else CopyParamsItems(list, out.get());
}

void TkelPlugin::SendParsedData(int32_t dataSourceId, int32_t reserved, TParsedDataList& list) {
  kel_DataLogger_SendDataEx send = Host.SendDataEx.load();
  if (!send) return;
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof rec);
  rec.Size = KEL_CALLREC_SIZE;
  rec.Flags = 1;
  if (!list.FullPacket.empty()) {
    rec.Input.Kind = KEL_KIND_BUFFER;
    rec.Input.Value = reinterpret_cast<uintptr_t>(list.FullPacket.data());
    rec.Input.Size = static_cast<uint32_t>(list.FullPacket.size());
  }
  TkelParamsListWrap wrap(&list, true);
  rec.Output.Kind = KEL_KIND_LIST_INTF;
  rec.Output.Value = reinterpret_cast<uintptr_t>(wrap.AsIntf());
  send(ModuleIndex.load(), dataSourceId, reserved, 0, KEL_DATA_KIND_PARSED, &rec, 0);
}

int32_t TkelPlugin::SendRawData(int32_t moduleIndex, int32_t dataSourceId, int32_t reserved, const void* data,
                                int32_t length) {
  kel_DataLogger_SendDataEx send = Host.SendDataEx.load();
  if (!send) return -1;
  return send(moduleIndex, dataSourceId, reserved, 0, KEL_DATA_KIND_SEND, const_cast<void*>(data), length);
}

}  // namespace kel
