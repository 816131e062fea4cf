// A parameter list shared between threads: readers take the read side of the
// lock to look, writers the write side to change.
#pragma once

#include "params/params_list.h"
#include "runtime/thread_object.h"

namespace kel {

class TkelThreadParamsList : public TThreadObject {
 public:
  TkelThreadParamsList();
  ~TkelThreadParamsList() override;

  TkelParamsList& LockRead() ACQUIRE_SHARED() { return *static_cast<TkelParamsList*>(LockReadObject()); }
  TkelParamsList& LockWrite() ACQUIRE() { return *static_cast<TkelParamsList*>(LockWriteObject()); }
  // UnlockRead and UnlockWrite come from TThreadObject.

 private:
  TkelParamsList list_ GUARDED_BY(this);
};

}  // namespace kel
