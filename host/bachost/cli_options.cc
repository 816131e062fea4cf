#include "cli_options.h"

#include <charconv>
#include <cmath>
#include <set>
#include <string_view>

#include "address_text.h"

namespace host {

namespace {

// What a --poll (or the defaults before the first --poll) says; unset
// fields take the defaults, then the built-in values.
struct PollDraft {
  std::string address;
  uint16_t port = 47808;
  std::optional<std::string> instances;
  std::optional<std::vector<ItemSpec>> items;
  std::optional<IntervalSpec> interval;
  std::optional<uint32_t> timeoutMs;
  std::optional<bool> once;
  std::optional<bool> logOnChange;
  std::optional<std::string> caption;
};

bool HasControl(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

bool ParseDuration(std::string_view text, double* seconds) {
  double v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v) || v < 0 || v > 1e9)
    return false;
  *seconds = v;
  return true;
}

bool ParseCount(std::string_view text, uint64_t* n) {
  if (text.empty() || text.size() > 18) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v == 0) return false;
  *n = v;
  return true;
}

bool ParseSource(std::string_view text, SourceSpec* s, std::string* reason) {
  size_t at = text.rfind('@');
  if (at == std::string_view::npos) {
    *reason = "data source '" + std::string(text) + "' is not ID[:NAME]@ADDRESS[:PORT]";
    return false;
  }
  std::string_view head = text.substr(0, at);
  size_t colon = head.find(':');
  std::string_view id = head.substr(0, colon);
  uint64_t n = 0;
  if (!ParseCount(id, &n) || n > 2147483647u) {
    *reason = "data source id '" + std::string(id) + "' is not 1..2147483647";
    return false;
  }
  s->id = static_cast<int32_t>(n);
  s->name = colon == std::string_view::npos ? "UDP" + std::to_string(n) : std::string(head.substr(colon + 1));
  if (s->name.empty() || HasControl(s->name) || s->name.find(';') != std::string::npos) {
    *reason = "data source name '" + s->name + "' is empty or holds ';' or a control character";
    return false;
  }
  return ParseEndpoint(text.substr(at + 1), 47808, &s->bindAddress, &s->bindPort, reason);
}

bool ParseArguments(const std::vector<std::string>& args, HostOptions* options, std::string* error);

}  // namespace

