// The instance log: lines waiting for the host to fetch them.
//
// Each line is one level character followed by its text.  A line equal to
// the last one is not stored again: the last line counts its repeats, and
// " x" and the number of occurrences are written onto it once a different
// line follows or the log is read.  The count is reset once the suffix has
// been written, so a line never gets the suffix twice.  The log keeps at most
// Limit() lines, dropping the oldest (O(1): the store is a deque).
#pragma once

#include <cstdint>
#include <string>

#include "runtime/thread_object.h"

namespace kel {

class TLogDataList : public TThreadStringList {
 public:
  explicit TLogDataList(int32_t limit) : limit_(limit) {}
  int32_t Limit() const { return limit_; }

  void AddLine(std::string line);

  // Hands the whole log to a host buffer, every line followed by CR LF.
  // *length receives the text's length.  A zero capacity discards the log; a
  // buffer that is too small (or null) leaves it as it is.  Returns the bytes
  // copied (0 unless the log was copied and emptied).
  int32_t Drain(void* buffer, uint32_t capacity, uint32_t* length);

  // Repeats counted on the last line (0: it occurred once).
  int32_t LastRepeatCount();

 private:
  void FlushRepeatSuffix(List& list) REQUIRES(this);

  int32_t limit_;
  int32_t lastRepeat_ GUARDED_BY(this) = 0;
};

}  // namespace kel
