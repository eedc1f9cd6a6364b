#!/usr/bin/python3
"""Draws fleet_bench.py's CSV as a PNG: probe time and the exporter's CPU
per probe against the device's rules (1 probe in flight) and against the
probes in flight (the built-in sample and the largest configuration).
With a second CSV (an earlier run, say before a change), its CPU per probe
against rules is drawn too, in grey:

    benchmarks/fleet_plot.py build/fleet.csv docs/fleet.png
    benchmarks/fleet_plot.py build/fleet.csv docs/fleet.png build/before.csv

Needs Debian's python3-matplotlib (not installed by scripts/setup.sh: the
tests do not draw).
"""

import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def read(path):
    with open(path) as f:
        rows = [r for r in csv.DictReader(f) if r["rules"] != "summary"]
    for r in rows:
        for key in ("rules", "in_flight"):
            r[key] = int(r[key])
        for key in ("probe_ms", "cpu_ms_per_probe"):
            r[key] = float(r[key])
    return rows


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: fleet_plot.py CSV PNG [EARLIER_CSV]")
    rows = read(sys.argv[1])
    fig, (by_rules, by_flight) = plt.subplots(1, 2, figsize=(11, 4.2))
    single = sorted((r for r in rows if r["in_flight"] == 1),
                    key=lambda r: r["rules"])
    rules = [r["rules"] for r in single]
    by_rules.plot(rules, [r["probe_ms"] for r in single], "o-",
                  label="probe time")
    by_rules.plot(rules, [r["cpu_ms_per_probe"] for r in single], "s--",
                  label="exporter CPU per probe")
    if len(sys.argv) == 4:
        earlier = sorted((r for r in read(sys.argv[3]) if r["in_flight"] == 1),
                         key=lambda r: r["rules"])
        by_rules.plot([r["rules"] for r in earlier],
                      [r["cpu_ms_per_probe"] for r in earlier], "s:",
                      color="grey", label="exporter CPU per probe, before")
    by_rules.set(xscale="log", yscale="log", xlabel="rules on the device",
                 ylabel="ms", title="Against rules (1 probe in flight)")
    by_rules.legend()
    for count in sorted({min(rules), max(rules)}):
        series = sorted((r for r in rows if r["rules"] == count),
                        key=lambda r: r["in_flight"])
        flight = [r["in_flight"] for r in series]
        by_flight.plot(flight, [r["probe_ms"] for r in series], "o-",
                       label="probe time, %d rules" % count)
        by_flight.plot(flight, [r["cpu_ms_per_probe"] for r in series], "s--",
                       label="exporter CPU per probe, %d rules" % count)
    by_flight.set(xscale="log", yscale="log", xlabel="probes in flight",
                  ylabel="ms", title="Against probes in flight")
    by_flight.set_xticks([1, 8, 32], ["1", "8", "32"])
    by_flight.legend(fontsize="small")
    fig.tight_layout()
    fig.savefig(sys.argv[2], dpi=90)


if __name__ == "__main__":
    main()
