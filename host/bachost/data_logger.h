// The data logger: one run of bachost with a plug-in instance, its data
// sources and its records.
//
// Threads: the loop runs on the calling thread.  It waits (bounded) on the
// data sources' sockets, the notification channel and a wake-up channel;
// it passes every datagram to ProcessData, drains the module log on
// message 1809 (counting it and 1812) and writes every record.  The module
// calls DataLogger_SendDataEx from its timer: its own threads on POSIX; on
// Windows its window timers, which tick on the loop's thread because the loop
// sends SET-STATE and its wait dispatches window messages: kind 129 is sent at once
// on the data source's socket (thread-safe), a kind-9 record is copied into
// a queue and the loop is woken to write it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "cli_options.h"

namespace host {

struct RunSummary {
  uint64_t framesSent = 0;
  uint64_t framesReceived = 0;
  uint64_t records = 0;
  uint64_t values = 0;
  uint64_t timeouts = 0;
  uint64_t errorAnswers = 0;
  uint64_t sendFailures = 0;
  uint64_t dropped = 0;  // kind-9 records beyond the queue's bound or the --records limit
  uint64_t logMessages = 0;      // message 1809 arrivals at the notification target
  uint64_t settingsChanged = 0;  // message 1812 arrivals
};

std::string SummaryLine(const RunSummary& s);

class DataLogger {
 public:
  explicit DataLogger(HostOptions options) : o_(std::move(options)) {}

  // The whole run; the process exit status (0, 1 or 2).  Records go to
  // records (or --out), status and log lines to diagnostics.
  int Run(std::FILE* records, std::FILE* diagnostics);

  // Milliseconds of a steady clock; tests may put in their own.
  std::function<uint64_t()> now;

  const RunSummary& Summary() const { return summary_; }

 private:
  HostOptions o_;
  RunSummary summary_;
};

// The plug-in beside the running program.
std::string DefaultPluginPath();

}  // namespace host
