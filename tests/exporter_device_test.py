"""acl-exporter against hostile devices: fake devices (tests/fake_device.py,
HTTP/2 by hand on 127.0.0.1) answer malformed or misshapen JSON, hostile
label values, rows twice, replies over the limit, endless or stalled
streams, or nothing. Each case: the probe answers within its deadline with
acl_up 0 and the cause, or with the row skipped and counted; the body
passes `promtool check metrics`; the log has one line per event; a good
device is served meanwhile. Then memory: hostile probes in flight stay
within the bound of docs/fleet.md, and the resident size comes back.

    /usr/bin/python3 tests/exporter_device_test.py --build BUILD_DIR
"""

import argparse
import json
import os
import tempfile
import re
import subprocess
import sys
import threading
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fake_device import Answer, FakeDevice, UNIMPLEMENTED, message  # noqa

BUILD = None
SANITIZED = False
TMP = None  # the scratch folder, made by main()
PROMTOOL = "/usr/bin/promtool"
MIB = 1 << 20
MAX_REPLY = 4 * MIB   # --max-reply-bytes of the exporter under test
DEADLINE = 1.5        # seconds a probe may take (scrape timeout 2, margin .5)
WAIT = 20
TABLE = "IPv4AdvanceRules"  # the unary table the cases answer


def rows(*rows, table=TABLE):
    return json.dumps({table: {"Rule": list(rows)}}).encode()


def rule(**fields):
    return dict({"GroupID": 3000, "RuleID": 1, "Count": 5, "Status": 1},
                **fields)


def one_table(reply, table=TABLE):
    """A device that answers `reply` (bytes, or an Answer) for one table
    and implements no other."""
    answer = reply if isinstance(reply, Answer) else Answer([message(reply)])
    return lambda t: answer if t == table else UNIMPLEMENTED


def endless(piece):
    while True:
        yield piece


