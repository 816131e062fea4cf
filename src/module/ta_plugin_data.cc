// The data module's received-frame and event handlers.
#include <cstring>
#include <string>
#include <vector>

#include "bacnet/bacnet_enums.h"
#include "framework/call_rec.h"
#include "framework/instance_registry.h"
#include "module/resources/module_resources.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "platform/port.h"
#include "runtime/text/text_utils.h"

namespace bacnet_module {

namespace {

// Largest frame taken from the host: a UDP datagram.
constexpr uint32_t kMaxFrameSize = 65535;
// Frames up to this size are read into the call's own stack.
constexpr uint32_t kInlineFrameSize = 1536;

// "address:port" as the host reports the sender; a port that is not a
// number gives the BACnet/IP port.
void SplitPeerAddress(std::string_view peer, std::string& address, uint16_t& port) {
  const size_t colon = peer.find(':');
  address = std::string(peer.substr(0, colon));
  port = bacnet::kBacnetIpPort;
  if (colon == std::string_view::npos) return;
  std::string_view rest = peer.substr(colon + 1);
  const size_t next = rest.find(':');
  if (next != std::string_view::npos) rest = rest.substr(0, next);
  const int32_t v = kel::StrToIntDef(kel::TrimView(rest), -1);
  if (v >= 0 && v <= 0xFFFF) port = static_cast<uint16_t>(v);
}

}  // namespace

int32_t TaPlugin::kelPluginProcessData(TPluginCallRec* rec) {
  // The framework holds the read side of SettingsLock for the whole call.
  if (!Config) return -1;
  if (Unloaded || !rec) return 0;
  TSerialPortDM* module = FindPortModule(rec->DataSourceId);
  if (!module || !kel::HasModuleType(rec->CallTypes, kTypeReceiving) || !TypeEnabled[kTypeReceiving]) return 0;
  try {
    const uint32_t size = rec->Input.Size;
    if (size == 0 || size > kMaxFrameSize || rec->Input.Value == 0) return 0;
    // The host's buffer is read only where it can be read, once: mostly
    // the framework read it with the record's lists already.  A frame of
    // an Ethernet packet's size needs no block of its own.
    uint32_t readSize = 0;
    const uint8_t* frame = kel::RunningCallInput(rec->Input, readSize);
    uint8_t inlineFrame[kInlineFrameSize];
    std::vector<uint8_t> large;
    if (!frame) {
      uint8_t* into = inlineFrame;
      if (size > kInlineFrameSize) {
        large.resize(size);
        into = large.data();
      }
      if (!port::SafeRead(reinterpret_cast<const void*>(rec->Input.Value), into, size)) return 0;
      frame = into;
    }
    const char* peer = rec->PeerAddress;
    std::string address;
    uint16_t port = 0;
    SplitPeerAddress(std::string_view(peer, strnlen(peer, sizeof rec->PeerAddress)), address, port);
    module->Stack.Inbound.Push(
        std::make_unique<bacnet::TBacDataItem>(frame, static_cast<int32_t>(size), std::move(address), port));
    kel::TParsedDataList list;
    if (module->ProcessResponse(list) > 0) DeliverParsedData(rec, list, list.FullPacket, true, true);
  } catch (...) {
    // the frame is lost; the host hears of nothing
  }
  return 0;
}

std::string DataTypeListText() {
  static constexpr uint16_t kTypes[] = {
      bacnet::kObjectAnalogInput,      bacnet::kObjectAnalogOutput,     bacnet::kObjectAnalogValue,
      bacnet::kObjectBinaryInput,      bacnet::kObjectBinaryOutput,     bacnet::kObjectBinaryValue,
      bacnet::kObjectMultiStateInput,  bacnet::kObjectMultiStateOutput, bacnet::kObjectMultiStateValue,
      bacnet::kObjectNotificationClass,
  };
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (uint16_t t : kTypes) {
    if (!text.empty()) text += "||";
    text += bacnet::ObjectTypeName(t);
    text += "==D";
    text += kHex[(t >> 4) & 0xF];
    text += kHex[t & 0xF];
  }
  return text;
}

int32_t TaPlugin::kelPluginEvent(const std::string& event, TPluginCallRec* rec) {
  if (event == "GetDataTypeList") {
    kel::ParamsRef params = kel::CallRecParams(rec);
    if (params) params.SetValue("RESULT", kel::Variant(DataTypeListText()), true);
  } else if (event == "PORT-OPEN") {
    if (TypeEnabled[kTypePolling]) {
      std::vector<TSerialPortDM*> modules;
      {
        kel::ReadGuard g(SettingsLock);
        modules = PortModules();
      }
      for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
        (*it)->ResetRequested = true;
        (*it)->UpdateTimer();
      }
    }
  }
  return 0;
}

void RegisterModuleClass() {
  RegisterModuleResources();
  kel::RegisterPluginClass(
      [](TPluginCallRec* rec, uint32_t moduleHandle) -> kel::TkelPlugin* { return new TaPlugin(rec, moduleHandle); });
}

}  // namespace bacnet_module