PollSpec DefaultPoll() {
  PollSpec p;
  p.address = "127.0.0.2";
  p.port = 47808;
  p.instances = "1001";
  std::string unused;
  ParseItemList("AI:1,AV:1,BI:1", &p.items, &unused);
  p.interval = IntervalSpec{1, "S"};
  p.timeoutMs = 1500;
  return p;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

bool ParseCommandLine(const std::vector<std::string>& args, HostOptions* options, std::string* error) {
  // The reasons quote the arguments, which may hold anything.
  if (ParseArguments(args, options, error)) return true;
  *error = OneLine(*error);
  return false;
}

namespace {

// What the options have said so far.
struct ParseState {
  HostOptions o;
  PollDraft defaults;            // the per-request options given before the first --poll
  std::vector<PollDraft> polls;  // one per --poll
  bool perPollGiven = false;

  // The request the per-request options apply to.
  PollDraft& Current() { return polls.empty() ? defaults : polls.back(); }
};

// One option: its name (and short name), whether it takes a value, whether
// it belongs to a request, and what it does.  apply gives false with the
// reason in *error.
struct OptionSpec {
  std::string_view name;
  std::string_view shortName;
  bool takesValue;
  bool perPoll;
  bool (*apply)(ParseState& s, const std::string& value, std::string* error);
};

bool Fail(std::string* error, std::string reason) {
  *error = std::move(reason);
  return false;
}

bool SetMode(ParseState& s, RunMode mode) {
  s.o.mode = mode;
  return true;
}

// "--NAME: " + reason when parse fails.
template <class T, class Parse>
bool Parsed(std::string_view name, const std::string& value, T* out, std::string* error, Parse parse) {
  std::string reason;
  if (parse(value, out, &reason)) return true;
  return Fail(error, std::string(name) + ": " + reason);
}

// A non-empty value without control characters, or the reason.
bool PlainText(const std::string& value, const char* reason, std::string* error) {
  if (!value.empty() && !HasControl(value)) return true;
  return Fail(error, reason);
}

const OptionSpec kOptions[] = {
    {"--demo", "", false, false, [](ParseState& s, const std::string&, std::string*) {
       return SetMode(s, RunMode::Demo);
     }},
    {"--options", "", false, false, [](ParseState& s, const std::string&, std::string*) {
       return SetMode(s, RunMode::Options);
     }},
    {"--show-options", "", false, false, [](ParseState& s, const std::string&, std::string*) {
       return SetMode(s, RunMode::ShowOptions);
     }},
    {"--quiet", "-q", false, false, [](ParseState& s, const std::string&, std::string*) {
       s.o.quiet = true;
       return true;
     }},
    {"--once", "", false, true, [](ParseState& s, const std::string&, std::string*) {
       s.Current().once = true;
       return true;
     }},
    {"--plugin", "", true, false, [](ParseState& s, const std::string& value, std::string*) {
       s.o.plugin = value;
       return true;
     }},
    {"--ini", "", true, false, [](ParseState& s, const std::string& value, std::string*) {
       s.o.ini = value;
       return true;
     }},
    {"--language", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       if (!PlainText(value, "--language needs a language code", error)) return false;
       s.o.language = value;
       return true;
     }},
    {"--bind", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       SourceSpec src;
       std::string reason;
       if (!ParseEndpoint(value, 47808, &src.bindAddress, &src.bindPort, &reason))
         return Fail(error, "--bind: " + reason);
       src.id = static_cast<int32_t>(s.o.sources.size() + 1);
       src.name = "UDP" + std::to_string(src.id);
       s.o.sources.push_back(src);
       return true;
     }},
    {"--source", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       SourceSpec src;
       if (!Parsed("--source", value, &src, error, ParseSource)) return false;
       s.o.sources.push_back(src);
       return true;
     }},
    {"--config", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       if (value.empty()) return Fail(error, "--config needs a file name");
       s.o.configFile = value;
       return true;
     }},
    {"--poll", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       PollDraft d;
       std::string reason;
       if (!ParseEndpoint(value, 47808, &d.address, &d.port, &reason) || d.port == 0)
         return Fail(error, "--poll: " + (reason.empty() ? std::string("port 0 cannot be polled") : reason));
       s.polls.push_back(d);
       return true;
     }},
    {"--instance", "", true, true, [](ParseState& s, const std::string& value, std::string* error) {
       std::string list;
       if (!Parsed("--instance", value, &list, error, ParseDeviceInstances)) return false;
       s.Current().instances = list;
       return true;
     }},
    {"--items", "", true, true, [](ParseState& s, const std::string& value, std::string* error) {
       std::vector<ItemSpec> items;
       if (!Parsed("--items", value, &items, error, ParseItemList)) return false;
       s.Current().items = items;
       return true;
     }},
    {"--interval", "", true, true, [](ParseState& s, const std::string& value, std::string* error) {
       IntervalSpec iv;
       if (!Parsed("--interval", value, &iv, error, ParseInterval)) return false;
       s.Current().interval = iv;
       return true;
     }},
    {"--cov", "", true, true, [](ParseState& s, const std::string& value, std::string* error) {
       if (value != "on" && value != "off") return Fail(error, "--cov takes on or off");
       s.Current().logOnChange = value == "on";
       return true;
     }},
    {"--timeout", "", true, true, [](ParseState& s, const std::string& value, std::string* error) {
       uint32_t ms = 0;
       if (!Parsed("--timeout", value, &ms, error, ParseTimeout)) return false;
       s.Current().timeoutMs = ms;
       return true;
     }},
    {"--caption", "", true, true, [](ParseState& s, const std::string& value, std::string* error) {
       if (!PlainText(value, "--caption needs a text without control characters", error)) return false;
       s.Current().caption = value;
       return true;
     }},
    {"--device-properties", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       if (value != "on" && value != "off") return Fail(error, "--device-properties takes on or off");
       s.o.deviceProperties = value == "on";
       return true;
     }},
    {"--fresh-only", "", false, false, [](ParseState& s, const std::string&, std::string*) {
       s.o.freshOnly = true;
       return true;
     }},
    {"--pace", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       if (value != "fast" && value != "designed") return Fail(error, "--pace takes fast or designed");
       s.o.fastPace = value == "fast";
       return true;
     }},
    {"--in-flight", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       uint64_t n = 0;
       if (!ParseCount(value, &n) || n > 255) return Fail(error, "--in-flight takes a count of 1..255");
       s.o.inFlight = static_cast<uint32_t>(n);
       return true;
     }},
    {"--per-device", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       uint64_t n = 0;
       if (!ParseCount(value, &n) || n > 255) return Fail(error, "--per-device takes a count of 1..255");
       s.o.inFlightPerDevice = static_cast<uint32_t>(n);
       return true;
     }},
    {"--rpm", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       if (value != "on" && value != "off") return Fail(error, "--rpm takes on or off");
       s.o.readMultiple = value == "on";
       return true;
     }},
    {"--no-diagnosis", "", false, false, [](ParseState& s, const std::string&, std::string*) {
       s.o.diagnosis = false;
       return true;
     }},
    {"--bbmd", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       std::string reason;
       if (!ParseEndpoint(value, 47808, &s.o.bbmdAddress, &s.o.bbmdPort, &reason) || s.o.bbmdPort == 0)
         return Fail(error, "--bbmd: " + (reason.empty() ? std::string("port 0 cannot be reached") : reason));
       return true;
     }},
    {"--ttl", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       uint64_t n = 0;
       if (!ParseCount(value, &n) || n > 65535) return Fail(error, "--ttl takes seconds (1..65535)");
       s.o.ttlSeconds = static_cast<uint32_t>(n);
       return true;
     }},
    {"--status", "", false, false, [](ParseState& s, const std::string&, std::string*) {
       s.o.status = true;
       return true;
     }},
    {"--discover", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       std::string reason;
       if (!ParseEndpoint(value, 47808, &s.o.discoverAddress, &s.o.discoverPort, &reason) || s.o.discoverPort == 0)
         return Fail(error, "--discover: " + (reason.empty() ? std::string("port 0 cannot be reached") : reason));
       return true;
     }},
    {"--write-config", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       if (value.empty()) return Fail(error, "--write-config needs a file name");
       s.o.writeConfig = value;
       return true;
     }},
    {"--format", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       if (value == "csv") s.o.format = RecordFormat::Csv;
       else if (value == "jsonl") s.o.format = RecordFormat::Jsonl;
       else return Fail(error, "--format takes csv or jsonl");
       return true;
     }},
    {"--out", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       if (value.empty()) return Fail(error, "--out needs a file name");
       s.o.outFile = value;
       return true;
     }},
    {"--duration", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       double seconds = 0;
       if (!ParseDuration(value, &seconds)) return Fail(error, "--duration takes seconds (0 or more)");
       s.o.durationSeconds = seconds;
       return true;
     }},
    {"--records", "", true, false, [](ParseState& s, const std::string& value, std::string* error) {
       uint64_t n = 0;
       if (!ParseCount(value, &n)) return Fail(error, "--records takes a count of 1 or more");
       s.o.records = n;
       return true;
     }},
};

