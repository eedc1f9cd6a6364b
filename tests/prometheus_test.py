#!/usr/bin/python3
"""A real Prometheus scrapes acl-exporter for three acl-devhost devices with
different generated configurations; each device's series must equal the
counters of its configuration. One device is stopped: its acl_up turns 0
while the others stay 1. Probes of a bad target, of a device answering
malformed JSON and of one answering too much give acl_up 0.

    /usr/bin/python3 tests/prometheus_test.py --build BUILD_DIR
"""

import argparse
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
# metric -> (table, labels: {label: column}, value column)
APPLIED = {"object_type": "AppObjType", "object_index": "AppObjIndex",
           "direction": "AppDirection", "acl_type": "AppAclType",
           "group": "AppAclGroup"}
COUNTERS = {
    "acl_group_deny_bytes_total": ("PfilterGroupRunInfo", APPLIED,
                                   "AclGroupDenyBytes"),
    "acl_rule_match_packets_total": (
        "PfilterRuleRunInfo", dict(APPLIED, rule="AppAclRuleIndex"),
        "AclRuleMatchPkts"),
    "acl_statistic_match_bytes_total": (
        "PfilterStatisticSum", {"direction": "Direction", "acl_type": "AclType",
                                "group": "AclGroup", "rule": "AclRuleIndex"},
        "MatchBytes"),
    "acl_zone_pair_rule_match_packets_total": (
        "ZonePairPfilterRules", {"src_zone": "SrcZone", "dst_zone": "DestZone",
                                 "acl_type": "AclType", "group": "AclGroup",
                                 "rule": "AclRuleID"}, "RuleMatchPkts"),
}


def expected(config, metric):
    """{frozenset(labels): value} of `metric` for a configuration."""
    out = {}
    if metric == "acl_rule_count_total":
        for table, body in config.items():
            if table.endswith(("BasicRules", "AdvanceRules")):
                for r in (r for r in body["Rule"] if "Count" in r):
                    group = r.get("GroupID", r.get("GroupIndex"))
                    out[frozenset({"table": table, "group": str(group),
                                   "rule": str(r["RuleID"])}.items())] = r["Count"]
        return out
    table, labels, column = COUNTERS[metric]
    for row in next(iter(config[table].values())):
        out[frozenset((k, str(row[c])) for k, c in labels.items())] = row[column]
    return out


def start(cmd, log):
    """Starts a server printing 'listening on ADDR'; returns (proc, addr)."""
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=log, text=True)
    line = proc.stdout.readline()  # bounded: the servers print it or exit
    if not line.startswith("listening on "):
        proc.kill()
        sys.exit("FAIL: %s did not start: %r" % (cmd[0], line))
    return proc, line.split()[-1]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    build = parser.parse_args().build
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
    configs, addrs, tokens = [], [], []
    for n, (table, rules) in enumerate(DEVICES):
        path = os.path.join(tmp, "device%d.json" % n)
        with open(path, "w") as f:
            subprocess.run([sys.executable, os.path.join(SOURCE, "scripts",
                            "gen_config.py"), "--rules", str(rules), "--table",
                            table, "--seed", str(n)], stdout=f, check=True)
        configs.append(json.load(open(path)))
        tokens.append("token-%d" % n)
        proc, addr = start([os.path.join(build, "acl-devhost"), "--listen",
                            "127.0.0.1:0", "--config", path, "--token",
                            tokens[-1]], log)
        procs.append(proc)
        addrs.append(addr)
    faults = {"json": "{not json", "too_large": '{"x":"%s"}' % ("a" * 70000)}
    for n, (cause, text) in enumerate(faults.items()):
        with open(os.path.join(tmp, cause), "w") as f:
            f.write(text)
        proc, addr = start([os.path.join(build, "acl-devhost"), "--listen",
                            "127.0.0.1:0", "--adapter", "fixed", "--answer-file",
                            f.name, "--token", "fault"], log)
        procs.append(proc)
        faults[cause] = addr
        tokens.append("fault")
    token_file = os.path.join(tmp, "tokens")
    with open(token_file, "w") as f:
        f.writelines("%s %s\n" % pair
                     for pair in zip(addrs + list(faults.values()), tokens))
    exporter, exporter_addr = start(
        [os.path.join(build, "acl-exporter"), "--listen", "127.0.0.1:0",
         "--token-file", token_file, "--max-reply-bytes", "65536"], log)
    procs.append(exporter)
    faults["target"] = "no-port"
    for cause, target in faults.items():
        with urllib.request.urlopen("http://%s/probe?target=%s" % (
                exporter_addr, target), timeout=WAIT) as r:
            if "\nacl_up 0\n" not in r.read().decode():
                sys.exit("FAIL: %s: no acl_up 0" % cause)
    with urllib.request.urlopen("http://%s/metrics" % exporter_addr,
                                timeout=WAIT) as r:
        own = r.read().decode()
    for cause in faults:
        if 'acl_exporter_probe_failures_total{cause="%s"} 1\n' % cause not in own:
            sys.exit("FAIL: no failure counted for %s:\n%s" % (cause, own))

    # Prometheus reads YAML, of which JSON is a part.
    job = {"job_name": "acl", "metrics_path": "/probe",
           "scrape_interval": "1s", "scrape_timeout": "1s",
           "static_configs": [{"targets": addrs}],
           "relabel_configs": [
               {"source_labels": ["__address__"],
                "target_label": "__param_target"},
               {"source_labels": ["__param_target"], "target_label": "instance"},
               {"target_label": "__address__", "replacement": exporter_addr}]}
    with open(os.path.join(tmp, "prometheus.yml"), "w") as f:
        json.dump({"scrape_configs": [job]}, f)
    web = "127.0.0.1:%d" % free_port()
    api = "http://%s/api/v1/query?query=" % web
    procs.append(subprocess.Popen(
        [PROMETHEUS, "--config.file", f.name, "--storage.tsdb.path",
         os.path.join(tmp, "data"), "--web.listen-address", web],
        stdout=log, stderr=log))

    def query(promql):
        try:
            with urllib.request.urlopen(api + urllib.parse.quote(promql),
                                        timeout=5) as r:
                result = json.load(r)["data"]["result"]
        except OSError:
            return {}
        return {frozenset((k, v) for k, v in s["metric"].items()
                          if k not in ("__name__", "instance", "job")) |
                {("instance", s["metric"]["instance"])}: float(s["value"][1])
                for s in result}

    def up():
        return {dict(k)["instance"]: v for k, v in query("acl_up").items()}

    def wait_for(what, check):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if check():
                return
            time.sleep(0.5)
        sys.exit("FAIL: no %s within %d s; acl_up: %s" % (what, WAIT, up()))

    wait_for("acl_up 1 for every device",
             lambda: up() == {a: 1.0 for a in addrs})
    for metric in ["acl_rule_count_total"] + sorted(COUNTERS):
        for addr, config in zip(addrs, configs):
            want = {k | {("instance", addr)}: float(v)
                    for k, v in expected(config, metric).items()}
            got = query('%s{instance="%s"}' % (metric, addr))
            if got != want:
                sys.exit("FAIL: %s of %s: %d series, %d expected, differing: %s"
                         % (metric, addr, len(got), len(want),
                            sorted(set(got.items()) ^ set(want.items()))[:3]))
    procs[2].terminate()
    wait_for("acl_up 0 for the stopped device only",
             lambda: up() == {addrs[0]: 1.0, addrs[1]: 1.0, addrs[2]: 0.0})
    print("prometheus_test: %d devices scraped, series equal the "
          "configurations; the stopped one is down" % len(addrs))


if __name__ == "__main__":
    main()
