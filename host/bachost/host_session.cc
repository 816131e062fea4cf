#include "host_session.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/port.h"

namespace host {

namespace {

// Blocks the module hands to the host: CoTaskMemAlloc on Windows, malloc
// elsewhere.
void FreeModuleBlock(void* block) { port::HostFree(block); }

}  // namespace

HostValue Text(const std::string& utf8) {
  HostValue v;
  v.vt = KEL_VT_BSTR;
  v.text = Utf8To16(utf8);
  return v;
}

HostValue Int(int64_t value) {
  HostValue v;
  v.vt = KEL_VT_I4;
  v.i = value;
  return v;
}

HostValue Int64(int64_t value) {
  HostValue v;
  v.vt = KEL_VT_I8;
  v.i = value;
  return v;
}

HostSession::~HostSession() { Free(); }

int32_t HostSession::Create() {
  HostParamsList* list = HostParamsList::Create();
  IkelParamsListA* intf = list->Intf();
  TPluginCallRec rec = NewCallRec();
  rec.Params = &intf;
  int32_t r = x_.CreatePluginInstance(&rec);
  if (r == 0) handle_ = rec.Instance;
  list->Release();
  return r;
}

int32_t HostSession::Free() {
  if (!handle_) return -1;
  TPluginCallRec rec = NewCallRec();
  rec.Instance = handle_;
  handle_ = 0;
  return x_.FreePluginInstance(&rec);
}

bool HostSession::GetModuleInfo(ModuleInfo* info) {
  TPluginCallRec rec = NewCallRec();
  rec.Instance = handle_;
  uint32_t needed = 0;
  x_.GetModuleInfo(&rec, nullptr, &needed);
  if (needed < sizeof(TPluginModuleInfo)) return false;
  std::vector<uint8_t> buf(needed);
  auto* mi = reinterpret_cast<TPluginModuleInfo*>(buf.data());
  mi->Size = needed;
  if (!x_.GetModuleInfo(&rec, mi, &needed)) return false;
  info->moduleType = mi->ModuleType;
  info->frameworkVersion = mi->FrameworkVersion;
  info->moduleVersion = mi->ModuleVersion;
  info->infoFlag = mi->ModuleInfoFlag;
  info->neededSize = needed;
  if (mi->Description)
    info->description.assign(reinterpret_cast<const char*>(mi->Description), mi->DescriptionLength);
  if (mi->Commands) info->commands.assign(reinterpret_cast<const char*>(mi->Commands), mi->CommandsLength);
  return true;
}

CommandResult HostSession::Command(const std::string& command,
                                   const std::vector<std::pair<std::string, HostValue>>& params,
                                   int32_t moduleIndex, uint8_t callTypes) {
  HostParamsList* list = HostParamsList::Create();
  list->SetText("COMMAND", command);
  for (const auto& p : params) list->Set(p.first, p.second);
  if (!list->Find("RESULT")) list->Set("RESULT", HostValue());
  IkelParamsListA* intf = list->Intf();
  TPluginCallRec rec = NewCallRec();
  rec.Instance = handle_;
  rec.ModuleIndex = moduleIndex;
  rec.CallTypes = callTypes;
  rec.Params = &intf;
  CommandResult out;
  out.code = x_.ExecutePluginCommand(&rec);
  if (const HostItem* r = list->Find("RESULT")) out.result = r->value;
  list->Release();
  return out;
}

int32_t HostSession::ProcessData(uint8_t callTypes, const void* data, uint32_t size, int32_t dataSourceId,
                                 TPluginCallRec* out, ParsedRecord* delivered, const std::string& peerAddress) {
  HostParamsList* list = HostParamsList::Create();
  IkelParamsListA* intf = list->Intf();
  TPluginCallRec rec = NewCallRec();
  rec.Instance = handle_;
  rec.DataSourceId = dataSourceId;
  rec.CallTypes = callTypes;
  rec.Params = &intf;
  std::memcpy(rec.PeerAddress, peerAddress.data(), std::min(peerAddress.size(), sizeof rec.PeerAddress - 1));
  if (data) {
    rec.Input.Kind = KEL_KIND_BUFFER;
    rec.Input.Size = size;
    rec.Input.Value = reinterpret_cast<uintptr_t>(data);
  }
  HostParamsList* output = HostParamsList::Create();
  IkelParamsListA* outputIntf = output->Intf();
  rec.Output.Kind = KEL_KIND_LIST_INTF;
  rec.Output.Value = reinterpret_cast<uintptr_t>(&outputIntf);
  int32_t r = x_.ProcessData(&rec);
  if (delivered) {
    *delivered = ParsedRecord();
    delivered->items = ReadList(outputIntf);
  }
  // Any other buffer in Input now is a block the module allocated for us.
  if (rec.Input.Kind == KEL_KIND_BUFFER && rec.Input.Value != 0 &&
      rec.Input.Value != reinterpret_cast<uintptr_t>(data)) {
    void* block = reinterpret_cast<void*>(rec.Input.Value);
    if (delivered) delivered->rawText.assign(static_cast<const char*>(block), rec.Input.Size);
    FreeModuleBlock(block);
    rec.Input.Value = 0;
  }
  if (out) *out = rec;
  output->Release();
  list->Release();
  return r;
}

std::string HostSession::DrainLog() {
  // Ask with a one-byte buffer for the length, then again with a buffer of
  // that length.  Lines added between the two calls make the second one too
  // small: the module keeps them and reports the new length, so ask again.
  std::vector<char> buf(1);
  for (int attempt = 0; attempt < 8; ++attempt) {
    TPluginCallRec rec = NewCallRec();
    rec.Instance = handle_;
    rec.Input.Kind = KEL_KIND_BUFFER;
    rec.Input.Size = static_cast<uint32_t>(buf.size());
    rec.Input.Value = reinterpret_cast<uintptr_t>(buf.data());
    int32_t n = x_.GetLogEx(&rec);
    if (n > 0) return std::string(buf.data(), static_cast<size_t>(n));
    const auto need = static_cast<uint32_t>(rec.Output.Value);
    if (need == 0 || need <= buf.size()) return {};
    buf.assign(need, 0);
  }
  return {};
}

}  // namespace host
