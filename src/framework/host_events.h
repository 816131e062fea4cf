// The names of the events a host sends with the EVENT command.  An event
// reaches the module as its name; the framework never looks the table up.
#pragma once

#include <array>
#include <string_view>

namespace kel {

// In the host's order; position 11 has no name.  "USER-LOGOOF" is spelled as
// the host spells it.
inline constexpr std::array<std::string_view, 13> kHostEventNames = {
    "LOG-MESSAGE", "NEW-LOG-FILE", "LOG-FILE-DELETE", "NEW-DATA-PACKET", "ERROR-WRITE-FILE",
    "PORT-OPEN",   "PORT-CLOSE",   "CONFIG-CHANGE",   "USER-LOGOOF",     "USER-LOGON",
    "STOP-SERVICE", "",            "DUMMY"};

}  // namespace kel