const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& spec : kOptions)
    if (name == spec.name || (!spec.shortName.empty() && name == spec.shortName)) return &spec;
  return nullptr;
}

// The checks across options, then the data sources and requests they make.
bool FinishOptions(ParseState& s, HostOptions* options, std::string* error) {
  HostOptions& o = s.o;
  if (!o.configFile.empty() && !s.polls.empty()) return Fail(error, "--config and --poll cannot be used together");
  if (!o.configFile.empty() && s.perPollGiven)
    return Fail(error,
                "--instance, --items, --interval, --timeout, --once, --cov and --caption belong to --poll requests");
  if (o.ttlSeconds != 0 && o.bbmdAddress.empty()) return Fail(error, "--ttl belongs to --bbmd");
  if (!o.bbmdAddress.empty() && o.ttlSeconds == 0) o.ttlSeconds = 300;
  if (!o.writeConfig.empty() && o.discoverAddress.empty()) return Fail(error, "--write-config belongs to --discover");
  if (!o.discoverAddress.empty()) {
    if (!o.configFile.empty() || !s.polls.empty() || s.perPollGiven)
      return Fail(error, "--discover makes its own request: no --config, --poll or request options");
    if (!o.durationSeconds) o.durationSeconds = 10;
    o.deviceProperties = true;
    // One request for every device at the endpoint; its item is read once,
    // after the device's properties.
    PollSpec p;
    p.caption = "Discover";
    p.address = o.discoverAddress;
    p.port = o.discoverPort;
    p.instances = "*";
    p.items = {ItemSpec{0, 0, "AI_0"}};
    p.once = true;
    o.polls.push_back(p);
    s.polls.clear();
    o.configFile.clear();
  }
  if (o.sources.empty()) o.sources.push_back(SourceSpec{1, "UDP1", "0.0.0.0", 47808});
  std::set<int32_t> ids;
  std::set<std::string> binds;
  for (const auto& src : o.sources) {
    if (!ids.insert(src.id).second) return Fail(error, "data source id " + std::to_string(src.id) + " is used twice");
    const std::string bound = EndpointText(src.bindAddress, src.bindPort);
    if (src.bindPort != 0 && !binds.insert(bound).second) return Fail(error, bound + " is bound twice");
  }
  if (o.configFile.empty() && o.discoverAddress.empty()) {
    const PollSpec builtin = DefaultPoll();
    if (s.polls.empty()) {
      PollDraft d;
      d.address = builtin.address;
      d.port = builtin.port;
      s.polls.push_back(d);
    }
    const PollDraft& defaults = s.defaults;
    for (const auto& d : s.polls) {
      PollSpec p;
      p.address = d.address;
      p.port = d.port;
      p.instances = d.instances.value_or(defaults.instances.value_or(builtin.instances));
      p.items = d.items.value_or(defaults.items.value_or(builtin.items));
      p.interval = d.interval.value_or(defaults.interval.value_or(builtin.interval));
      p.timeoutMs = d.timeoutMs.value_or(defaults.timeoutMs.value_or(builtin.timeoutMs));
      p.once = d.once.value_or(defaults.once.value_or(false));
      p.logOnChange = d.logOnChange.value_or(defaults.logOnChange.value_or(false));
      p.caption = d.caption.value_or(defaults.caption.value_or(""));
      o.polls.push_back(p);
    }
  }
  *options = std::move(o);
  return true;
}

