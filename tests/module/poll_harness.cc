#include "poll_harness.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "host_entry_points.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "platform/port.h"
#include "runtime/timing/kel_timeout.h"
#include "runtime/timing/timer_ex.h"

namespace polltest {

namespace {

std::atomic<uint64_t> g_now{1000000};
uint64_t FakeTick64() { return g_now.load(); }

TPluginCallRec NewRec() {
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof rec);
  rec.Size = KEL_CALLREC_SIZE;
  return rec;
}

void Put16(std::vector<uint8_t>& f, uint16_t v) {
  f.push_back(static_cast<uint8_t>(v >> 8));
  f.push_back(static_cast<uint8_t>(v));
}

// Fills the BACnet/IP length of a frame built without it.
std::vector<uint8_t> Finish(std::vector<uint8_t> f) {
  f[2] = static_cast<uint8_t>(f.size() >> 8);
  f[3] = static_cast<uint8_t>(f.size());
  return f;
}

// Header of an answer from a local device, the APDU to follow.
std::vector<uint8_t> Header() { return {0x81, 0x0A, 0x00, 0x00, 0x01, 0x00}; }

void PutObjectId(std::vector<uint8_t>& f, uint8_t tag, uint16_t type, uint32_t instance) {
  const uint32_t id = (uint32_t{type} << 22) | (instance & 0x3FFFFF);
  f.push_back(tag);
  for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(id >> s));
}

std::vector<uint8_t> AckHead(const SentFrame& req) {
  std::vector<uint8_t> f = Header();
  f.insert(f.end(), {0x30, req.invokeId, 0x0C});
  PutObjectId(f, 0x0C, req.objectType, req.objectInstance);
  if (req.propertyId <= 0xFF) {
    f.insert(f.end(), {0x19, static_cast<uint8_t>(req.propertyId)});
  } else {
    f.push_back(0x1A);
    Put16(f, static_cast<uint16_t>(req.propertyId));
  }
  f.push_back(0x3E);
  return f;
}

}  // namespace

void UseFakeClock(uint64_t start) {
  g_now = start;
  kel::SetTimeoutClock(kel::TTickClock{&FakeTick64, nullptr});
}
void Advance(uint64_t ms) { g_now += ms; }
uint64_t Now() { return g_now.load(); }

