// One plug-in instance as the host drives it: creation, commands through
// the host's own parameter lists, the module information and the log.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host_params.h"
#include "parsed_records.h"
#include "plugin_library.h"

namespace host {

struct ModuleInfo {
  uint32_t moduleType = 0;
  uint32_t frameworkVersion = 0;
  float moduleVersion = 0;
  uint8_t infoFlag = 0;
  std::string description;  // UTF-8
  std::string commands;     // UTF-8
  uint32_t neededSize = 0;
};

struct CommandResult {
  int32_t code = 0;
  HostValue result;  // the "RESULT" item after the call
};

class HostSession {
 public:
  explicit HostSession(const PluginExports& exports) : x_(exports) {}
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Creates the instance; the result of CreatePluginInstance.
  int32_t Create();
  int32_t Free();
  uint32_t Handle() const { return handle_; }

  // Two-call negotiation of the module information.
  bool GetModuleInfo(ModuleInfo* info);

  // Sends a command with the given parameters (UTF-8 texts or integers) and
  // a "RESULT" item for the answer.
  CommandResult Command(const std::string& command,
                        const std::vector<std::pair<std::string, HostValue>>& params = {},
                        int32_t moduleIndex = 1, uint8_t callTypes = 0);

  // Hands a frame to the module (kind 4, or no input when data is null) with
  // an empty parameter list and an empty output list (kind 9).  *out
  // receives the record after the call.  What the module delivered goes to
  // *delivered: the output list's items, and the raw text of a block handed
  // back in Input, which belongs to the host and is freed here
  // (out->Input.Value is then 0).  peerAddress ("address:port", at most 49
  // characters; longer text is cut) goes into PeerAddress.
  int32_t ProcessData(uint8_t callTypes, const void* data, uint32_t size, int32_t dataSourceId = 1,
                      TPluginCallRec* out = nullptr, ParsedRecord* delivered = nullptr,
                      const std::string& peerAddress = std::string());

  // Drains the module log (two-call negotiation); the raw text with its
  // level characters.
  std::string DrainLog();

 private:
  PluginExports x_;
  uint32_t handle_ = 0;
};

HostValue Text(const std::string& utf8);
HostValue Int(int64_t v);
HostValue Int64(int64_t v);  // a pointer-sized value ("HANDLE")

}  // namespace host