bool ParseArguments(const std::vector<std::string>& args, HostOptions* options, std::string* error) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") {
      HostOptions help;
      help.mode = RunMode::Help;
      *options = help;
      return true;
    }
  ParseState s;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;  // "--name=value"
    if (name.rfind("--", 0) == 0) {
      const size_t eq = name.find('=');
      if (eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name.resize(eq);
      }
    }
    const OptionSpec* spec = FindOption(name);
    if (!spec) return Fail(error, "unknown option '" + args[i] + "'");
    std::string value;
    if (!spec->takesValue) {
      if (inlineValue) return Fail(error, name + " takes no value");
    } else if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return Fail(error, name + " needs a value");
    }
    if (!spec->apply(s, value, error)) return false;
    if (spec->perPoll) s.perPollGiven = true;
  }
  return FinishOptions(s, options, error);
}

}  // namespace

const char* UsageText() {
  return R"(usage: bachost [options]

A data logger for the bacnetip plug-in: it loads the plug-in, owns one UDP
socket per data source, hands the plug-in its request configuration, sends
the frames the plug-in asks it to send, passes every datagram received to the
plug-in and writes the records the plug-in delivers.

Plug-in and storage:
  --plugin PATH          the plug-in library (default: bacnetip.so beside bachost)
  --ini FILE             the INI file the plug-in reads its settings from; bachost
                         writes "Parser config" and "Read dev props" into its
                         [Common] section before LOAD and keeps the other lines
                         (default: a file of this run in the temporary folder,
                         removed at the end)
  --language CODE        the host's language (default: EN)

Data sources (each its own UDP socket with SO_BROADCAST; SO_REUSEADDR for a fixed port):
  --bind ADDR[:PORT]     a data source bound to ADDR:PORT (port 0: any free port);
                         repeatable, ids 1, 2, ... named UDP1, UDP2, ...
                         (default: one data source 1 on 0.0.0.0:47808)
  --source ID[:NAME]@ADDR[:PORT]
                         a data source with its own id and name; repeatable
  The request configuration is shared: the plug-in polls it on every source.

Request configuration (one of):
  --config FILE          the configuration XML (root MODBUSRTUQUERY) as the
                         options form writes it
  --poll ADDR[:PORT]     one request to a device endpoint (port default 47808);
                         repeatable.  The options below that follow a --poll
                         apply to it; given before the first --poll they are
                         the defaults of every request:
    --instance LIST      device instances, ";"- or ","-separated, or * (default 1001)
    --items LIST         TYPE:INSTANCE[=NAME],...  with TYPE one of AI AO AV BI BO
                         BV MSI MSO MSV NC; NAME defaults to TYPE_INSTANCE, e.g.
                         AI_1 (default: AI:1,AV:1,BI:1)
    --interval T         poll interval: 500ms, 1s, 2m, 1h, or milliseconds
                         (1..655350 of the unit; default 1s)
    --timeout T          answer time-out: milliseconds, or 2s (1..65535 ms;
                         default 1500)
    --once               read once instead of polling
    --cov on|off         "Log on change": subscribe to every item's changes
                         (lifetime 300 s, renewed at half of it) and read them
                         by a safety-net poll every ten intervals (at least
                         60 s); a device that refuses is polled (default off).
                         In a --config file: <LogOnChange>1</LogOnChange> in a
                         request, with <CovLifetime> and <SafetyNetPoll> (s)
    --caption TEXT       the request's description (default "Request #N")
  Without --config and --poll: --poll 127.0.0.2:47808 --instance 1001
  --items AI:1,AV:1,BI:1 --interval 1s.
  --device-properties on|off
                         read the basic device properties ("Read dev props";
                         default on)
  --fresh-only           "Deliver only fresh values" ("Fresh values only"):
                         a record carries only the values answered in the
                         cycle it closes, never one kept from before a
                         time-out or an Error answer (default off)
  --pace fast|designed   "Fast pace" ("Fast pace"): many requests in flight,
                         the next sent as soon as an answer frees a slot;
                         designed: one request per tick (default: as stored,
                         designed in a new INI file)
  --in-flight N          "Requests in flight" of the fast pace, 1..255
                         (default 16)
  --per-device N         "Requests in flight per device" of the fast pace,
                         1..255 (default 1)
  --rpm on|off           "Read a device's items with ReadPropertyMultiple"
                         ("Read multiple"): a group's items in as few
                         requests as the device takes (default: as stored,
                         off in a new INI file)
  --no-diagnosis         no explaining line after each "Request timeout"
                         ("Timeout diagnosis"; default on)
  --bbmd ADDR[:PORT]     register as a foreign device with the broadcast
                         manager at ADDR:PORT ("BBMD address", "BBMD port");
                         a broadcast Who-Is then goes through it
  --ttl S                the registration's time to live in seconds
                         ("BBMD TTL"; 1..65535, default 300 with --bbmd)

Finding devices:
  --discover ADDR[:PORT] find every device at that broadcast (or unicast)
                         address for --duration seconds (default 10), reading
                         their properties, and print a table of them at exit:
                         instance, address, route, vendor, model, object name,
                         firmware, round-trip time (no records are written)
  --write-config FILE    with --discover: a request configuration with one
                         request per device found (its address, instance and
                         object name as caption; no items yet) for --config
  --status               print the plug-in's DEVICE-STATUS at exit: one
                         "bachost: status ..." line per device asked

Records:
  --format csv|jsonl     record format (default jsonl)
                         jsonl: {"source":1,"via":"output","items":{"NAME":value,...}}
                           per line, items in delivery order, numbers and
                           booleans unquoted, texts and dates (ISO local time)
                           quoted, null for no value, a repeated name gets #2;
                           via is "output" (ProcessData) or "kind9" (sent later)
                         csv: a header "source,via,NAME,..." whenever the item
                           names change, then one line per record (RFC 4180)
  --out FILE             write records to FILE (default: standard output)
  --quiet, -q            leave only the records: no log lines, no status lines

Running:
  --duration S           stop after S seconds (decimal)
  --records N            stop after N records
  Otherwise bachost runs until SIGINT or SIGTERM.  It then sends UNLOAD, frees
  the instance, sends the shutdown code, unloads the plug-in and prints a
  summary line to standard error:
    bachost: summary frames-sent=N frames-received=N records=N values=N
      timeouts=N error-answers=N send-failures=N dropped=N
  (values: record items other than the standard ones; timeouts and
  error-answers counted from the plug-in's log).

Standard error carries the plug-in's log lines as "log[LEVEL] TEXT" (0 error,
1 warning, 2 information; "*" after the level marks a flagged line), one
"bachost: source ID NAME bound to ADDR:PORT" line per data source and
"bachost: ready" once LOAD and SET-STATE succeeded.

Other modes:
  --demo                 take one instance through its commands and exit
  --options              fetch the options form as a host does (GetOptionsDialog,
                         size first) and print its script, form name, map and
                         the form as text
  --show-options         call ShowOptionsDialog and report its status and the
                         settings-changed messages (1812) a second instance
                         with the same settings receives
  --help, -h             this text

Exit status: 0 after a normal stop; 1 when the plug-in cannot be loaded or
refuses LOAD or SET-STATE, or records cannot be written; 2 for a bad option,
an unreadable configuration or INI file, an output file that cannot be
opened or a data-source address that cannot be bound.
)";
}

}  // namespace host
