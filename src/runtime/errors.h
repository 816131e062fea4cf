// Failures inside the framework are raised as these and caught at the export.
#pragma once

#include <stdexcept>
#include <string>

namespace kel {

class EkelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A broken internal assumption ("Assertion failure" and the like).
class EAssertionFailed : public EkelError {
 public:
  using EkelError::EkelError;
};

}  // namespace kel