bool ParseSent(const std::string& message, SentFrame& out) {
  out = SentFrame();
  if (message.rfind("<<TO:", 0) != 0) return false;
  const size_t close = message.find(">>");
  if (close == std::string::npos) return false;
  const std::string target = message.substr(5, close - 5);
  const size_t colon = target.rfind(':');
  if (colon == std::string::npos) return false;
  out.address = target.substr(0, colon);
  out.port = static_cast<uint16_t>(std::atoi(target.c_str() + colon + 1));
  out.octets.assign(message.begin() + static_cast<std::ptrdiff_t>(close + 2), message.end());
  const std::vector<uint8_t>& f = out.octets;
  // A foreign device's management frames: registration and its delete.
  if (f.size() >= 4 && f[0] == 0x81 && (f[1] == 0x05 || f[1] == 0x08)) {
    out.function = f[1];
    return (size_t{f[2]} << 8 | f[3]) == f.size() && f.size() == (f[1] == 0x05 ? 6u : 10u);
  }
  if (f.size() < 8 || f[0] != 0x81 || (f[1] != 0x0A && f[1] != 0x0B && f[1] != 0x09) || f[4] != 0x01) return false;
  out.function = f[1];
  if ((size_t{f[2]} << 8 | f[3]) != f.size()) return false;
  size_t pos = 6;
  if (f[5] & 0x20) {
    if (f.size() < 9) return false;
    out.dnet = static_cast<uint16_t>(f[6] << 8 | f[7]);
    const size_t dlen = f[8];
    if (f.size() < 10 + dlen) return false;
    out.dadr.assign(f.begin() + 9, f.begin() + 9 + static_cast<std::ptrdiff_t>(dlen));
    pos = 10 + dlen;  // after the hop count
  }
  if (pos + 2 <= f.size() && f[pos] == 0x10 && f[pos + 1] == 0x08) {
    out.whoIs = true;
    out.whoIsRange.assign(f.begin() + static_cast<std::ptrdiff_t>(pos + 2), f.end());
    return true;
  }
  if (f[1] != 0x0A) return false;  // requests go to one device
  if (pos + 4 <= f.size() && f[pos] == 0x00 && f[pos + 3] == 0x0E) {
    // ReadPropertyMultiple: object identifier, the present value alone.
    out.multiple = true;
    out.invokeId = f[pos + 2];
    out.propertyId = 85;
    for (pos += 4; pos < f.size(); pos += 9) {
      if (pos + 9 > f.size() || f[pos] != 0x0C || f[pos + 5] != 0x1E || f[pos + 6] != 0x09 || f[pos + 7] != 0x55 ||
          f[pos + 8] != 0x1F)
        return false;
      const uint32_t id =
          uint32_t{f[pos + 1]} << 24 | uint32_t{f[pos + 2]} << 16 | uint32_t{f[pos + 3]} << 8 | f[pos + 4];
      out.objects.emplace_back(static_cast<uint16_t>(id >> 22), id & 0x3FFFFF);
    }
    if (out.objects.empty()) return false;
    out.objectType = out.objects[0].first;
    out.objectInstance = out.objects[0].second;
    return true;
  }
  if (pos + 3 == f.size() && f[pos] == 0x20) {
    out.simpleAck = true;
    out.invokeId = f[pos + 1];
    return true;
  }
  if (pos + 4 <= f.size() && f[pos] == 0x00 && f[pos + 3] == 0x05) {
    // SubscribeCOV: [0] process, [1] object, then [2] and [3] unless cancelled.
    out.subscribe = true;
    out.invokeId = f[pos + 2];
    for (size_t at = pos + 4; at < f.size();) {
      const uint8_t tag = f[at];
      const size_t len = tag & 0x07;
      if (at + 1 + len > f.size()) return false;
      uint32_t v = 0;
      for (size_t k = 0; k < len; ++k) v = v << 8 | f[at + 1 + k];
      switch (tag >> 4) {
        case 0: out.processId = v; break;
        case 1:
          out.objectType = static_cast<uint16_t>(v >> 22);
          out.objectInstance = v & 0x3FFFFF;
          break;
        case 3:
          out.hasLifetime = true;
          out.lifetime = v;
          break;
        default: break;
      }
      at += 1 + len;
    }
    return true;
  }
  if (pos + 9 > f.size() || f[pos] != 0x00 || f[pos + 3] != 0x0C || f[pos + 4] != 0x0C) return false;
  out.invokeId = f[pos + 2];
  const uint32_t id = uint32_t{f[pos + 5]} << 24 | uint32_t{f[pos + 6]} << 16 | uint32_t{f[pos + 7]} << 8 | f[pos + 8];
  out.objectType = static_cast<uint16_t>(id >> 22);
  out.objectInstance = id & 0x3FFFFF;
  pos += 9;
  if (pos + 2 <= f.size() && f[pos] == 0x19) out.propertyId = f[pos + 1];
  else if (pos + 3 <= f.size() && f[pos] == 0x1A) out.propertyId = uint32_t{f[pos + 1]} << 8 | f[pos + 2];
  else return false;
  return true;
}

std::vector<uint8_t> RealAck(const SentFrame& req, float value) {
  std::vector<uint8_t> f = AckHead(req);
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  f.push_back(0x44);
  for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(bits >> s));
  f.push_back(0x3F);
  return Finish(f);
}

std::vector<uint8_t> TextAck(const SentFrame& req, const std::string& text) {
  std::vector<uint8_t> f = AckHead(req);
  f.insert(f.end(), {0x75, static_cast<uint8_t>(text.size() + 1), 0x00});
  f.insert(f.end(), text.begin(), text.end());
  f.push_back(0x3F);
  return Finish(f);
}

std::vector<uint8_t> ErrorAnswer(const SentFrame& req, uint8_t errorClass, uint8_t errorCode) {
  std::vector<uint8_t> f = Header();
  f.insert(f.end(), {0x50, req.invokeId, 0x0C, 0x91, errorClass, 0x91, errorCode});
  return Finish(f);
}

std::vector<uint8_t> Refusal(const SentFrame& req, uint8_t pduType, uint8_t reason) {
  std::vector<uint8_t> f = Header();
  f.insert(f.end(), {pduType, req.invokeId, reason});
  return Finish(f);
}