def tiny_stream(count):
    """A valid answer of the streamed table in `count` one-byte pieces."""
    yield message(b'{"IPv4BasicRules":{"Rule":[')
    block = message(b" ") * 8192
    for _ in range(count // 8192):
        yield block
    yield message(b"]}}")


GOOD = rows(rule(), rule(RuleID=2))
DEEP = b'{"%s":{"Rule":[{"GroupID":1,"RuleID":1,"Count":1,"X":%s%s}]}}' % (
    TABLE.encode(), b"[" * 5000, b"]" * 5000)
FORGED = 'x"} 1\nacl_up 1\n# TYPE x gauge\\'

# name -> (device answer, expected: ("down", cause) or ("skip", cause) or
# ("up", None)); "a|b": either cause, whichever the machine's speed reaches
# first
CASES = {
    "malformed JSON": (one_table(b"{not json"), ("down", "json")),
    "truncated": (one_table(GOOD[:-3]), ("down", "json")),
    "text after the document": (one_table(GOOD + b' {"x":1}'),
                                ("down", "json")),
    "a brace too many": (one_table(GOOD + b"}"), ("down", "json")),
    "not UTF-8": (one_table(GOOD.replace(b"3000", b'"\xff\xfe"', 1)),
                  ("down", "json")),
    "NaN": (one_table(GOOD.replace(b'"Count": 5', b'"Count": NaN', 1)),
            ("down", "json")),
    "rows not a list": (one_table(b'{"%s":{"Rule":7}}' % TABLE.encode()),
                        ("down", "json")),
    # skipped without recursion in a key the exporter does not read
    "deep nesting in an unknown key": (one_table(DEEP), ("up", None)),
    "deep nesting as a value": (one_table(rows(rule(Count=[[[[[[[[1]]]]]]]]))),
                                ("skip", "value_type")),
    "deep nesting as the document": (one_table(b"[" * 100000),
                                     ("down", "json")),
    "count a string": (one_table(rows(rule(Count="5"))),
                       ("skip", "value_string")),
    "negative count": (one_table(rows(rule(Count=-1))),
                       ("skip", "value_negative")),
    "count beyond 2^64": (one_table(rows(rule(Count=2 ** 64))),
                          ("skip", "value_too_large")),
    "fractional count": (one_table(rows(rule(Count=1.5))),
                         ("skip", "value_fractional")),
    "count null": (one_table(rows(rule(Count=None))), ("skip", "value_type")),
    "label an object": (one_table(rows(rule(GroupID={"a": 1}))),
                        ("skip", "bad_label")),
    "control character": (one_table(rows(rule(GroupID="a\x01b"))),
                          ("skip", "control_char")),
    "same row twice": (one_table(rows(rule(), rule())),
                       ("skip", "duplicate_series")),
    "repeated key": (one_table(GOOD.replace(b'"RuleID": 1',
                                            b'"RuleID": 1, "RuleID": 9', 1)),
                     ("skip", "repeated_key")),
    "two keys of one label": (one_table(rows(rule(GroupIndex=7))),
                              ("skip", "repeated_key")),
    "a row not an object": (one_table(rows(rule(), 5)),
                            ("skip", "not_object")),
    "extra value keys": (one_table(rows(rule(**{"Count%d" % i: i
                                                for i in range(40)}))),
                         ("up", None)),
    "quotes, backslashes, newlines": (one_table(rows(rule(GroupID=FORGED))),
                                      ("up", None)),
    "over --max-reply-bytes": (one_table(b"[" + b" " * MAX_REPLY + b"]"),
                               ("down", "too_large")),
    "endless stream": (one_table(Answer(endless(message(b" " * 4096))),
                                 table="IPv4BasicRules"),
                       ("down", "too_large")),
    # A fast machine reads --max-reply-bytes of them before the deadline.
    "millions of tiny pieces": (one_table(Answer(tiny_stream(1 << 24)),
                                          table="IPv4BasicRules"),
                                ("down", "deadline|too_large")),
    "stalls halfway": (one_table(Answer([message(GOOD)[:20]], stall=True)),
                       ("down", "deadline")),
    "never answers": (one_table(Answer(silent=True)), ("down", "deadline")),
    "error with a forged log line": (one_table(Answer(
        status=13, text="boom\nacl-exporter: probe of 1.2.3.4:1 failed: x",
        reason="r" * 5000)), ("down", "error")),
}


class Exporter:
    """A running acl-exporter on 127.0.0.1 with its log in a file."""

    def __init__(self, *args, env=None):
        self.log = open(os.path.join(TMP, "exporter.log"), "w+")
        self.proc = subprocess.Popen(env=env, args=
            [os.path.join(BUILD, "acl-exporter"), "--listen", "127.0.0.1:0",
             "--max-reply-bytes", str(MAX_REPLY)] + list(args),
            stdout=subprocess.PIPE, stderr=self.log, text=True)
        line = self.proc.stdout.readline()
        assert line.startswith("listening on "), line
        self.addr = line.split()[-1]

    def get(self, path, timeout=WAIT):
        request = urllib.request.Request(
            "http://%s/%s" % (self.addr, path),
            headers={"X-Prometheus-Scrape-Timeout-Seconds": "2"})
        with urllib.request.urlopen(request, timeout=timeout) as r:
            return r.read().decode()

    def probe(self, target):
        began = time.monotonic()
        body = self.get("probe?target=" + target)
        return body, time.monotonic() - began

    def lines(self):
        self.log.seek(0)
        return self.log.read().splitlines()

    def rss(self, key="VmRSS"):
        with open("/proc/%d/status" % self.proc.pid) as f:
            return int(re.search(key + r":\s*(\d+) kB", f.read())[1]) * 1024

    def close(self):
        self.proc.kill()
        self.proc.wait(timeout=WAIT)
        self.proc.stdout.close()
        self.log.close()


def value(body, series):
    match = re.search("^%s (\\S+)$" % re.escape(series), body, re.M)
    return float(match[1]) if match else None


class HostileDeviceTest(unittest.TestCase):
    def setUp(self):
        self.exporter = Exporter("--timeout-margin", "0.5")
        self.addCleanup(self.exporter.close)
        self.good = FakeDevice(one_table(GOOD))
        self.addCleanup(self.good.close)

    def check_body(self, body):
        check = subprocess.run([PROMTOOL, "check", "metrics"], input=body,
                               capture_output=True, text=True, timeout=WAIT)
        self.assertEqual(0, check.returncode, check.stdout + check.stderr)

    def failures(self, causes):
        """acl_exporter_probe_failures_total{cause} on /metrics, summed
        over the causes ("a|b")."""
        body = self.exporter.get("metrics")
        return sum(value(body, 'acl_exporter_probe_failures_total'
                         '{cause="%s"}' % cause) or 0
                   for cause in (causes or "").split("|") if cause)

    def test_cases(self):
        self.assertTrue(os.access(PROMTOOL, os.X_OK),
                        "run scripts/setup.sh (package prometheus)")
        for name, (answer, (outcome, cause)) in CASES.items():
            with self.subTest(case=name):
                device = FakeDevice(answer)
                self.addCleanup(device.close)
                before = len(self.exporter.lines())
                failed = self.failures(cause)
                result = {}
                hostile = threading.Thread(target=lambda: result.update(
                    zip(("body", "took"), self.exporter.probe(device.addr))))
                hostile.start()
                # A good device is served while the hostile probe runs.
                good, took = self.exporter.probe(self.good.addr)
                self.assertEqual(1, value(good, "acl_up"))
                self.assertLess(took, DEADLINE)
                hostile.join(WAIT)
                body = result["body"]
                self.assertLess(result["took"], DEADLINE + 1)
                self.check_body(body)
                new = self.exporter.lines()[before:]
                # Every log line is the exporter's own, one per event.
                for line in new:
                    self.assertTrue(line.startswith("acl-exporter: "), line)
                    self.assertLess(len(line), 1000)
                up = value(body, "acl_up")
                logged = [l for l in new if device.addr in l]
                if outcome == "down":
                    self.assertEqual(0, up, body)
                    self.assertEqual(failed + 1, self.failures(cause), new)
                    self.assertEqual(1, len(logged), new)
                else:
                    self.assertEqual(1, up, body)
                    if cause:
                        self.assertGreater(value(
                            body, 'acl_probe_rows_skipped{cause="%s"}'
                            % cause), 0, body)
                        # Logged once and counted on /metrics by cause.
                        self.assertEqual(1, len(logged), new)
                        self.assertIn(cause, logged[0])
                        self.assertGreater(value(self.exporter.get(
                            "metrics"), 'acl_exporter_rows_skipped_total'
                            '{cause="%s"}' % cause) or 0, 0)
                    else:
                        skipped = re.findall(
                            r'^acl_probe_rows_skipped\{.*\} (\d+)$', body,
                            re.M)
                        self.assertEqual({"0"}, set(skipped), body)
                device.close()

    def test_label_text_cannot_forge_a_series(self):
        device = FakeDevice(one_table(rows(rule(GroupID=FORGED))))
        self.addCleanup(device.close)
        body, _ = self.exporter.probe(device.addr)
        self.assertIn('acl_rule_count_total{table="%s",group="x\\"} 1\\n'
                      'acl_up 1\\n# TYPE x gauge\\\\",rule="1"} 5\n' % TABLE,
                      body)
        self.assertEqual(1, len(re.findall("^acl_up ", body, re.M)))

    def test_only_the_chosen_tables_and_the_token(self):
        # The HTTP side reads every table; each is asked once.
        device = FakeDevice(one_table(GOOD))
        self.addCleanup(device.close)
        self.exporter.probe(device.addr)
        tables = sorted(t for t, _ in device.calls)
        self.assertEqual(len(tables), len(set(tables)))
        self.assertIn(TABLE, tables)


class MemoryTest(unittest.TestCase):
    """Hostile probes at --max-probes in flight: the peak stays within the
    bound per probe of docs/fleet.md, and the resident size comes back to
    within 10 % of where it started."""

    IN_FLIGHT = 4

    def test_memory_comes_back(self):
        # Under the sanitizers freed memory would wait in ASan's
        # quarantine: given back at once here.
        env = dict(os.environ, ASAN_OPTIONS=os.environ.get(
            "ASAN_OPTIONS", "") + ":quarantine_size_mb=0"
            ":allocator_release_to_os_interval_ms=0")
        exporter = Exporter("--max-probes", str(self.IN_FLIGHT),
                            "--timeout", "5", env=env)
        self.addCleanup(exporter.close)
        # The hostile devices answer well while the exporter warms up, so
        # that their channels are there from the start.
        on = threading.Event()
        good = one_table(GOOD)
        huge = lambda t: good(t) if not on.is_set() else (
            Answer(tiny_stream(1 << 22)) if t == "IPv4BasicRules"
            else Answer([message(b" " * (48 * MIB))]))
        devices = [FakeDevice(good) for _ in range(self.IN_FLIGHT)]
        hostile = [FakeDevice(huge) for _ in range(self.IN_FLIGHT)]
        for d in devices + hostile:
            self.addCleanup(d.close)

        def round_of(targets):
            threads = [threading.Thread(target=exporter.probe, args=(t.addr,))
                       for t in targets]
            for t in threads:
                t.start()
            for t in threads:
                t.join(WAIT)

        for _ in range(3):  # threads, channels and arenas warm
            round_of(devices)
            round_of(hostile)
        time.sleep(0.5)
        start = exporter.rss()
        on.set()
        for _ in range(2):
            round_of(hostile)
        peak = exporter.rss("VmHWM") - start
        round_of(devices)
        # Given back within a few seconds (gRPC's threads end their reads).
        deadline = time.monotonic() + 5
        end = exporter.rss()
        while end >= start * 1.1 and time.monotonic() < deadline:
            time.sleep(0.25)
            end = exporter.rss()
        if not SANITIZED:
            # docs/fleet.md: at most 2 replies of the channel's quota,
            # 2 held replies and the one being parsed, per probe in flight.
            bound = self.IN_FLIGHT * (5 * MAX_REPLY + 4 * MIB) + 16 * MIB
            self.assertLess(peak, bound, "peak over the documented bound")
        self.assertLess(end, start * 1.1,
                        "resident %d MB after, %d MB before" % (end >> 20,
                                                               start >> 20))


def main():
    global BUILD, SANITIZED, TMP
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    args, rest = parser.parse_known_args()
    BUILD = os.path.abspath(args.build)
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        SANITIZED = "ACL_SANITIZE:BOOL=ON" in f.read()
    tmp = tempfile.TemporaryDirectory(prefix="acl-device-")
    TMP = tmp.name
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
