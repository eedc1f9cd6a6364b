#!/usr/bin/python3
"""aclctl --targets against two acl-devhost devices and an address where
nothing listens: a line per device in the file's order, and the exit status.

    /usr/bin/python3 tests/fleet_test.py --build BUILD_DIR [unittest args]
"""

import json
import os
import socket
import subprocess
import tempfile
import unittest

import e2e_test as e2e
from e2e_test import TOKEN, WAIT

RULE = '{"rule":[{"GroupID":2000}]}'


def free_port():
    """A loopback port that nothing listens on (right after the call)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class TargetsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="acl-fleet-")
        self.a = e2e.Devhost("--reject", "ACL/IPv4BasicRules/Rule/GroupID")
        self.b = e2e.Devhost("--token", "b-token", token=False)
        self.addCleanup(self.tmp.cleanup)
        self.addCleanup(self.a.kill)
        self.addCleanup(self.b.kill)
        self.lines = {"a": "a %s" % self.a.addr,
                      "b": "b %s b-token" % self.b.addr,
                      "down": "down 127.0.0.1:%d" % free_port()}

    def aclctl(self, names, *args, extra=""):
        path = os.path.join(self.tmp.name, "targets")
        with open(path, "w") as f:
            f.write("# devices\n\n" + extra +
                    "".join(self.lines[n] + "\n" for n in names))
        env = {k: v for k, v in os.environ.items() if k != "ACL_TOKEN"}
        return subprocess.run(
            [os.path.join(e2e.BUILD, "aclctl"), "--targets", path, "--token",
             TOKEN, "--parallel", "2", "--timeout", str(WAIT)] + list(args),
            env=env, capture_output=True, text=True, timeout=2 * WAIT)

    def test_a_line_per_device_in_order(self):
        base = {"Base": {"ProcessingStatus": 1}}
        cases = [  # devices, query, (device, code, result or reason), exit
            (["a", "down", "b"], ["Base"],
             [("a", "OK", base), ("down", "UNAVAILABLE", None),
              ("b", "OK", base)], 1),
            (["b", "a"], ["IPv4BasicRulesStream", RULE],
             [("b", "OK", None), ("a", "INVALID_ARGUMENT", None)], 1),
            (["b", "a"], ["IPv4BasicRules", RULE],
             [("b", "OK", None),
              ("a", "INVALID_ARGUMENT", "rejected by --reject")], 1),
            (["b", "a", "b"], ["Base"],
             [("b", "OK", base), ("a", "OK", base), ("b", "OK", base)], 0),
        ]
        for names, query, want, status in cases:
            with self.subTest(names=names, query=query):
                run = self.aclctl(names, *query)
                self.assertEqual(status, run.returncode, run.stderr)
                got = [json.loads(line) for line in run.stdout.splitlines()]
                self.assertEqual([w[:2] for w in want],
                                 [(g["device"], g["code"]) for g in got])
                for (_, code, value), line in zip(want, got):
                    if value is not None:
                        self.assertEqual(value, line.get(
                            "result" if code == "OK" else "reason"))
                    self.assertEqual(code != "OK", "message" in line)
                failed = sum(w[1] != "OK" for w in want)
                self.assertEqual(
                    "aclctl: %d of %d devices failed\n" % (failed, len(want))
                    if failed else "", run.stderr)

    def test_malformed_line_is_a_usage_error(self):
        run = self.aclctl(["a"], "Base", extra="lonely\n")
        self.assertEqual(2, run.returncode)
        self.assertIn("targets:3:", run.stderr)
        self.assertEqual("", run.stdout)


if __name__ == "__main__":
    e2e.main()