std::vector<uint8_t> MultipleAck(const SentFrame& req, const std::vector<MultipleResult>& results) {
  std::vector<uint8_t> f = Header();
  f.insert(f.end(), {0x30, req.invokeId, 0x0E});
  for (const MultipleResult& r : results) {
    PutObjectId(f, 0x0C, r.objectType, r.objectInstance);
    f.insert(f.end(), {0x1E, 0x29, 0x55});
    if (r.error) {
      f.insert(f.end(), {0x5E, 0x91, r.errorClass, 0x91, r.errorCode, 0x5F});
    } else {
      uint32_t bits;
      std::memcpy(&bits, &r.value, 4);
      f.insert(f.end(), {0x4E, 0x44});
      for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(bits >> s));
      f.push_back(0x4F);
    }
    f.push_back(0x1F);
  }
  return Finish(f);
}

std::vector<uint8_t> MultipleAck(const SentFrame& req, float base) {
  std::vector<MultipleResult> results;
  for (const auto& [type, instance] : req.objects)
    results.push_back({type, instance, base + static_cast<float>(instance)});
  return MultipleAck(req, results);
}

std::vector<uint8_t> SimpleAck(const SentFrame& req) {
  std::vector<uint8_t> f = Header();
  f.insert(f.end(), {0x20, req.invokeId, 0x05});
  return Finish(f);
}

std::vector<uint8_t> CovNotice(uint32_t processId, uint32_t device, uint16_t objectType, uint32_t instance,
                               float value, bool confirmed, uint8_t invokeId) {
  std::vector<uint8_t> f = Header();
  if (confirmed) f.insert(f.end(), {0x00, 0x05, invokeId, 0x01});
  else f.insert(f.end(), {0x10, 0x02});
  f.push_back(0x0C);
  for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(processId >> s));
  PutObjectId(f, 0x1C, 8, device);
  PutObjectId(f, 0x2C, objectType, instance);
  f.insert(f.end(), {0x39, 0x78, 0x4E, 0x09, 0x55, 0x2E});
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  f.push_back(0x44);
  for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(bits >> s));
  f.insert(f.end(), {0x2F, 0x09, 0x6F, 0x2E, 0x82, 0x04, 0x00, 0x2F, 0x4F});
  return Finish(f);
}

std::vector<uint8_t> Routed(const std::vector<uint8_t>& frame, uint16_t snet, const std::vector<uint8_t>& sadr) {
  std::vector<uint8_t> f(frame.begin(), frame.begin() + 4);
  f.insert(f.end(), {0x01, 0x08});
  Put16(f, snet);
  f.push_back(static_cast<uint8_t>(sadr.size()));
  f.insert(f.end(), sadr.begin(), sadr.end());
  f.insert(f.end(), frame.begin() + 6, frame.end());
  return Finish(f);
}

