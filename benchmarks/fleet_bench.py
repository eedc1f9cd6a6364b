#!/usr/bin/python3
"""How far one acl-exporter goes: probes N acl-devhost devices on loopback
with configurations of growing rule tables and with 1, 8 and 32 probes in
flight, and writes one CSV row per run:

    benchmarks/fleet_bench.py --build build --csv build/fleet.csv
    benchmarks/fleet_plot.py build/fleet.csv docs/fleet.png

Per run: probes per second, the exporter's CPU per probe (utime + stime from
/proc, so the load generator's and the devices' CPU do not count), mean
probe time, the exporter's resident size before its first probe, at the
start of the run (after a warm-up of the same probes), at its peak and at
the end. Also the floor of
the per-rule cost, simdjson alone parsing the same answer (simdjson_parse),
and the growth of the exporter's resident size over 10 000 probes of the
built-in sample (after 30 000 to warm up). At the end it prints the three
ratios the exporter is held to: CPU per rule against simdjson alone, the
growth of the resident size over 10 000 probes, and the resident size per
probe in flight of the largest configuration (its peak over the sample's
run at as many probes in flight, so that what the exporter keeps from
large probes counts) against its largest table's answer bytes. Figures are noisy on a shared machine: compare ratios within
one run.
"""

import argparse
import csv
import http.client
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOKEN = "bench"
TICK = os.sysconf("SC_CLK_TCK")
RULE_TABLES = ("BasicRules", "AdvanceRules")


def start(cmd):
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline()
    if not line.startswith("listening on "):
        sys.exit("fleet_bench: %s did not start" % cmd[0])
    return proc, line.split()[-1]


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def rss_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def rules_of(config):
    return sum(len(body.get("Rule", [])) for table, body in config.items()
               if table.endswith(RULE_TABLES))


