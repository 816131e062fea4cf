#!/usr/bin/env python3
"""Whole-system figures over loopback UDP (not part of the test run).

    python3 bench/e2e/e2e_bench.py [BUILD_DIR [CASE...]]   (default build/release, every case;
                                                           CASE: pace cpu-1000 cpu-idle sources-500
                                                           discovery flood fast fast-discovery rpm cov)

  pace        requests per second of one data source polling a device that
              answers at once (the tick allows 20)
  cpu-1000    CPU of the bachost process polling 1000 points at that pace
  cpu-idle    CPU of the bachost process with 1000 enabled points that are
              not due: measured over 10 s once every point has been polled
              (its interval is an hour)
  sources-500 500 data sources in one bachost, each polling one point at the
              designed pace: the process's threads (most seen) and CPU
  discovery   1000 simulated devices answering one Who-Is: seconds from the
              start to the first record of every device, and bachost's own
              peak memory
  flood-*     100,000 I-Ams of ever new devices (tools/iamflood: 250 source
              addresses, half from stations behind a router) against a logger
              that polls one configured device (every I-Am dropped) and one
              with a pattern "*" on the flooded network (devices kept up to
              the table's 100,000): the bachost process's CPU and peak RSS,
              and the frames its socket took in

  fast        points per second of one data source, side by side: the
              designed pace, the fast pace against one device, against 100
              devices (16 in flight, 1 per device) and against 100 devices
              that answer after 20 ms; and tools/seqclient (one request after
              the other, nothing of the module's code) against the same
              device as the anchor, with the ratios to it
  fast-discovery  the discovery case at the fast pace
  rpm         100 devices with 20 points each at the fast pace, read with
              ReadProperty and with ReadPropertyMultiple (--rpm on), without
              latency and with 20 ms per answer: points per second, frames
              per point and bachost's CPU per point, as ratios to
              ReadProperty's

  cov         log on change against polling, side by side: 1000 binary points
              on 10 devices, each toggling every 5..15 s (10 s on average),
              logged for COV_SECONDS (default 60) by polling every 1 s and by
              log on change (both at the fast pace, 64 in flight, 8 per
              device): frames on the wire (sent + received by bachost),
              records, changes caught (a record with the new value within
              1 s of the change, the simulator's own schedule) and bachost's
              CPU

Every figure is bachost's own (CPU from wait4, threads and peak RSS sampled
from /proc of that process; the flood cases take the peak RSS from wait4,
which also counts what the forking Python had), never the simulator's.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
cases = set(sys.argv[2:])


def wanted(case):
    return not cases or case in cases
root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
bachost = os.path.join(build, "bachost")
bacsim = os.path.join(build, "tools", "bacsim", "bacsim")
iamflood = os.path.join(build, "tools", "iamflood", "iamflood")
seqclient = os.path.join(build, "tools", "seqclient", "seqclient")
PORT = "47910"


def start_sim(*args):
    p = subprocess.Popen([bacsim, "--port", PORT, "--quiet", "--max-seconds", "600", *args],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    for line in p.stdout:
        if line.startswith("ready"):
            return p
    raise SystemExit("bacsim did not start")


def stop(p):
    p.send_signal(signal.SIGTERM)
    p.wait(timeout=30)


class Probe:
    """Samples a running process through /proc: CPU seconds, threads, peak RSS."""

    def __init__(self, pid):
        self.pid = pid
        self.tick = os.sysconf("SC_CLK_TCK")
        self.threads = 0
        self.peak_kb = 0

    def cpu(self):
        try:
            with open(f"/proc/{self.pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / self.tick  # utime, stime
        except (OSError, IndexError, ValueError):
            return None

    def sample(self):
        try:
            with open(f"/proc/{self.pid}/status") as f:
                for line in f:
                    if line.startswith("Threads:"):
                        self.threads = max(self.threads, int(line.split()[1]))
                    elif line.startswith("VmHWM:"):  # the high-water mark since exec
                        self.peak_kb = max(self.peak_kb, int(line.split()[1]))
        except OSError:
            pass


def run_host(args, on_line=None, on_start=None):
    """Runs bachost to its end: (summary dict, wall seconds, user+system CPU
    seconds, peak RSS kB, most threads seen), all of bachost alone.  The
    peak RSS is VmHWM as last sampled (wait4's ru_maxrss would carry the
    forking Python's over the exec)."""
    start = time.monotonic()
    p = subprocess.Popen([bachost, "--bind", "127.0.0.1:0", *args], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    probe = Probe(p.pid)
    done = threading.Event()

    def sampler():
        while not done.wait(0.2):
            probe.sample()
    watcher = threading.Thread(target=sampler, daemon=True)
    watcher.start()
    if on_start:
        on_start(probe)
    err_lines = []
    reader = threading.Thread(target=lambda: err_lines.extend(p.stderr), daemon=True)
    reader.start()
    for line in p.stdout:
        if on_line:
            on_line(line, time.monotonic() - start, probe)
    reader.join()
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    done.set()
    watcher.join()
    wall = time.monotonic() - start
    summary = {}
    for line in err_lines:
        if line.startswith("bachost: summary"):
            for field in line.split()[2:]:
                k, v = field.split("=")
                summary[k] = int(v)
    if not summary:
        raise SystemExit("bachost ended without a summary: " + "".join(err_lines)[-2000:])
    return summary, wall, usage.ru_utime + usage.ru_stime, probe.peak_kb, probe.threads


def items(n):
    return ",".join(f"AV:{i % 2}" if i % 3 else f"AI:{i % 2}" for i in range(n))


def flood(label, host_args, count, rate):
    """bachost with host_args takes count I-Ams at rate (0: full speed); prints its CPU and peak RSS."""
    p = subprocess.Popen([bachost, "--bind", "127.0.0.1:0", "--device-properties", "off", *host_args],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    lines, ready, port = [], threading.Event(), []
    def drain():
        for line in p.stderr:
            lines.append(line)
            if " bound to " in line:
                port.append(line.rsplit(":", 1)[1].strip())
            if line.startswith("bachost: ready"):
                ready.set()
    reader = threading.Thread(target=drain)
    reader.start()
    if not ready.wait(30):
        raise SystemExit("bachost did not start")
    f = subprocess.run([iamflood, "--to", f"127.0.0.1:{port[0]}", "--count", str(count), "--sources", "250",
                        "--router", "127.1.255.1", "--rate", str(rate)], capture_output=True, text=True, check=True)
    time.sleep(3)  # the logger works off what its socket still holds
    p.send_signal(signal.SIGINT)
    _, _, ru = os.wait4(p.pid, 0)
    p.returncode = 0
    reader.join()
    summary = next((l for l in lines if l.startswith("bachost: summary")), "")
    received = int(summary.split("frames-received=")[1].split()[0]) if summary else 0
    cpu = ru.ru_utime + ru.ru_stime
    full = sum("Device table full" in l for l in lines)
    print(f"{label}: {f.stdout.strip()}, {received} received; bachost {cpu:.2f} s CPU "
          f"({1e6 * cpu / max(received, 1):.1f} us per frame received), peak RSS {ru.ru_maxrss / 1024:.1f} MB, "
          f"{full} table-full warning(s)")


def config(interval_ms):
    """1000 requests of one item each (names made unique by the request's caption)."""
    x = "<MODBUSRTUQUERY>"
    for i in range(1000):
        x += (f"<Request caption=\"P{i}\"><Enabled>1</Enabled><EP>127.0.0.{2 + i % 2}:{PORT}</EP>"
              f"<Instance>{1001 + i % 2}</Instance><Timeout>1500</Timeout><MethodPoll>1</MethodPoll>"
              f"<PollInterval>{interval_ms}</PollInterval><Response><Item><Name>P{i}</Name>"
              f"<DataType>D0{i % 3}</DataType><Instance>{i % 2}</Instance></Item></Response></Request>")
    return x + "</MODBUSRTUQUERY>"


def with_config(text, run):
    cfg = tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False)
    try:
        cfg.write(text)
        cfg.close()
        return run(cfg.name)
    finally:
        os.unlink(cfg.name)


def case_pace():
    # One item, due at once after every answer.
    s, wall, cpu, _, _ = run_host(["--device-properties", "off", "--poll", f"127.0.0.2:{PORT}", "--instance",
                                   "1001", "--items", "AI:1", "--interval", "1ms", "--duration", "10"])
    print(f"pace: {s['frames-sent'] / 10.0:.1f} requests/s ({s['frames-sent']} in 10 s, "
          f"{s['records']} records, {s['timeouts']} time-outs)")


def case_cpu_1000():
    s, wall, cpu, _, _ = with_config(config(1), lambda name: run_host(
        ["--device-properties", "off", "--config", name, "--duration", "20"]))
    print(f"cpu-1000: {100 * cpu / wall:.2f}% of one core ({cpu:.2f} s CPU in {wall:.1f} s, "
          f"{s['frames-sent'] / 20.0:.1f} requests/s)")


def case_cpu_idle():
    # The same 1000 points, enabled, each polled once and then not due for an
    # hour; the CPU is taken over 10 s after the last first answer (the tick
    # still looks at every point, 20 times a second).
    idle = {}

    def on_line(line, t, probe):
        idle["records"] = idle.get("records", 0) + 1
        if idle["records"] == 1000:
            idle["from"] = (time.monotonic(), probe.cpu())

            def later():
                time.sleep(10)
                idle["to"] = (time.monotonic(), probe.cpu())
            threading.Thread(target=later, daemon=True).start()
    s, wall, cpu, _, _ = with_config(config(3600000), lambda name: run_host(
        ["--device-properties", "off", "--config", name, "--duration", "75"], on_line))
    if "to" in idle and idle["from"][1] is not None and idle["to"][1] is not None:
        span = idle["to"][0] - idle["from"][0]
        print(f"cpu-idle: {100 * (idle['to'][1] - idle['from'][1]) / span:.2f}% of one core over {span:.0f} s "
              f"with 1000 enabled points not due ({s['frames-sent']} requests in all)")
    else:
        print(f"cpu-idle: not measured ({idle.get('records', 0)} of 1000 points answered)")


def case_sources_500():
    # 500 data sources in one bachost (data source 1 is --bind's), each
    # polling one point at the designed pace.
    sources = []
    for i in range(2, 501):
        sources += ["--source", f"{i}:S{i}@127.0.0.1:0"]
    s, wall, cpu, rss, threads = run_host(["--device-properties", "off", *sources, "--poll", f"127.0.0.2:{PORT}",
                                           "--instance", "1001", "--items", "AI:1", "--interval", "1ms",
                                           "--duration", "20"])
    print(f"sources-500: {threads} threads at most, {100 * cpu / wall:.2f}% of one core "
          f"({cpu:.2f} s CPU in {wall:.1f} s, {s['frames-sent'] / 20.0:.0f} requests/s, "
          f"{s['records']} records, {s['timeouts']} time-outs, peak RSS {rss} kB)")


FAST_SECONDS = 10


def points(args):
    """Points answered per second in one bachost run of FAST_SECONDS (every
    frame received is an answer here; the records follow a group behind)."""
    s, wall, cpu, _, _ = run_host(["--device-properties", "off", *args, "--duration", str(FAST_SECONDS)])
    return s["frames-received"] / FAST_SECONDS, s, cpu


def hundred_devices():
    # the items and interval before the first --poll are every request's
    args = ["--items", "AI:0,AO:0,AV:0,BI:0,BO:0,BV:0,MSI:0,MSO:0,MSV:0", "--interval", "1ms"]
    for d in range(100):
        args += ["--poll", f"127.0.2.{d + 1}:{PORT}", "--instance", str(100000 + d)]
    return args


def case_fast():
    # One device with 500 points, so that a round of the fast pace outlasts
    # the interval of 1 ms and the next point is due when an answer comes.
    building = {"devices": [{"instance": 1001, "address": "127.0.0.2",
                             "objects": [{"type": "AV", "instance": i, "value": i} for i in range(500)]}]}
    one = ["--poll", f"127.0.0.2:{PORT}", "--instance", "1001", "--interval", "1ms", "--items",
           ",".join(f"AV:{i}=P{i}" for i in range(500))]
    rows = []
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
        json.dump(building, f)
    try:
        sim = start_sim("--config", f.name, "--broadcast", "none")
        try:
            seq = subprocess.run([seqclient, "--to", f"127.0.0.2:{PORT}", "--type", "2", "--instance", "0",
                                  "--seconds", str(FAST_SECONDS)], capture_output=True, text=True, check=True).stdout
            anchor = float(seq.split(": ")[1].split()[0])
            rows.append(("sequential client, 1 device", anchor, None))
            rate, s, cpu = points(one)
            rows.append(("designed pace, 1 device", rate, cpu))
            rate, s, cpu = points(["--pace", "fast", *one])
            rows.append(("fast pace, 1 device", rate, cpu))
        finally:
            stop(sim)
    finally:
        os.unlink(f.name)
    for label, extra in (("fast pace, 100 devices (16/1)", []), ("fast pace, 100 devices @20 ms (16/1)",
                                                               ["--delay", "20"])):
        sim = start_sim("--devices", "100", "--first-address", "127.0.2.1", "--broadcast", "none", *extra)
        try:
            rate, s, cpu = points(["--pace", "fast", "--in-flight", "16", "--per-device", "1", *hundred_devices()])
            rows.append((label, rate, cpu))
        finally:
            stop(sim)
    for label, rate, cpu in rows:
        load = "" if cpu is None else f", bachost {100 * cpu / FAST_SECONDS:.0f}% of a core"
        print(f"fast: {label}: {rate:,.0f} points/s ({rate / anchor:.3f} of the sequential client{load})")


def case_rpm():
    """100 devices with 20 points each at the fast pace (16 in flight, 1 per
    device), read with ReadProperty and with ReadPropertyMultiple, without
    latency and with 20 ms per answer: points per second (values in
    records), frames per point (sent and received) and bachost's CPU per
    point."""
    rows = []
    for delay in (0, 20):
        building = {"devices": [{"instance": 100000 + d, "address": f"127.0.2.{d + 1}", "delay_ms": delay,
                                 "objects": [{"type": "AV", "instance": i, "value": i} for i in range(20)]}
                                for d in range(100)]}
        args = ["--items", ",".join(f"AV:{i}" for i in range(20)), "--interval", "1ms"]
        for d in range(100):
            args += ["--poll", f"127.0.2.{d + 1}:{PORT}", "--instance", str(100000 + d)]
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
            json.dump(building, f)
        try:
            sim = start_sim("--config", f.name, "--broadcast", "none")
            try:
                for rpm in ("off", "on"):
                    s, wall, cpu, _, _ = run_host(["--device-properties", "off", "--pace", "fast", "--in-flight", "16",
                                                   "--per-device", "1", "--rpm", rpm, *args,
                                                   "--duration", str(FAST_SECONDS)])
                    values = max(s["values"], 1)
                    rows.append((delay, rpm, s["values"] / FAST_SECONDS,
                                 (s["frames-sent"] + s["frames-received"]) / values, 1e6 * cpu / values))
            finally:
                stop(sim)
        finally:
            os.unlink(f.name)
    for delay in (0, 20):
        rp = next(r for r in rows if r[0] == delay and r[1] == "off")
        for _, rpm, rate, frames, cpu in (r for r in rows if r[0] == delay):
            name = "ReadPropertyMultiple" if rpm == "on" else "ReadProperty"
            print(f"rpm: {delay} ms, {name}: {rate:,.0f} points/s ({rate / rp[2]:.2f} of ReadProperty), "
                  f"{frames:.3f} frames per point ({frames / rp[3]:.3f}), bachost {cpu:.1f} us CPU per point "
                  f"({cpu / rp[4]:.2f})")


def case_discovery(fast=False):
    seen = {}

    def on_line(line, t, probe):
        try:
            dev = json.loads(line)["items"].get("DEV_ID")
        except ValueError:
            return
        seen.setdefault(dev, t)
    pace = ["--pace", "fast"] if fast else []
    s, wall, cpu, rss, _ = run_host(["--device-properties", "off", *pace, "--poll", f"127.0.255.255:{PORT}",
                                     "--instance", "*", "--items", "AI:0", "--interval", "1h", "--duration",
                                     "15" if fast else "75"], on_line)
    times = sorted(seen.values())
    print(f"{'fast-discovery' if fast else 'discovery'}: {len(seen)} devices; first record of every device after {times[-1]:.1f} s "
          f"(first after {times[0]:.2f} s); bachost peak RSS {rss} kB")


COV_SECONDS = float(os.environ.get("COV_SECONDS", "60"))
COV_DEVICES = 10
COV_POINTS = 1000


def cov_building():
    per = COV_POINTS // COV_DEVICES
    return {"devices": [{"instance": 5001 + d, "address": f"127.0.3.{d + 1}",
                         "objects": [{"type": "BV", "instance": i, "value": 0, "period": 5 + (d * per + i) % 11}
                                     for i in range(per)]} for d in range(COV_DEVICES)]}


def cov_config(log_on_change):
    """One request of one item per point, polled every second or logged on change."""
    per = COV_POINTS // COV_DEVICES
    x = "<MODBUSRTUQUERY>"
    for d in range(COV_DEVICES):
        for i in range(per):
            x += (f"<Request caption=\"P{d}_{i}\"><Enabled>1</Enabled><EP>127.0.3.{d + 1}:{PORT}</EP>"
                  f"<Instance>{5001 + d}</Instance><Timeout>1500</Timeout>"
                  f"<LogOnChange>{1 if log_on_change else 0}</LogOnChange><MethodPoll>1</MethodPoll>"
                  f"<PollInterval>1</PollInterval><PollUnits>S</PollUnits><Response><Item><Name>P{d}_{i}</Name>"
                  f"<DataType>D05</DataType><Instance>{i}</Instance></Item></Response></Request>")
    return x + "</MODBUSRTUQUERY>"


def case_cov():
    building = cov_building()
    # The simulator's schedule: a binary value toggles at every multiple of
    # its period after the simulator's start.
    schedule = {}
    for d, dev in enumerate(building["devices"]):
        for o in dev["objects"]:
            schedule[f"P{d}_{o['instance']}"] = o["period"]
    rows = []
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
        json.dump(building, f)
    try:
        for label, on in (("polling every 1 s", False), ("log on change", True)):
            sim = start_sim("--config", f.name, "--broadcast", "none")
            sim_start = time.monotonic()
            seen = {}  # point -> [(time after the simulator's start, value)]

            def on_line(line, t, probe):
                try:
                    rec = json.loads(line)
                except ValueError:
                    return
                at = time.monotonic() - sim_start
                for name, value in rec.get("items", {}).items():
                    if name in schedule:
                        seen.setdefault(name, []).append((at, value))
            try:
                s, wall, cpu, _, _ = with_config(cov_config(on), lambda name: run_host(
                    ["--device-properties", "off", "--pace", "fast", "--in-flight", "64", "--per-device", "8",
                     "--config", name, "--duration", str(COV_SECONDS)], on_line))
            finally:
                stop(sim)
            changes = caught = 0
            for name, period in schedule.items():
                k = 1
                while k * period < COV_SECONDS - 1:
                    when, value = k * period, k % 2
                    changes += 1
                    caught += any(when <= at <= when + 1.0 and v == value for at, v in seen.get(name, ()))
                    k += 1
            frames = s["frames-sent"] + s["frames-received"]
            rows.append((label, frames, s["records"], caught, changes, cpu))
    finally:
        os.unlink(f.name)
    base = rows[0][1]
    for label, frames, records, caught, changes, cpu in rows:
        print(f"cov {label}: {frames} frames ({frames / base:.3f} of polling), {records} records, "
              f"{caught} of {changes} changes caught within 1 s, bachost {cpu:.2f} s CPU "
              f"in {COV_SECONDS:.0f} s")


def main():
    if wanted("pace") or wanted("cpu-1000") or wanted("cpu-idle") or wanted("sources-500"):
        sim = start_sim()
        try:
            for name, run in (("pace", case_pace), ("cpu-1000", case_cpu_1000), ("cpu-idle", case_cpu_idle),
                              ("sources-500", case_sources_500)):
                if wanted(name):
                    run()
        finally:
            stop(sim)
    if wanted("fast"):
        case_fast()
    if wanted("rpm"):
        case_rpm()
    for name, fast in (("discovery", False), ("fast-discovery", True)):
        if wanted(name):
            sim = start_sim("--config", os.path.join(root, "examples", "flood.json"), "--iam-spread", "200")
            try:
                case_discovery(fast)
            finally:
                stop(sim)
    if wanted("cov"):
        case_cov()
    if wanted("flood"):
        named = ["--poll", f"127.0.0.2:{PORT}", "--instance", "1001", "--items", "AI:1", "--interval", "1s"]
        pattern = ["--poll", f"127.1.255.255:{PORT}", "--instance", "*", "--items", "AI:1", "--interval", "1h"]
        flood("flood-named full speed", named, 100000, 0)
        flood("flood-named 50000/s", named, 100000, 50000)
        flood("flood-pattern full speed", pattern, 100000, 0)
        flood("flood-pattern 50000/s", pattern, 110000, 50000)


main()