std::vector<uint8_t> Forwarded(const std::vector<uint8_t>& frame, const std::string& origin, uint16_t port) {
  std::vector<uint8_t> f = {0x81, 0x04, 0x00, 0x00};
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(origin.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
  for (unsigned o : {a, b, c, d}) f.push_back(static_cast<uint8_t>(o));
  Put16(f, port);
  f.insert(f.end(), frame.begin() + 4, frame.end());
  return Finish(f);
}

PollHost::PollHost(bool manualTicks) {
  // Settings never reach the user's own registry emulation.
  static const std::string registry = [] {
    std::string dir = port::TempDirectory() + "bacnetip-poll-registry-" + std::to_string(getpid());
    port::CreateDirectories(dir);
    setenv("BACNETIP_REGISTRY_DIR", dir.c_str(), 1);
    return dir;
  }();
  kel::InitializeFramework();
  kel::TkelTimerEx::SetManualTicks(manualTicks);
  bacnet_module::RegisterModuleClass();
  host::LinkEntryPoints();
  host::SetSendDataSink([this](int32_t mi, int32_t ds, int32_t kind, void* data, int32_t count) {
    return OnSendData(mi, ds, kind, data, count);
  });
  static std::atomic<int> serial{0};
  ini_ = port::TempDirectory() + "bacnetip-poll-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + ".ini";
  port::RemoveFile(ini_);
}

PollHost::~PollHost() {
  Free();
  host::SetSendDataSink(nullptr);
  port::RemoveFile(ini_);
}

int32_t PollHost::OnSendData(int32_t, int32_t dataSourceId, int32_t kind, void* data, int32_t count) {
  std::lock_guard<std::mutex> g(m_);
  if (kind == KEL_DATA_KIND_SEND) {
    SentFrame f;
    std::string message(static_cast<const char*>(data), static_cast<size_t>(count));
    EXPECT_TRUE(ParseSent(message, f)) << "not a request the module should send";
    f.dataSourceId = dataSourceId;
    if (OnSent) OnSent(f);
    else sent_.push_back(f);
    return SendResult.load();
  }
  if (kind == KEL_DATA_KIND_PARSED) kind9_.push_back(host::ReadParsedRecord(static_cast<TPluginCallRec*>(data)));
  return 0;
}

int32_t PollHost::Command(const std::string& command,
                          const std::vector<std::pair<std::string, host::HostValue>>& params) {
  host::HostParamsList* list = host::HostParamsList::Create();
  list->SetText("COMMAND", command);
  for (const auto& p : params) list->Set(p.first, p.second);
  IkelParamsListA* intf = list->Intf();
  TPluginCallRec rec = NewRec();
  rec.Instance = handle_;
  rec.ModuleIndex = 3;
  rec.Params = &intf;
  const int32_t r = kel::DoExecutePluginCommand(&rec);
  list->Release();
  return r;
}

void PollHost::Start(const std::string& xml, bool readDeviceProperties, bool freshOnly) {
  host::HostParamsList* list = host::HostParamsList::Create();
  IkelParamsListA* intf = list->Intf();
  TPluginCallRec rec = NewRec();
  rec.Params = &intf;
  ASSERT_EQ(kel::DoCreatePluginInstance(&rec), 0);
  handle_ = rec.Instance;
  list->Release();
  host::HostValue self;
  self.vt = KEL_VT_I8;
  self.i = reinterpret_cast<int64_t>(port::LoadedLib(""));
  host::HostValue ini;
  ini.vt = KEL_VT_BSTR;
  ini.text = host::Utf8To16(ini_);
  ASSERT_EQ(Command("LOAD", {{"HANDLE", self}, {"INI-FILE", ini}}), 0);
  // The options as the host stores them: written once, read back by every
  // reload.
  Options()->lblParams_Caption = xml;
  Options()->chkReadDevProp_Checked = readDeviceProperties;
  Options()->chkFreshOnly_Checked = freshOnly;
  Command("SAVE-SETTINGS-NOW", {{"INI-FILE", ini}});
}

void PollHost::SaveOptions() {
  host::HostValue ini;
  ini.vt = KEL_VT_BSTR;
  ini.text = host::Utf8To16(ini_);
  Command("SAVE-SETTINGS-NOW", {{"INI-FILE", ini}});
}

void PollHost::SetOptions(const std::function<void(kel::TProxyCodeObject&)>& change) {
  change(*Options());
  SaveOptions();
}

int32_t PollHost::SetState(const std::string& sources, int32_t result, uint8_t callTypes) {
  host::HostParamsList* list = host::HostParamsList::Create();
  list->SetText("COMMAND", "SET-STATE");
  list->SetText("DATA-SOURCES-IN-CFG", sources);
  list->SetInt("RESULT", result);
  IkelParamsListA* intf = list->Intf();
  TPluginCallRec rec = NewRec();
  rec.Instance = handle_;
  rec.ModuleIndex = 3;
  rec.CallTypes = callTypes;
  rec.Params = &intf;
  const int32_t r = kel::DoExecutePluginCommand(&rec);
  list->Release();
  return r;
}

void PollHost::Unload() { Command("UNLOAD"); }

void PollHost::Free() {
  if (!handle_) return;
  TPluginCallRec rec = NewRec();
  rec.Instance = handle_;
  handle_ = 0;
  kel::DoFreePluginInstance(&rec);
}

bacnet_module::TaPlugin* PollHost::Plugin() {
  return static_cast<bacnet_module::TaPlugin*>(kel::ResolveHandle(handle_).get());
}

bacnet_module::TDataSourceCfg* PollHost::Options() {
  bacnet_module::TaPlugin* p = Plugin();
  if (!p) return nullptr;
  kel::ReadGuard settings(p->SettingsLock);
  return p->Config;
}

bacnet_module::TSerialPortDM* PollHost::Module(int32_t dataSourceId) {
  bacnet_module::TaPlugin* p = Plugin();
  if (!p) return nullptr;
  kel::ReadGuard settings(p->SettingsLock);
  return p->FindPortModule(dataSourceId);
}

void PollHost::Tick(int32_t dataSourceId) {
  bacnet_module::TSerialPortDM* m = Module(dataSourceId);
  ASSERT_NE(m, nullptr);
  m->TimerTick();
}

Delivered PollHost::Receive(const std::vector<uint8_t>& frame, const std::string& peer, int32_t dataSourceId,
                            uint8_t callTypes) {
  host::HostParamsList* list = host::HostParamsList::Create();
  IkelParamsListA* intf = list->Intf();
  host::HostParamsList* output = host::HostParamsList::Create();
  IkelParamsListA* outputIntf = output->Intf();
  TPluginCallRec rec = NewRec();
  rec.Instance = handle_;
  rec.DataSourceId = dataSourceId;
  rec.CallTypes = callTypes;
  rec.Params = &intf;
  rec.Input.Kind = KEL_KIND_BUFFER;
  rec.Input.Size = static_cast<uint32_t>(frame.size());
  rec.Input.Value = reinterpret_cast<uintptr_t>(frame.data());
  rec.Output.Kind = KEL_KIND_LIST_INTF;
  rec.Output.Value = reinterpret_cast<uintptr_t>(&outputIntf);
  std::strncpy(rec.PeerAddress, peer.c_str(), sizeof rec.PeerAddress - 1);
  Delivered d;
  d.code = kel::DoProcessData(&rec);
  d.items = host::ReadList(outputIntf);
  if (rec.Input.Kind == KEL_KIND_BUFFER && rec.Input.Value != 0 &&
      rec.Input.Value != reinterpret_cast<uintptr_t>(frame.data())) {
    void* block = reinterpret_cast<void*>(rec.Input.Value);
    d.rawText.assign(static_cast<const char*>(block), rec.Input.Size);
    std::free(block);
  }
  output->Release();
  list->Release();
  return d;
}

std::vector<SentFrame> PollHost::TakeSent() {
  std::lock_guard<std::mutex> g(m_);
  std::vector<SentFrame> out;
  out.swap(sent_);
  return out;
}

std::vector<host::ParsedRecord> PollHost::TakeKind9() {
  std::lock_guard<std::mutex> g(m_);
  std::vector<host::ParsedRecord> out;
  out.swap(kind9_);
  return out;
}

std::string PollHost::TakeLog() {
  std::string all;
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::vector<char> buf(1 << 16);
    TPluginCallRec rec = NewRec();
    rec.Instance = handle_;
    rec.Input.Kind = KEL_KIND_BUFFER;
    rec.Input.Size = static_cast<uint32_t>(buf.size());
    rec.Input.Value = reinterpret_cast<uintptr_t>(buf.data());
    const int32_t n = kel::DoGetLogEx(&rec);
    if (n <= 0) break;
    all.append(buf.data(), static_cast<size_t>(n));
  }
  return all;
}

