// A stand-in plug-in for the host's end-to-end tests: it exports the eight
// entry points and does just enough to prove the host's part.
//   LOAD       keeps the host's module handle, notification descriptor and
//              INI file.
//   SET-STATE  reads the endpoint of the first request from the INI file's
//              "Parser config", sends "PING<id>" there through data kind
//              129 on every data source, tries three envelopes the host
//              must refuse and one data source that does not exist, and
//              logs two time-outs (folded as " x2") and one error answer.
//   ProcessData  delivers two records in the output list, split by a row
//              marker, and starts a thread that sends "ACK<id>" through
//              kind 129 on the same data source and then one record
//              through kind 9.
// What it notices goes to standard error as "test-plugin: ..." lines.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "bacnetip/plugin_abi.h"
#include "host_params.h"
#include "platform/port.h"

namespace {

kel_DataLogger_SendDataEx g_send = nullptr;
int g_notifyFd = -1;
int32_t g_moduleIndex = 0;
int32_t g_dataSource = 0;
std::string g_ini;
std::mutex g_logLock;
std::string g_log;
std::thread g_worker;

IkelParamsListA* ListOf(void* params) { return params ? *static_cast<IkelParamsListA**>(params) : nullptr; }

host::HostValue Get(IkelParamsListA* list, const char* name) {
  kel_variant v;
  std::memset(&v, 0, sizeof v);
  list->vtbl->GetValue(list, name, 0, -1, &v);
  host::HostValue out = host::HostValue::FromVariant(&v);
  if (v.vt == KEL_VT_BSTR && v.u.bstr) std::free(reinterpret_cast<unsigned char*>(v.u.bstr) - 4);
  return out;
}

void Add(IkelParamsListA* list, const char* name, const host::HostValue& value) {
  kel_variant v;
  value.ToVariant(&v);
  IkelParamsListItemA* item = nullptr;
  list->vtbl->Add(list, name, &v, &item);
  if (item) item->vtbl->Release(item);
  if (v.vt == KEL_VT_BSTR && v.u.bstr) std::free(reinterpret_cast<unsigned char*>(v.u.bstr) - 4);
}

host::HostValue Value(uint16_t vt, int64_t i, double d = 0, const std::string& text = {}) {
  host::HostValue v;
  v.vt = vt;
  v.i = i;
  v.d = d;
  v.text = host::Utf8To16(text);
  return v;
}

void AddLog(int level, const std::string& text) {
  {
    std::lock_guard<std::mutex> g(g_logLock);
    g_log += static_cast<char>(level + 1);
    g_log += text + "\r\n";
  }
  const uint32_t msg[3] = {KEL_MSG_LOG_CHANGED, static_cast<uint32_t>(g_moduleIndex), 0};
  if (g_notifyFd >= 0 && ::write(g_notifyFd, msg, sizeof msg) != sizeof msg) std::fprintf(stderr, "test-plugin: notify failed\n");
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The endpoint text of the first request, from the stored configuration.
std::string StoredEndpoint() {
  std::string ini;
  if (!port::ReadFile(g_ini, &ini)) return {};
  size_t at = ini.find("Parser config=");
  if (at == std::string::npos) return {};
  std::string enc = ini.substr(at + 14, ini.find("\r\n", at) - at - 14), xml;
  for (size_t i = 0; i < enc.size(); ++i) {
    if (enc[i] == '+') xml += ' ';
    else if (enc[i] == '%' && i + 1 < enc.size() && enc[i + 1] == '%') xml += '%', ++i;
    else if (enc[i] == '%' && i + 2 < enc.size()) xml += static_cast<char>(Hex(enc[i + 1]) * 16 + Hex(enc[i + 2])), i += 2;
    else xml += enc[i];
  }
  size_t ep = xml.find("<EP>");
  size_t end = xml.find("</EP>");
  return ep == std::string::npos || end == std::string::npos ? std::string() : xml.substr(ep + 4, end - ep - 4);
}

int32_t Send(int32_t dataSource, const std::string& bytes) {
  return g_send ? g_send(g_moduleIndex, dataSource, 0, 0, KEL_DATA_KIND_SEND, const_cast<char*>(bytes.data()),
                         static_cast<int32_t>(bytes.size()))
                : -1;
}

void SetState(IkelParamsListA* list) {
  const std::string sources = Get(list, "DATA-SOURCES-IN-CFG").ToText();
  const std::string ep = StoredEndpoint();
  // "PING" and the data source's id, through every data source.
  bool first = true;
  for (size_t at = 0; at < sources.size();) {
    size_t end = sources.find("\r\n", at);
    if (end == std::string::npos) end = sources.size();
    const int32_t id = std::atoi(sources.substr(at, end - at).c_str());
    at = end + 2;
    if (id <= 0) continue;
    if (first) g_dataSource = id;
    first = false;
    int32_t r = Send(id, "<<TO:" + ep + ">>PING" + std::to_string(id));
    std::fprintf(stderr, "test-plugin: ping %d %d\n", id, r);
  }
  int32_t noClose = Send(g_dataSource, "<<TO:" + ep + "PING");
  int32_t portZero = Send(g_dataSource, "<<TO:127.0.0.1:0>>PING");
  int32_t empty = Send(g_dataSource, "<<TO:" + ep + ">>");
  int32_t unknownSource = Send(g_dataSource + 1000, "<<TO:" + ep + ">>PING");
  std::fprintf(stderr, "test-plugin: refused %d %d %d %d\n", noClose, portZero, empty, unknownSource);
  AddLog(1, "Bacnet/IP. Request timeout: Request #1 (" + ep + ") x2");
  AddLog(1, "Bacnet/IP. Error response [Object, Unknown Object]");
  AddLog(2, "Bacnet/IP. Data have been processed successfully");
}

void DeliverLater(int32_t dataSource) {
  int32_t sent = Send(dataSource, "<<TO:" + StoredEndpoint() + ">>ACK" + std::to_string(dataSource));
  host::HostParamsList* list = host::HostParamsList::Create();
  IkelParamsListA* intf = list->Intf();
  Add(intf, "VIA", Value(KEL_VT_BSTR, 0, 0, "timer"));
  Add(intf, "SENT", Value(KEL_VT_I4, sent));
  static const char raw[] = "raw packet";
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof rec);
  rec.Size = sizeof rec;
  rec.Flags = 1;
  rec.Input.Kind = KEL_KIND_BUFFER;
  rec.Input.Size = sizeof raw - 1;
  rec.Input.Value = reinterpret_cast<uintptr_t>(raw);
  rec.Output.Kind = KEL_KIND_LIST_INTF;
  rec.Output.Value = reinterpret_cast<uintptr_t>(&intf);
  g_send(g_moduleIndex, dataSource, 0, 0, KEL_DATA_KIND_PARSED, &rec, 0);
  list->Release();
}

}  // namespace

