#include "cli.h"

#include <charconv>
#include <cmath>

namespace bacsim {

const char kUsage[] =
    "usage: bacsim [options]\n"
    "A BACnet/IP device simulator: devices on loopback addresses answering Who-Is, ReadProperty\n"
    "and ReadPropertyMultiple.\n"
    "\n"
    "  --config FILE          building file (JSON); without one, two devices at 127.0.0.2 and 127.0.0.3\n"
    "  --devices N            generate N devices on consecutive addresses from --first-address\n"
    "  --routed N             generate N devices behind one router (station addresses of 1, 2, 6 octets)\n"
    "  --first-address A      first address of generated devices (default 127.0.0.2)\n"
    "  --first-instance N     first device instance of generated devices (default 100000)\n"
    "  --router A             router of generated routed devices (default 127.0.0.254)\n"
    "  --network N            network of generated routed devices (default 5)\n"
    "  --port P               port of addresses given without one (default 47808; wins over the file's)\n"
    "  --broadcast A[:P]|none the simulated subnet's broadcast address (default 127.0.0.255,\n"
    "                         127.0.255.255 when generated devices leave 127.0.0.x)\n"
    "  --delay MS             every answer leaves MS milliseconds late\n"
    "  --drop-every N         every Nth confirmed request to a device gets no answer\n"
    "  --error-every N        every Nth confirmed request to a device gets an Error (device, device-busy)\n"
    "  --max-concurrent K     a device serves at most K requests at once (with --delay); beyond that\n"
    "                         it answers Abort out-of-resources, or drops them with --busy drop\n"
    "  --busy abort|drop      what --max-concurrent does with a request beyond the limit (default abort)\n"
    "  --cov-confirmed        COV notifications go out confirmed (resent until their Simple-ACK)\n"
    "  --cov-refuse           SubscribeCOV is answered with an Error (services, cov-subscription-failed)\n"
    "  --cov-drop-every N     every Nth COV notification of a device is not sent\n"
    "  --iam-to sender|broadcast  where I-Am goes (default: the Who-Is sender)\n"
    "  --iam-spread MS        spread the I-Ams answering one Who-Is over MS milliseconds\n"
    "  --lenient-broadcast    also answer an Original-Unicast-NPDU sent to the broadcast address\n"
    "  --bbmd-nak             the BBMDs refuse every foreign-device registration (result 0x0030)\n"
    "                         (dropped by default, as real devices do)\n"
    "  --max-apdu N           the maximum APDU length the devices announce and keep to (50..1476,\n"
    "                         default 1476)\n"
    "  --no-rpm               the devices reject ReadPropertyMultiple (unrecognized service)\n"
    "  --abort-longer-than N  answers longer than N octets are aborted (segmentation not supported)\n"
    "  --static               present values stay those at start\n"
    "  --max-seconds S        stop after S seconds\n"
    "  --quiet                no line per request\n"
    "  --verbose              also a line for every datagram that is ignored\n"
    "  --allow-non-loopback   allow addresses outside 127.0.0.0/8\n"
    "  --help                 this text\n"
    "\n"
    "Prints \"ready ...\" once every socket is bound, one line per answered request, and \"stop ...\" at the end.\n"
    "Stops on SIGTERM and SIGINT. Bad options or a bind failure: one line on stderr, exit status 2.\n";

namespace {

bool Unsigned(std::string_view text, uint64_t max, uint64_t& v) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && v <= max;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, CliOptions& out, std::string& error) {
  CliOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string_view& v) {
      if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return false;
      }
      v = argv[++i];
      return true;
    };
    auto number = [&](uint64_t max, uint64_t& v) {
      std::string_view t;
      if (!value(t)) return false;
      if (!Unsigned(t, max, v)) {
        error = std::string(arg) + ": \"" + std::string(t) + "\" is not a number from 0 to " + std::to_string(max);
        return false;
      }
      return true;
    };
    auto address = [&](Endpoint& e) {
      std::string_view t;
      if (!value(t)) return false;
      auto ep = ParseEndpoint(t, e.port);
      if (!ep) {
        error = std::string(arg) + ": \"" + std::string(t) + "\" is not an IPv4 address[:port]";
        return false;
      }
      e = *ep;
      return true;
    };
    uint64_t n = 0;
    std::string_view t;
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--config") {
      if (!value(t)) return false;
      o.configPath = t;
    } else if (arg == "--devices") {
      if (!number(100000, n)) return false;
      o.generate.local = static_cast<uint32_t>(n);
      o.generateGiven = true;
    } else if (arg == "--routed") {
      if (!number(65535, n)) return false;
      o.generate.routed = static_cast<uint32_t>(n);
      o.generateGiven = true;
    } else if (arg == "--first-address") {
      if (!address(o.generate.firstAddress)) return false;
    } else if (arg == "--first-instance") {
      if (!number(kMaxInstance, n)) return false;
      o.generate.firstInstance = static_cast<uint32_t>(n);
    } else if (arg == "--router") {
      if (!address(o.generate.router)) return false;
    } else if (arg == "--network") {
      if (!number(65534, n)) return false;
      if (n == 0) {
        error = "--network must be 1 to 65534";
        return false;
      }
      o.generate.network = static_cast<uint16_t>(n);
    } else if (arg == "--port") {
      if (!number(65535, n)) return false;
      o.defaults.port = static_cast<uint16_t>(n);
      o.defaults.portGiven = true;
    } else if (arg == "--broadcast") {
      if (!value(t)) return false;
      o.broadcast = t;
    } else if (arg == "--max-apdu") {
      if (!number(kMaxApdu, n)) return false;
      if (n < 50) {
        error = "--max-apdu must be at least 50";
        return false;
      }
      o.defaults.maxApdu = static_cast<uint32_t>(n);
    } else if (arg == "--no-rpm") {
      o.defaults.readMultiple = false;
    } else if (arg == "--abort-longer-than") {
      if (!number(1000000, n)) return false;
      o.defaults.abortLongerThan = static_cast<uint32_t>(n);
    } else if (arg == "--delay") {
      if (!number(600000, n)) return false;
      o.defaults.delayMs = static_cast<uint32_t>(n);
    } else if (arg == "--drop-every") {
      if (!number(1000000000, n)) return false;
      o.defaults.dropEvery = static_cast<uint32_t>(n);
    } else if (arg == "--error-every") {
      if (!number(1000000000, n)) return false;
      o.defaults.errorEvery = static_cast<uint32_t>(n);
    } else if (arg == "--max-concurrent") {
      if (!number(1000000, n)) return false;
      o.defaults.maxConcurrent = static_cast<uint32_t>(n);
    } else if (arg == "--busy") {
      if (!value(t)) return false;
      if (t != "abort" && t != "drop") {
        error = "--busy takes abort or drop";
        return false;
      }
      o.defaults.busyDrop = t == "drop";
    } else if (arg == "--cov-confirmed") {
      o.defaults.covConfirmed = true;
    } else if (arg == "--cov-refuse") {
      o.defaults.covRefuse = true;
    } else if (arg == "--cov-drop-every") {
      if (!number(1000000000, n)) return false;
      o.defaults.covDropEvery = static_cast<uint32_t>(n);
    } else if (arg == "--iam-to") {
      if (!value(t)) return false;
      if (t != "sender" && t != "broadcast") {
        error = "--iam-to takes sender or broadcast";
        return false;
      }
      o.responder.iamBroadcast = t == "broadcast";
    } else if (arg == "--iam-spread") {
      if (!number(600000, n)) return false;
      o.responder.iamSpreadMs = static_cast<uint32_t>(n);
    } else if (arg == "--bbmd-nak") {
      o.responder.bbmdNak = true;
    } else if (arg == "--lenient-broadcast") {
      o.responder.lenientBroadcast = true;
    } else if (arg == "--static") {
      o.server.staticValues = true;
    } else if (arg == "--max-seconds") {
      if (!value(t)) return false;
      double s = 0;
      auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), s);
      if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(s) || s < 0 || s > 1e7) {
        error = "--max-seconds: \"" + std::string(t) + "\" is not a number of seconds";
        return false;
      }
      o.server.maxSeconds = s;
    } else if (arg == "--quiet") {
      o.server.quiet = true;
    } else if (arg == "--verbose") {
      o.responder.verbose = true;
    } else if (arg == "--allow-non-loopback") {
      o.allowNonLoopback = true;
    } else {
      error = "unknown option " + std::string(arg);
      return false;
    }
  }
  out = std::move(o);
  return true;
}