std::map<std::string, host::HostValue> ByName(const host::NamedValues& items) {
  std::map<std::string, host::HostValue> m;
  for (const auto& [name, value] : items) m[name] = value;
  return m;
}

std::vector<std::string> Names(const host::NamedValues& items) {
  std::vector<std::string> n;
  for (const auto& item : items) n.push_back(item.first);
  return n;
}

std::string ConfigXml(const std::vector<RequestXml>& requests) {
  std::string x = "<MODBUSRTUQUERY>";
  for (const RequestXml& r : requests) {
    x += r.caption.empty() ? "<Request>" : "<Request caption=\"" + r.caption + "\">";
    x += "<Enabled>" + std::string(r.enabled ? "1" : "0") + "</Enabled>";
    x += "<EP>" + r.endpoint + "</EP><Instance>" + r.instances + "</Instance>";
    x += "<Timeout>" + std::to_string(r.timeout) + "</Timeout>" + r.extra;
    x += "<MethodPoll>" + std::string(r.poll ? "1" : "0") + "</MethodPoll>";
    x += "<PollInterval>" + std::to_string(r.interval) + "</PollInterval><PollUnits>" + r.units + "</PollUnits>";
    x += "<Response>";
    for (const std::string& item : r.items) {
      // "D00:1=NAME"
      const size_t colon = item.find(':');
      const size_t eq = item.find('=');
      x += "<Item><Name>" + item.substr(eq + 1) + "</Name><DataType>" + item.substr(0, colon) +
           "</DataType><Instance>" + item.substr(colon + 1, eq - colon - 1) + "</Instance></Item>";
    }
    x += "</Response></Request>";
  }
  return x + "</MODBUSRTUQUERY>";
}

}  // namespace polltest