extern "C" {

KEL_EXPORT int32_t KEL_STDCALL CreatePluginInstance(TPluginCallRec* rec) {
  rec->Instance = 7;
  return 0;
}

KEL_EXPORT int32_t KEL_STDCALL FreePluginInstance(TPluginCallRec* rec) {
  if (rec->Input.Kind == KEL_KIND_CONTROL && rec->Input.Value == KEL_SHUTDOWN_CODE) {
    std::fprintf(stderr, "test-plugin: shutdown\n");
    return 0;
  }
  if (g_worker.joinable()) g_worker.join();
  std::fprintf(stderr, "test-plugin: free %u\n", rec->Instance);
  return rec->Instance == 7 ? 0 : -1;
}

KEL_EXPORT uint8_t KEL_STDCALL GetModuleInfo(TPluginCallRec*, TPluginModuleInfo* info, uint32_t* needed) {
  static const char kDescription[] = "Test plug-in";
  *needed = KEL_MODULEINFO_HEADER + sizeof kDescription - 1;
  if (!info || info->Size < *needed) return 0;
  const uint32_t size = info->Size;
  std::memset(info, 0, KEL_MODULEINFO_HEADER);
  info->Size = size;
  info->ModuleVersion = 1.0f;
  char* text = reinterpret_cast<char*>(info) + KEL_MODULEINFO_HEADER;
  std::memcpy(text, kDescription, sizeof kDescription - 1);
  info->DescriptionLength = sizeof kDescription - 1;
  info->Description = reinterpret_cast<uintptr_t>(text);
  return 1;
}

KEL_EXPORT int32_t KEL_STDCALL GetLogEx(TPluginCallRec* rec) {
  std::lock_guard<std::mutex> g(g_logLock);
  rec->Output.Kind = KEL_KIND_STATUS;
  rec->Output.Value = g_log.size();
  if (g_log.empty()) return 0;
  if (rec->Input.Size == 0) {
    g_log.clear();
    return 0;
  }
  if (g_log.size() > rec->Input.Size) return 0;
  std::memcpy(reinterpret_cast<void*>(rec->Input.Value), g_log.data(), g_log.size());
  const auto n = static_cast<int32_t>(g_log.size());
  g_log.clear();
  return n;
}

KEL_EXPORT void KEL_STDCALL GetOptionsDialog(TPluginCallRec*) {}
KEL_EXPORT void KEL_STDCALL ShowOptionsDialog(TPluginCallRec*) {}

KEL_EXPORT int32_t KEL_STDCALL ExecutePluginCommand(TPluginCallRec* rec) {
  IkelParamsListA* list = ListOf(rec->Params);
  if (!list) return -1;
  const std::string command = Get(list, "COMMAND").ToText();
  if (command == "LOAD") {
    g_moduleIndex = rec->ModuleIndex;
    void* self = reinterpret_cast<void*>(static_cast<intptr_t>(Get(list, "HANDLE").ToInt()));
    g_send = reinterpret_cast<kel_DataLogger_SendDataEx>(::dlsym(self, "DataLogger_SendDataEx"));
    g_notifyFd = static_cast<int>(Get(list, "MSG-PROC-HANDLE").ToInt());
    g_ini = Get(list, "INI-FILE").ToText();
    std::fprintf(stderr, "test-plugin: LOAD %s\n", g_send ? "with SendDataEx" : "without SendDataEx");
    return 0;
  }
  if (command == "SET-STATE") {
    std::fprintf(stderr, "test-plugin: SET-STATE call types %u\n", rec->CallTypes);
    SetState(list);
    return 0;
  }
  if (command == "UNLOAD") {
    if (g_worker.joinable()) g_worker.join();
    std::fprintf(stderr, "test-plugin: UNLOAD\n");
    return 0;
  }
  return -2;
}

KEL_EXPORT int32_t KEL_STDCALL ProcessData(TPluginCallRec* rec) {
  IkelParamsListA* out = rec->Output.Kind == KEL_KIND_LIST_INTF ? ListOf(reinterpret_cast<void*>(rec->Output.Value))
                                                                : nullptr;
  if (!out || rec->Input.Kind != KEL_KIND_BUFFER || !rec->Input.Value) return -1;
  const std::string text(reinterpret_cast<const char*>(rec->Input.Value), rec->Input.Size);
  Add(out, "DATE_TIME_STAMP", Value(KEL_VT_DATE, 0, 46000.5));
  Add(out, "DATA_SOURCE_ID", Value(KEL_VT_UI4, rec->DataSourceId));
  Add(out, "PEER", Value(KEL_VT_BSTR, 0, 0, std::string(rec->PeerAddress, strnlen(rec->PeerAddress, sizeof rec->PeerAddress))));
  Add(out, "TEXT", Value(KEL_VT_BSTR, 0, 0, text));
  Add(out, "BYTES", Value(KEL_VT_I4, rec->Input.Size));
  Add(out, "CALL_TYPES", Value(KEL_VT_UI1, rec->CallTypes));
  Add(out, "OK", Value(KEL_VT_BOOL, 1));
  Add(out, "REAL", Value(KEL_VT_R8, 0, 1.5));
  out->vtbl->AddNewRow(out);
  Add(out, "ROW", Value(KEL_VT_I4, 2));
  Add(out, "NAME, \"QUOTED\"", Value(KEL_VT_BSTR, 0, 0, "a\nb"));
  out->vtbl->AddNewRow(out);
  rec->Output.Counter += 1;
  if (g_worker.joinable()) g_worker.join();
  const int32_t dataSource = rec->DataSourceId;
  g_worker = std::thread(DeliverLater, dataSource);
  return 0;
}

}  // extern "C"
