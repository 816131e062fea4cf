#include "params/thread_params_list.h"

namespace kel {

TkelThreadParamsList::TkelThreadParamsList() { SetProtected(&list_); }

TkelThreadParamsList::~TkelThreadParamsList() {
  // Wait for any user still inside before the list goes.
  WriteGuard g(Sync());
  list_.Clear();
}

}  // namespace kel
