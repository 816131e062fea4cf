// The instance log: lines waiting for the host to fetch them.
#pragma once

#include <cstdint>
#include <string>

#include "bacnetip/plugin_abi.h"
#include "runtime/thread_object.h"

namespace kel {

class TLogDataList : public TThreadStringList {
 public:
  explicit TLogDataList(int32_t limit) : limit_(limit) {}
  int32_t Limit() const { return limit_; }
  // Appends one line, dropping the oldest when the limit is reached.
  void AddLine(const std::string& line);
  // Hands the whole log (every line followed by CR LF) to the host buffer of
  // input.  *length is the text's length.  A zero capacity discards the log;
  // a buffer that is too small leaves it as it is.  Returns the bytes copied.
  int32_t Drain(const TPluginValue& input, uint32_t* length);

 private:
  int32_t limit_;
};

}  // namespace kel
