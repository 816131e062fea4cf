// bachost as a child process of a test: its standard output and error read
// without blocking, every wait bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/text_lines.h"

namespace testhost {

class HostProcess {
 public:
  explicit HostProcess(const std::vector<std::string>& args);
  // Kills a child that is still running.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Reads until standard error holds a line that starts with prefix; the
  // whole line, or empty when the bound passed or the child closed it first.
  std::string WaitForErrLine(const std::string& prefix,
                             std::chrono::milliseconds bound = std::chrono::seconds(20));
  // Reads both outputs to their end and reaps the child; its exit status,
  // or -1 when it did not end within the bound (it is then killed), or
  // 128 + the signal that ended it.
  int Wait(std::chrono::milliseconds bound = std::chrono::seconds(20));
  void Signal(int sig);

  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }

 private:
  // Reads what is available, waiting at most ms; false when both ends closed.
  bool Pump(int ms);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string out_;
  std::string err_;
  size_t errScanned_ = 0;
};

using testutil::Lines;

}  // namespace testhost
