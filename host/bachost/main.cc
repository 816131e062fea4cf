// bachost: the reference data logger for the plug-in.  It owns the UDP
// sockets of its data sources, hands the plug-in its request configuration
// through the plug-in's settings, sends what the plug-in asks it to send,
// passes every datagram received to ProcessData and writes the records.
// See --help (cli_options.cc) for the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_options.h"
#include "config_files.h"
#include "data_logger.h"
#include "demo.h"
#include "host_entry_points.h"
#include "options_run.h"
#include "process.h"

int main(int argc, char** argv) {
  host::LinkEntryPoints();
  std::vector<std::string> args = host::Utf8Arguments(argc, argv);
  host::HostOptions options;
  std::string error;
  if (!host::ParseCommandLine(args, &options, &error)) {
    std::fprintf(stderr, "bachost: %s (see bachost --help)\n", error.c_str());
    return 2;
  }
  switch (options.mode) {
    case host::RunMode::Help:
      std::fputs(host::UsageText(), stdout);
      return 0;
    case host::RunMode::Options:
    case host::RunMode::ShowOptions: {
      const bool ownIni = options.ini.empty();
      const std::string ini = ownIni ? host::DefaultIniPath() : options.ini;
      int rc = host::RunOptions(options.plugin.empty() ? host::DefaultPluginPath() : options.plugin, ini,
                                options.language, options.mode == host::RunMode::ShowOptions);
      if (ownIni) std::remove(ini.c_str());
      return rc;
    }
    case host::RunMode::Demo: {
      const bool ownIni = options.ini.empty();
      const std::string ini = ownIni ? host::DefaultIniPath() : options.ini;
      int rc = host::RunDemo(options.plugin.empty() ? host::DefaultPluginPath() : options.plugin, ini,
                             options.language);
      if (ownIni) std::remove(ini.c_str());
      return rc;
    }
    case host::RunMode::Log:
      break;
  }
  host::DataLogger logger(std::move(options));
  return logger.Run(stdout, stderr);
}
