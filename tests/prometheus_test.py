#!/usr/bin/python3
"""A real Prometheus scrapes acl-exporter for three acl-devhost devices with
different generated configurations: each device's series must equal the
counters of its configuration, and a stopped device's acl_up turns 0 while
the others stay 1. Before that, probes of a bad target, of a device
answering malformed JSON and of one answering too much give acl_up 0.

    /usr/bin/python3 tests/prometheus_test.py --build BUILD_DIR
"""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROMETHEUS = "/usr/bin/prometheus"
WAIT = 60  # seconds: the bound of every wait
DEVICES = [("IPv4BasicRules", 40), ("IPv4AdvanceRules", 30),
           ("IPv6NamedBasicRules", 20)]
APPLIED = {"object_type": "AppObjType", "object_index": "AppObjIndex",
           "direction": "AppDirection", "acl_type": "AppAclType",
           "group": "AppAclGroup"}
# metric -> (table, {label: column}, value column); rule tables apart
COUNTERS = {
    "acl_group_deny_bytes_total": ("PfilterGroupRunInfo", APPLIED,
                                   "AclGroupDenyBytes"),
    "acl_rule_match_packets_total": ("PfilterRuleRunInfo", dict(
        APPLIED, rule="AppAclRuleIndex"), "AclRuleMatchPkts"),
    "acl_rule_count_total": (None, {"rule": "RuleID"}, "Count")}


def expected(config, metric):
    """{frozenset(labels): value} of `metric` for a configuration."""
    table, labels, column = COUNTERS[metric]
    group = lambda r: str(r.get("GroupID", r.get("GroupIndex")))
    rows = [({}, row) for row in next(iter(config[table].values()))] if table \
        else [({"table": t, "group": group(r)}, r)
              for t, body in config.items()
              if t.endswith(("BasicRules", "AdvanceRules"))
              for r in body["Rule"] if "Count" in r]
    return {frozenset(dict(fixed, **{k: str(row[c]) for k, c in
                                     labels.items()}).items()): row[column]
            for fixed, row in rows}


def start(cmd, log):
    """Starts a server printing 'listening on ADDR'; returns (proc, addr)."""
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=log, text=True)
    line = proc.stdout.readline()  # bounded: the servers print it or exit
    if not line.startswith("listening on "):
        proc.kill()
        sys.exit("FAIL: %s did not start: %r" % (cmd[0], line))
    return proc, line.split()[-1]


def main():
    build = sys.argv[sys.argv.index("--build") + 1]
    if not os.access(PROMETHEUS, os.X_OK):
        sys.exit("FAIL: %s is missing: run scripts/setup.sh (package "
                 "prometheus)" % PROMETHEUS)
    procs = []
    with tempfile.TemporaryDirectory(prefix="acl-prom-") as tmp:
        log = open(os.path.join(tmp, "servers.log"), "w")
        try:
            run(build, tmp, log, procs)
        except BaseException:
            log.flush()
            print(open(log.name).read()[-4000:], file=sys.stderr)
            raise
        finally:
            for p in procs:
                p.kill()
                p.wait()


def run(build, tmp, log, procs):
    def device(token, *flags):
        proc, addr = start([os.path.join(build, "acl-devhost"), "--listen",
                            "127.0.0.1:0", "--token", token, *flags], log)
        procs.append(proc)
        tokens.append("%s %s\n" % (addr, token))
        return addr

    configs, addrs, tokens = [], [], []
    for n, (table, rules) in enumerate(DEVICES):
        path = os.path.join(tmp, "device%d.json" % n)
        with open(path, "w") as f:
            subprocess.run([sys.executable, os.path.join(
                SOURCE, "scripts", "gen_config.py"), "--rules", str(rules),
                "--table", table, "--seed", str(n)], stdout=f, check=True)
        configs.append(json.load(open(path)))
        addrs.append(device("token-%d" % n, "--config", path))
    faults = {"json": "{not json", "too_large": '{"x":"%s"}' % ("a" * 70000)}
    for cause, text in faults.items():
        with open(os.path.join(tmp, cause), "w") as f:
            f.write(text)
        faults[cause] = device("fault", "--adapter", "fixed",
                               "--answer-file", f.name)
    with open(os.path.join(tmp, "tokens"), "w") as f:
        f.writelines(tokens)
    exporter, exporter_addr = start(
        [os.path.join(build, "acl-exporter"), "--listen", "127.0.0.1:0",
         "--token-file", f.name, "--max-reply-bytes", "65536"], log)
    procs.append(exporter)
    faults["target"] = "no-port"
    get = lambda path: urllib.request.urlopen("http://%s/%s" % (
        exporter_addr, path), timeout=WAIT).read().decode()
    for cause, target in faults.items():
        counted = 'failures_total{cause="%s"} 1\n' % cause
        if "\nacl_up 0\n" not in get("probe?target=" + target) or (
                counted not in get("metrics")):
            sys.exit("FAIL: %s: no acl_up 0 or no failure counted" % cause)

    # Prometheus reads YAML, of which JSON is a part.
    relabel = [{"source_labels": ["__address__"],
                "target_label": "__param_target"},
               {"source_labels": ["__param_target"],
                "target_label": "instance"},
               {"target_label": "__address__", "replacement": exporter_addr}]
    job = {"job_name": "acl", "metrics_path": "/probe",
           "scrape_interval": "1s", "scrape_timeout": "1s",
           "static_configs": [{"targets": addrs}],
           "relabel_configs": relabel}
    with open(os.path.join(tmp, "prometheus.yml"), "w") as f:
        json.dump({"scrape_configs": [job]}, f)
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        web = "127.0.0.1:%d" % s.getsockname()[1]
    procs.append(subprocess.Popen(
        [PROMETHEUS, "--config.file", f.name, "--storage.tsdb.path",
         os.path.join(tmp, "data"), "--web.listen-address", web],
        stdout=log, stderr=log))

    def query(promql):  # {frozenset(labels but __name__, job): value}
        try:
            with urllib.request.urlopen("http://%s/api/v1/query?query=%s" % (
                    web, urllib.parse.quote(promql)), timeout=5) as r:
                result = json.load(r)["data"]["result"]
        except OSError:
            return {}
        return {frozenset((k, v) for k, v in s["metric"].items()
                          if k not in ("__name__", "job")):
                float(s["value"][1])
                for s in result}

    def up():
        return {dict(k)["instance"]: v for k, v in query("acl_up").items()}

    def wait_for(what, check):
        deadline = time.monotonic() + WAIT
        while not check():
            if time.monotonic() > deadline:
                sys.exit("FAIL: no %s in %d s; acl_up: %s"
                         % (what, WAIT, up()))
            time.sleep(0.5)

    wait_for("acl_up 1 for every device",
             lambda: up() == {a: 1.0 for a in addrs})
    for metric in COUNTERS:
        for addr, config in zip(addrs, configs):
            want = {k | {("instance", addr)}: float(v)
                    for k, v in expected(config, metric).items()}
            got = query('%s{instance="%s"}' % (metric, addr))
            if got != want or not want:
                sys.exit("FAIL: %s of %s: %d series, %d expected; %s"
                         % (metric, addr, len(got), len(want),
                            sorted(set(got.items()) ^ set(want.items()))[:3]))
    procs[2].terminate()
    wait_for("acl_up 0 for the stopped device only",
             lambda: up() == {addrs[0]: 1.0, addrs[1]: 1.0, addrs[2]: 0.0})
    print("prometheus_test: %d devices scraped, series equal the "
          "configurations; the stopped one is down" % len(addrs))


if __name__ == "__main__":
    main()
