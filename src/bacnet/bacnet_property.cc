#include "bacnet/bacnet_property.h"

#include "bacnet/bacnet_enums.h"
#include "bacnet/bacnet_errors.h"

namespace bacnet {

void TProperty::Clear() {
  ErrorClass = kErrorClassDevice;
  ErrorCode = 0;
  Tag = 0;
  PduType = 0;
}

std::string TProperty::ErrorText() const {
  const std::string cls = ErrorClassName(ErrorClass);
  std::string code;
  if (PduType == kPduReject)
    code = RejectReasonText(ErrorCode);
  else if (PduType == kPduAbort)
    code = AbortReasonText(ErrorCode);
  else
    code = ErrorCodeText(ErrorCode);
  if (cls.empty()) return code;
  if (code.empty()) return cls;
  return cls + ", " + code;
}

}  // namespace bacnet