bool MakeBuilding(const CliOptions& cli, std::string_view fileText, Building& out, std::string& error) {
  Building b;
  if (!cli.configPath.empty()) {
    if (!ParseBuilding(fileText, cli.defaults, b, error)) {
      error = cli.configPath + ": " + error;
      return false;
    }
  } else if (!cli.generateGiven) {
    b = DefaultBuilding();
    for (auto& d : b.devices) {
      d.address.port = cli.defaults.port;
      ApplyServiceKnobs(cli.defaults, d.knobs);
      if (cli.defaults.delayMs) d.knobs.delayMs = *cli.defaults.delayMs;
      if (cli.defaults.dropEvery) d.knobs.dropEvery = *cli.defaults.dropEvery;
      if (cli.defaults.errorEvery) d.knobs.errorEvery = *cli.defaults.errorEvery;
      if (cli.defaults.maxConcurrent) d.knobs.maxConcurrent = *cli.defaults.maxConcurrent;
      if (cli.defaults.busyDrop) d.knobs.busyDrop = *cli.defaults.busyDrop;
      ApplyCovKnobs(cli.defaults, d.knobs);
    }
    b.broadcast.port = cli.defaults.port;
  } else {
    b.broadcast.port = cli.defaults.port;
  }
  if (cli.generateGiven) {
    GenerateSpec g = cli.generate;
    // Ports given with the addresses win; others take --port.
    if (g.firstAddress.port == kDefaultPort) g.firstAddress.port = cli.defaults.port;
    if (g.router.port == kDefaultPort) g.router.port = cli.defaults.port;
    const size_t before = b.devices.size();
    if (!Generate(b, g, error)) return false;
    for (size_t i = before; i < b.devices.size(); ++i) {
      Knobs& k = b.devices[i].knobs;
      ApplyServiceKnobs(cli.defaults, k);
      if (cli.defaults.delayMs) k.delayMs = *cli.defaults.delayMs;
      if (cli.defaults.dropEvery) k.dropEvery = *cli.defaults.dropEvery;
      if (cli.defaults.errorEvery) k.errorEvery = *cli.defaults.errorEvery;
      if (cli.defaults.maxConcurrent) k.maxConcurrent = *cli.defaults.maxConcurrent;
      if (cli.defaults.busyDrop) k.busyDrop = *cli.defaults.busyDrop;
      ApplyCovKnobs(cli.defaults, k);
    }
  }
  if (cli.broadcast == "none") {
    b.hasBroadcast = false;
  } else if (!cli.broadcast.empty()) {
    auto ep = ParseEndpoint(cli.broadcast, cli.defaults.port);
    if (!ep) {
      error = "--broadcast: \"" + cli.broadcast + "\" is not an IPv4 address[:port]";
      return false;
    }
    b.broadcast = *ep;
    b.hasBroadcast = true;
  }
  if (!Validate(b, cli.allowNonLoopback, error)) return false;
  out = std::move(b);
  return true;
}

}  // namespace bacsim
