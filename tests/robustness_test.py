#!/usr/bin/python3
"""Robustness of acl-devhost end to end: bad input of every kind and clients
that vanish leave it serving, the memory of large calls comes back, and a
stop keeps its grace whatever runs.

Requests are hand-encoded bytes sent through generic calls, so that they can
be malformed. Uses the processes and clients of e2e_test.py. Under the
sanitizer build the requests are smaller and memory is not measured.

    /usr/bin/python3 tests/robustness_test.py --build BUILD_DIR [unittest args]
"""

import os
import signal
import subprocess
import sys
import time
import unittest

import grpc

import e2e_test as e2e
from e2e_test import TOKEN, WAIT, ServerCase

BASIC = "/acl.ACLService/GetJsonACLIPv4BasicRules"
STREAM = "/acl.ACLService/GetJsonACLIPv4BasicRulesStream"
HEALTH = "/grpc.health.v1.Health/Check"
MIB = 1 << 20
MAX_RECV = MIB  # --max-recv-bytes of the bad-input host
Code = grpc.StatusCode

SANITIZED = False  # set in main() from the build's cache
RULES = 100000     # rules of a large request (fewer when sanitized)


# ---- Hand-encoded requests --------------------------------------------------

def varint(n):
    out = bytearray()
    while n > 0x7f:
        out.append(n & 0x7f | 0x80)
        n >>= 7
    return bytes(out + bytes([n]))


def num(field, value):
    return varint(field << 3) + varint(value)


def text(field, data):
    return varint(field << 3 | 2) + varint(len(data)) + data


def rule(*fields):
    """One element of ACLIPv4BasicRules.rule (field 1)."""
    return text(1, b"".join(fields))


def rules(n, last=None):
    """n rules {GroupID: 2000, RuleID: i}; `last` replaces the last one."""
    body = [rule(num(1, 2000), num(2, i % 65535)) for i in range(n)]
    if last is not None:
        body[-1] = last
    return b"".join(body)


def config(tmp, n):
    """A configuration file with n generated basic rules."""
    path = os.path.join(tmp, "rules%d.json" % n)
    if not os.path.exists(path):
        with open(path, "w") as f:
            subprocess.run([e2e.PYTHON, os.path.join(e2e.SOURCE, "scripts",
                                                     "gen_config.py"),
                            "--rules", str(n)],
                           stdout=f, check=True, timeout=WAIT)
    return path


# ---- Process figures --------------------------------------------------------