def probe_load(exporter, targets, probes, in_flight, pid):
    """Runs `probes` probes, `in_flight` at a time; returns the figures."""
    host, port = exporter.rsplit(":", 1)
    lock = threading.Lock()
    state = {"next": 0, "failed": 0, "busy": 0.0, "peak": 0.0}

    def worker():
        conn = http.client.HTTPConnection(host, int(port), timeout=120)
        while True:
            with lock:
                n = state["next"]
                state["next"] += 1
            if n >= probes:
                break
            began = time.monotonic()
            conn.request("GET", "/probe?target=" + targets[n % len(targets)])
            body = conn.getresponse().read()
            with lock:
                state["busy"] += time.monotonic() - began
                if b"\nacl_up 1\n" not in body:
                    state["failed"] += 1
        conn.close()

    def sampler(stop):
        while not stop.is_set():
            state["peak"] = max(state["peak"], rss_mb(pid))
            stop.wait(0.01)

    stop = threading.Event()
    start_rss = rss_mb(pid)
    watch = threading.Thread(target=sampler, args=(stop,))
    watch.start()
    cpu0, wall0 = cpu_seconds(pid), time.monotonic()
    threads = [threading.Thread(target=worker) for _ in range(in_flight)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    wall, cpu = time.monotonic() - wall0, cpu_seconds(pid) - cpu0
    stop.set()
    watch.join()
    if state["failed"]:
        sys.exit("fleet_bench: %d probes failed" % state["failed"])
    return {"probes": probes, "in_flight": in_flight,
            "probes_per_s": round(probes / wall, 1),
            "cpu_ms_per_probe": round(cpu * 1000 / probes, 3),
            "probe_ms": round(state["busy"] * 1000 / probes, 2),
            "rss_start_mb": round(start_rss, 1),
            "rss_peak_mb": round(state["peak"], 1),
            "rss_end_mb": round(rss_mb(pid), 1)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"))
    parser.add_argument("--csv", default="fleet.csv")
    parser.add_argument("--devices", type=int, default=4)
    parser.add_argument("--rules", default="1000,5000,20000",
                        help="rule counts of the generated configurations")
    parser.add_argument("--growth-probes", type=int, default=10000)
    args = parser.parse_args()
    exe = lambda name: os.path.join(args.build, name)
    rows, procs = [], []
    tmp = tempfile.TemporaryDirectory(prefix="acl-fleet-")
    token_file = os.path.join(tmp.name, "token")
    answer_bytes = 0
    try:
        for rules in [0] + [int(r) for r in args.rules.split(",")]:
            config = os.path.join(tmp.name, "config%d.json" % rules)
            if rules:
                with open(config, "w") as f:
                    subprocess.run([sys.executable, os.path.join(
                        SOURCE, "scripts", "gen_config.py"), "--rules",
                        str(rules)], stdout=f, check=True)
            else:
                config = os.path.join(SOURCE, "devhost", "data",
                                      "sample_config.json")
            with open(config) as f:
                rule_count = rules_of(json.load(f))
            devices = []
            for _ in range(args.devices):
                proc, addr = start([exe("acl-devhost"), "--listen",
                                    "127.0.0.1:0", "--token", TOKEN,
                                    "--config", config])
                procs.append(proc)
                devices.append(addr)
            with open(token_file, "w") as f:
                f.writelines("%s %s\n" % (d, TOKEN) for d in devices)
            os.chmod(token_file, 0o600)
            if rules == max(int(r) for r in args.rules.split(",")):
                answer = os.path.join(tmp.name, "answer.json")
                with open(answer, "w") as f:
                    subprocess.run([exe("aclctl"), "--addr", devices[0],
                                    "--token", TOKEN, "--raw",
                                    "IPv4BasicRulesStream"], stdout=f,
                                   check=True)
                answer_bytes = os.path.getsize(answer)
                floor = json.loads(subprocess.run(
                    [exe("simdjson_parse"), answer], capture_output=True,
                    check=True, text=True).stdout)
            for in_flight in (1, 8, 32):
                exporter, addr = start([exe("acl-exporter"), "--listen",
                                        "127.0.0.1:0", "--token-file",
                                        token_file, "--max-probes", "40",
                                        "--timeout", "60"])
                procs.append(exporter)
                fresh = rss_mb(exporter.pid)  # before its first probe
                # Enough probes for the CPU clock's ticks (10 ms) to be
                # a small part of the figure.
                probes = (2000 if not rules else
                          max(in_flight * 2, 1000000 // rules))
                probe_load(addr, devices, min(probes, 50), in_flight,
                           exporter.pid)  # warm-up: connections, arenas
                row = {"rules": rule_count, **probe_load(
                    addr, devices, probes, in_flight, exporter.pid),
                       "rss_fresh_mb": round(fresh, 1)}
                print(json.dumps(row), flush=True)
                rows.append(row)
                if not rules and in_flight == 8:
                    # The resident size first climbs while each server
                    # thread serves its first probes (stacks, per-thread
                    # caches): measure the growth after that.
                    probe_load(addr, devices, 3 * args.growth_probes, 8,
                               exporter.pid)
                    warm = rss_mb(exporter.pid)
                    grown = probe_load(addr, devices, args.growth_probes, 8,
                                       exporter.pid)
                    growth = {"warm_rss_mb": round(warm, 1),
                              "rss_after_mb": grown["rss_end_mb"],
                              "growth_pct": round(100 * (grown["rss_end_mb"]
                                                         - warm) / warm, 2),
                              "probes": args.growth_probes}
                    print("growth", json.dumps(growth), flush=True)
                exporter.terminate()
                exporter.wait(timeout=30)
                procs.remove(exporter)
            for p in procs:
                p.kill()
                p.wait()
            procs = []
    finally:
        for p in procs:
            p.kill()
            p.wait()
    base = next(r for r in rows if r["in_flight"] == 1)
    big = [r for r in rows if r["in_flight"] == 1][-1]
    per_rule_ns = ((big["cpu_ms_per_probe"] - base["cpu_ms_per_probe"]) * 1e6
                   / (big["rules"] - base["rules"]))
    # Memory per probe in flight at the largest configuration: its peak
    # over the sample's run at as many probes in flight (after the same
    # warm-up: threads, connections and arenas of small probes; so what
    # the exporter keeps from large probes counts), shared out over the
    # probes in flight.
    small = {r["in_flight"]: r["rss_start_mb"] for r in rows
             if r["rules"] == base["rules"]}
    per_probe = max((r["rss_peak_mb"] - small[r["in_flight"]])
                    / r["in_flight"]
                    for r in rows if r["rules"] == big["rules"])
    summary = {"sample_cpu_ms_per_probe": base["cpu_ms_per_probe"],
               "cpu_ns_per_rule": round(per_rule_ns, 1),
               "simdjson_ns_per_rule": floor["ns_per_rule"],
               "ratio_to_simdjson": round(per_rule_ns / floor["ns_per_rule"], 2),
               **growth,
               "answer_mb": round(answer_bytes / (1 << 20), 2),
               "mb_per_probe_in_flight": round(per_probe, 2),
               "ratio_to_answer": round(per_probe * (1 << 20) / answer_bytes,
                                        2)}
    print("summary", json.dumps(summary))
    with open(args.csv, "w", newline="") as f:
        out = csv.DictWriter(f, fieldnames=list(rows[0]) + ["note"])
        out.writeheader()
        out.writerows(rows)
        out.writerow({"rules": "summary", "note": json.dumps(summary)})


if __name__ == "__main__":
    main()
