// A UDP port of this run's own on the loopback addresses the tests use, so
// that two runs of the suite on one machine do not answer each other's
// requests.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// The first port from a start that depends on the process id on which
// every address in addresses can be bound without SO_REUSEADDR (so nobody,
// not even a simulator that shares its port on purpose, has it).  Empty
// when none is found.
std::string FreeUdpPort(const std::vector<std::string>& addresses);

}  // namespace e2e