def status(pid, key):
    """A figure of /proc/PID/status in bytes (VmRSS, VmHWM)."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(key)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_until(predicate, seconds=WAIT):
    end = time.monotonic() + seconds
    while not predicate() and time.monotonic() < end:
        time.sleep(0.1)
    return predicate()


class HostCase(ServerCase):
    def raw(self, server, method=BASIC, stream=False):
        """A generic callable of `method` on a fresh channel to `server`."""
        channel = grpc.insecure_channel(server.addr, options=[
            ("grpc.max_send_message_length", -1),
            ("grpc.max_receive_message_length", -1)])
        self.channels.append(channel)
        return (channel.unary_stream if stream else channel.unary_unary)(
            method)

    def assertServing(self, server):
        """A health check and a normal query still answer."""
        health = self.raw(server, HEALTH)
        self.assertEqual(b"\x08\x01", health(b"", timeout=WAIT))
        answer = self.raw(server)(rules(1), metadata=[("token_id", TOKEN)],
                                  timeout=WAIT)
        self.assertIn(b'"RuleID":0', answer)

    def assertMemoryBack(self, server, baseline):
        """Resident memory back within 32 MiB of `baseline` (not measured
        when sanitized)."""
        if SANITIZED:
            return
        rss = lambda: status(server.proc.pid, "VmRSS")
        self.assertTrue(wait_until(lambda: rss() < baseline + 32 * MIB),
                        "%.0f MiB resident after, %.0f MiB before"
                        % (rss() / MIB, baseline / MIB))

    def settled_rss(self, server):
        self.assertServing(server)
        time.sleep(1)
        return status(server.proc.pid, "VmRSS")


# ---- Bad input --------------------------------------------------------------

class BadInputTest(HostCase):
    def test_bad_requests_leave_the_host_serving(self):
        server, _ = self.start("--max-recv-bytes", str(MAX_RECV))
        baseline = self.settled_rss(server)
        good = [("token_id", TOKEN)]
        cases = [  # name, request, metadata, status code(s)
            ("no token", b"", [], Code.PERMISSION_DENIED),
            ("empty token", b"", [("token_id", "")], Code.PERMISSION_DENIED),
            ("1 MB token", b"", [("token_id", "t" * MIB)],
             (Code.RESOURCE_EXHAUSTED, Code.UNAVAILABLE)),  # gRPC's choice
            ("bad token first", b"", [("token_id", "x")] + good,
             Code.PERMISSION_DENIED),
            ("good token first", b"", good + [("token_id", "x")], Code.OK),
            ("garbage bytes", b"\xff" * 64, good, Code.INTERNAL),
            ("truncated", rules(3)[:-1], good, Code.INTERNAL),
            ("wrong wire type", num(1, 5), good, Code.OK),
            ("oversized", rule(text(10, b"c" * MAX_RECV)), good,
             Code.RESOURCE_EXHAUSTED),
            ("NUL in a string", rule(text(7, b"v\x00rf")), good, Code.OK),
            ("NUL in an address",
             rule(text(14, text(1, b"10.1.1.1\x00junk"))), good, Code.OK),
            ("invalid UTF-8", rule(text(10, b"\xff\xfe\xc3")), good, Code.OK),
            ("long string", rule(text(10, b"c" * (MAX_RECV // 2))), good,
             Code.INVALID_ARGUMENT),
            ("many rules", rules(RULES), good, Code.OK),
            ("many rules, last bad", rules(RULES, rule(num(1, 1))), good,
             Code.INVALID_ARGUMENT),
            ("many rules and no token", rules(RULES), [],
             Code.PERMISSION_DENIED),
        ]
        for name, request, metadata, code in cases:
            for method in (BASIC, STREAM):
                with self.subTest(case=name, method=method):
                    call = self.raw(server, method, stream=method == STREAM)
                    try:
                        reply = call(request, metadata=metadata, timeout=WAIT)
                        if method == STREAM:
                            reply = list(reply)
                        got = Code.OK
                    except grpc.RpcError as error:
                        got = error.code()
                    self.assertIn(got, code if isinstance(code, tuple)
                                  else (code,))
        self.assertServing(server)
        self.assertMemoryBack(server, baseline)

    def test_a_client_that_vanishes_mid_stream(self):
        # An answer of some 1.3 MB in 4 KiB pieces: flow control holds the
        # stream in the middle while its client does not read.
        server, _ = self.start("--config", config(e2e._tmp.name, 5000),
                               "--split-bytes", "4096")
        baseline = self.settled_rss(server)
        client = ("import grpc, sys\n"
                  "channel = grpc.insecure_channel(sys.argv[1])\n"
                  "stream = channel.unary_stream(sys.argv[2])(\n"
                  "    b'', metadata=[('token_id', sys.argv[3])])\n"
                  "next(stream)\n"
                  "print('reading', flush=True)\n"
                  "sys.stdin.read()\n")
        child = subprocess.Popen(
            [e2e.PYTHON, "-c", client, server.addr, STREAM, TOKEN],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.assertEqual("reading\n", child.stdout.readline())
        child.kill()
        child.communicate(timeout=WAIT)
        self.assertServing(server)
        self.assertMemoryBack(server, baseline)


# ---- Memory -----------------------------------------------------------------

class MemoryTest(HostCase):
    def test_large_requests_give_their_memory_back(self):
        server, _ = self.start()
        baseline = self.settled_rss(server)
        call = self.raw(server)
        request = rules(RULES)
        for i in range(3 if SANITIZED else 10):
            call(request, metadata=[("token_id", TOKEN)], timeout=WAIT)
            if i == 0 and not SANITIZED:
                peak = status(server.proc.pid, "VmHWM") - baseline
                self.assertLess(peak, 160 * MIB, "peak of one large request")
        self.assertMemoryBack(server, baseline)


# ---- Stopping ---------------------------------------------------------------

class StopTest(HostCase):
    def stop(self, server, signals, timeout=WAIT):
        for sig in signals:
            server.proc.send_signal(sig)
            time.sleep(0.2)
        self.assertEqual(0, server.proc.wait(timeout=timeout))

    def test_an_idle_connection_does_not_hold_the_stop(self):
        # gRPC alone would keep the connection, and the server, some five
        # seconds after the client has been told to go away.
        server, _ = self.start("--grace", "60")
        self.assertServing(server)
        self.stop(server, [signal.SIGTERM], timeout=3)

    def test_calls_running_past_the_grace_end(self):
        # Each call asks for 100 000 rows {Action: 1, MatchIndex: i} of a
        # 20 000-rule configuration: no index narrows them, so its adapter
        # alone would run for tens of seconds.
        request = b"".join(rule(num(3, 1), num(13, i)) for i in range(100000))
        cases = [("grace over", ["--grace", "1"], [signal.SIGTERM]),
                 ("second signal", ["--grace", "60"],
                  [signal.SIGTERM, signal.SIGINT])]
        for name, args, signals in cases:
            with self.subTest(case=name):
                server, _ = self.start("--config",
                                       config(e2e._tmp.name, 20000), *args)
                start = cpu_seconds(server.proc.pid)
                calls = [self.raw(server).future(
                    request, metadata=[("token_id", TOKEN)], timeout=3 * WAIT)
                         for _ in range(4)]
                # Busy for two seconds: the calls are past their trees.
                wait_until(lambda: cpu_seconds(server.proc.pid) > start + 2)
                self.stop(server, signals)
                # Calls the server had not yet started are refused by gRPC.
                codes = [c.exception().code() for c in calls]
                self.assertIn(Code.UNAVAILABLE, codes)
                self.assertLessEqual(set(codes),
                                     {Code.UNAVAILABLE, Code.CANCELLED})


def main():
    global SANITIZED, RULES
    rest = e2e.parse_args()
    with open(os.path.join(e2e.BUILD, "CMakeCache.txt")) as f:
        SANITIZED = "ACL_SANITIZE:BOOL=ON" in f.read()
    if SANITIZED:
        RULES = 20000
    unittest.main(argv=[sys.argv[0]] + rest)


setUpModule = e2e.setUpModule
tearDownModule = e2e.tearDownModule

if __name__ == "__main__":
    main()
