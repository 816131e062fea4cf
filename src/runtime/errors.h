// Failures inside the module are raised as these and caught where they must
// stop: at an export (a return code) or in an interface method (a failure
// status).
#pragma once

#include <stdexcept>
#include <string>

namespace kel {

// A failure of the framework's own making.
class EkelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A broken precondition: a foreign or destroyed list, an undefined parameter.
class EAssertion : public std::logic_error {
 public:
  explicit EAssertion(const std::string& message = "Assertion failure")
      : std::logic_error(message) {}
};

// An index outside the list.
class EListError : public std::out_of_range {
 public:
  explicit EListError(const std::string& message) : std::out_of_range(message) {}
};

// An interface call that answered with a failure status.
class EIntfCallFailed : public std::runtime_error {
 public:
  explicit EIntfCallFailed(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kel
