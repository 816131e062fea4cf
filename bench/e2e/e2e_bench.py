#!/usr/bin/env python3
"""Whole-system figures over loopback UDP (not part of the test run).

    python3 bench/e2e/e2e_bench.py [BUILD_DIR]     (default build/release)

  pace        requests per second of one data source polling a device that
              answers at once (the tick allows 20)
  cpu-1000    CPU of the bachost process polling 1000 points at that pace
  cpu-idle    CPU of the bachost process with 1000 points and nothing due
  discovery   1000 simulated devices answering one Who-Is: seconds from the
              start to the first record of every device, and the process's
              memory afterwards
  flood-*     100,000 I-Ams of ever new devices (tools/iamflood: 250 source
              addresses, half from stations behind a router) against a logger
              that polls one configured device (every I-Am dropped) and one
              with a pattern "*" on the flooded network (devices kept up to
              the table's 100,000): the bachost process's CPU and peak RSS,
              and the frames its socket took in
"""
import json
import os
import resource
import signal
import subprocess
import sys
import tempfile
import threading
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
bachost = os.path.join(build, "bachost")
bacsim = os.path.join(build, "tools", "bacsim", "bacsim")
iamflood = os.path.join(build, "tools", "iamflood", "iamflood")
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


def run_host(args, on_line=None):
    """Runs bachost to its end; (summary dict, user+system CPU seconds, wall seconds, max RSS kB)."""
    start = time.monotonic()
    p = subprocess.Popen([bachost, "--bind", "127.0.0.1:0", *args], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    if on_line:
        for line in p.stdout:
            on_line(line, time.monotonic() - start)
    out, err = p.communicate()
    wall = time.monotonic() - start
    summary = {}
    for line in err.splitlines():
        if line.startswith("bachost: summary"):
            for field in line.split()[2:]:
                k, v = field.split("=")
                summary[k] = int(v)
    if not summary:
        raise SystemExit("bachost ended without a summary: " + err[-2000:])
    return summary, wall


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


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime, r.ru_maxrss


def items(n):
    return ",".join(f"AV:{i % 2}" if i % 3 else f"AI:{i % 2}" for i in range(n))


def main():
    sim = start_sim()
    try:
        # Pace: one item, due at once after every answer.
        s, wall = run_host(["--device-properties", "off", "--poll", f"127.0.0.2:{PORT}", "--instance", "1001",
                            "--items", "AI:1", "--interval", "1ms", "--duration", "10"])
        print(f"pace: {s['frames-sent'] / 10.0:.1f} requests/s ({s['frames-sent']} in 10 s, "
              f"{s['records']} records, {s['timeouts']} time-outs)")
        # 1000 points polled at the designed pace: 1000 requests of one item
        # each (names made unique by the request's caption).
        cfg = tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False)
        def config(interval_ms, enabled=True):
            x = "<MODBUSRTUQUERY>"
            for i in range(1000):
                x += (f"<Request caption=\"P{i}\"><Enabled>{1 if enabled else 0}</Enabled><EP>127.0.0.{2 + i % 2}:{PORT}</EP>"
                      f"<Instance>{1001 + i % 2}</Instance><Timeout>1500</Timeout><MethodPoll>1</MethodPoll>"
                      f"<PollInterval>{interval_ms}</PollInterval><Response><Item><Name>P{i}</Name>"
                      f"<DataType>D0{i % 3}</DataType><Instance>{i % 2}</Instance></Item></Response></Request>")
            return x + "</MODBUSRTUQUERY>"
        cfg.write(config(1))
        cfg.close()
        before, _ = child_cpu()
        s, wall = run_host(["--device-properties", "off", "--config", cfg.name, "--duration", "20"])
        after, _ = child_cpu()
        cpu = after - before
        print(f"cpu-1000: {100 * cpu / wall:.2f}% of one core ({cpu:.2f} s CPU in {wall:.1f} s, "
              f"{s['frames-sent'] / 20.0:.1f} requests/s)")
        # Idle: the same 1000 points, none of them due (the tick still looks
        # at every one, 20 times a second).
        with open(cfg.name, "w") as f:
            f.write(config(3600000, enabled=False))
        before, _ = child_cpu()
        s, wall = run_host(["--device-properties", "off", "--config", cfg.name, "--duration", "20"])
        after, _ = child_cpu()
        print(f"cpu-idle: {100 * (after - before) / wall:.2f}% of one core over {wall:.0f} s "
              f"({s['frames-sent']} requests)")
        os.unlink(cfg.name)
    finally:
        stop(sim)

    sim = start_sim("--config", os.path.join(root, "examples", "flood.json"), "--iam-spread", "200")
    try:
        seen = {}
        def on_line(line, t):
            try:
                dev = json.loads(line)["items"].get("DEV_ID")
            except ValueError:
                return
            seen.setdefault(dev, t)
        before_rss = child_cpu()[1]
        s, wall = run_host(["--device-properties", "off", "--poll", f"127.0.255.255:{PORT}", "--instance", "*",
                            "--items", "AI:0", "--interval", "1h", "--duration", "75"], on_line)
        rss = child_cpu()[1]
        times = sorted(seen.values())
        print(f"discovery: {len(seen)} devices; first record of every device after {times[-1]:.1f} s "
              f"(first after {times[0]:.2f} s); bachost max RSS {rss} kB")
    finally:
        stop(sim)

    named = ["--poll", f"127.0.0.2:{PORT}", "--instance", "1001", "--items", "AI:1", "--interval", "1s"]
    pattern = ["--poll", f"127.1.255.255:{PORT}", "--instance", "*", "--items", "AI:1", "--interval", "1h"]
    flood("flood-named full speed", named, 100000, 0)
    flood("flood-named 50000/s", named, 100000, 50000)
    flood("flood-pattern full speed", pattern, 100000, 0)
    flood("flood-pattern 50000/s", pattern, 110000, 50000)


main()
