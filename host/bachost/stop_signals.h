// SIGINT and SIGTERM (console control events on Windows) as a request to
// stop: they set a flag and wake the event loop.  The POSIX version is
// stop_signals_posix.cc.
#pragma once

#include "wait_set.h"

namespace host {

class StopSignals {
 public:
  StopSignals() = default;
  // Puts the previous handlers back.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Installs the handlers; each signal then sets wake.  One instance at a time.
  bool Install(WakeupChannel* wake);
  bool Requested() const;

 private:
  bool installed_ = false;
};

}  // namespace host
