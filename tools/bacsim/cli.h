// bacsim's command line.
#pragma once

#include <string>
#include <string_view>

#include "building.h"
#include "config.h"
#include "responder.h"
#include "server.h"

namespace bacsim {

struct CliOptions {
  bool help = false;
  std::string configPath;
  ParseDefaults defaults;
  GenerateSpec generate;
  bool generateGiven = false;
  std::string broadcast;  // empty: from the file or the default; "none": no broadcast socket
  bool allowNonLoopback = false;
  ResponderOptions responder;
  ServerOptions server;
};

extern const char kUsage[];

// Fails with a one-line message for an unknown option or a bad value.
bool ParseCommandLine(int argc, const char* const* argv, CliOptions& out, std::string& error);
// The building to serve: the file (text, when a file was named), else the
// built-in one unless devices are generated; then generated devices; then
// validated.
bool MakeBuilding(const CliOptions& cli, std::string_view fileText, Building& out, std::string& error);

}  // namespace bacsim
