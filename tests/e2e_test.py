#!/usr/bin/python3
"""End-to-end tests: acl-devhost serving the module, queried by aclctl and by
a Python gRPC client whose stubs are generated into a temporary directory;
then the host's robustness: bad input and clients that vanish leave it
serving, the memory of large calls comes back, and a stop keeps its grace.

Each test starts its own servers on 127.0.0.1 (port 0), which end with it;
every wait is bounded by WAIT. What the module answers in detail is
the business of the C++ tests; these check that the pieces work together.
Under the sanitizer build large requests are smaller and memory is not
measured.

    /usr/bin/python3 tests/e2e_test.py --build BUILD_DIR [unittest args]

A cross build's host is tested from a native build's clients: --host-build
CROSS_DIR --emulator 'qemu-aarch64-static -L /' runs CROSS_DIR's acl-devhost
through the emulator, and HostAlikeTest compares its answers with the native
host's.
"""

import argparse
import base64
import concurrent.futures
import ctypes.util
import json
import os
import re
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

import grpc
from google.protobuf import json_format

from tls_files import bcrypt, make_certs

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(SOURCE, "build")
HOST = None  # the acl-devhost under test (emulator and path); BUILD's
PYTHON = "/usr/bin/python3"
BUF = os.path.join(SOURCE, ".tools", "buf", "node_modules", ".bin", "buf")
TOKEN = "e2e-token"
WAIT = 20  # seconds: the bound of every wait
STREAM = "GetJsonACLIPv4BasicRulesStream"
BASIC = "GetJsonACLIPv4BasicRules"
HEALTH = "/grpc.health.v1.Health/Check"
Code = grpc.StatusCode
OK = Code.OK
MIB = 1 << 20
MAX_RECV = MIB  # --max-recv-bytes of the bad-input host

acl = acl_grpc = None  # generated modules
ROWS = {}              # registry table name -> its row name (or None)
CONFIG = None          # a generated configuration of 20 000 basic rules
SANITIZED = False      # the build under test is the sanitizer build
RULES = 100000         # rules of a large request (fewer when sanitized)
_tmp = None


def setUpModule():
    global acl, acl_grpc, ROWS, CONFIG, SANITIZED, RULES, _tmp
    for name in ("acl-devhost", "aclctl"):
        if not os.access(os.path.join(BUILD, name), os.X_OK):
            raise RuntimeError("not built: %s/%s (pass --build DIR)"
                               % (BUILD, name))
    if not os.access(BUF, os.X_OK):
        raise RuntimeError("no %s: run scripts/setup.sh" % BUF)
    _tmp = tempfile.TemporaryDirectory(prefix="acl-e2e-")
    sys.path.insert(0, os.path.join(SOURCE, "examples"))
    import client  # the example client, whose stubs these tests share
    acl, acl_grpc = client.load_stubs(_tmp.name)
    with open(os.path.join(SOURCE, "devhost", "data", "registry.json")) as f:
        ROWS = {t["name"]: t.get("row") for t in json.load(f)["tables"]}
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        SANITIZED = "ACL_SANITIZE:BOOL=ON" in f.read()
    RULES = 20000 if SANITIZED else 100000
    CONFIG = write("rules20000.json", gen_config("--rules", "20000"))


def tearDownModule():
    if _tmp is not None:
        _tmp.cleanup()


def write(name, text):
    """Writes `text` to the file `name` of the temporary directory; returns
    its path."""
    path = os.path.join(_tmp.name, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def gen_config(*args):
    """A generated configuration's text."""
    return subprocess.run(
        [PYTHON, os.path.join(SOURCE, "scripts", "gen_config.py")] +
        list(args), capture_output=True, text=True, check=True,
        timeout=WAIT).stdout


def methods():
    """The methods of acl.ACLService by name, in schema order."""
    service = acl.DESCRIPTOR.services_by_name["ACLService"]
    return {m.name: m for m in service.methods}


def table_of(name):
    return name[len("GetJsonACL"):].removesuffix("Stream")


def request_of(name, data):
    return json_format.ParseDict(
        data, methods()[name].input_type._concrete_class())


def encoded(name=BASIC, data=None, **rule):
    """The request's bytes: `data`, or one rule of the given fields."""
    return request_of(name, data or {"rule": [rule]}).SerializeToString()


def rules(n, **last):
    """n basic rules {GroupID: 2000, RuleID: i}; `last` sets fields of the
    last one."""
    request = request_of(BASIC, {})
    for i in range(n):
        request.rule.add(GroupID=2000, RuleID=i % 65535)
    for field, value in last.items():
        setattr(request.rule[-1], field, value)
    return request.SerializeToString()


# ---- Processes and clients --------------------------------------------------

class Devhost:
    """A running acl-devhost (or acl-exporter), up to its `listening on`
    line; kill() ends it. Its output goes to temporary files."""

    def __init__(self, *args, token=True, host=None):
        command = (host or HOST) + ["--listen", "127.0.0.1:0"] + (
            ["--token", TOKEN] if token else [])
        self.out = tempfile.TemporaryFile("w+")
        self.err = tempfile.TemporaryFile("w+")
        self.proc = subprocess.Popen(command + list(args), stdout=self.out,
                                     stderr=self.err, text=True)
        self.head = ""  # stdout up to the listening line
        wait_until(lambda: self._listening() or self.proc.poll() is not None)
        if not self.head:
            self.err.seek(0)
            text = self.err.read()
            self.kill()
            raise AssertionError("devhost did not listen: " + text)

    def _listening(self):
        self.out.seek(0)
        match = re.search(r"^listening on (127\.0\.0\.1:\d+)\n",
                          self.out.read(), re.M)
        if match:
            self.addr = match.group(1)
            self.head = match.string[:match.end()]
        return match

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=WAIT)
        self.out.close()
        self.err.close()


def call(stub, name, data=None, token=TOKEN):
    """Calls method `name` with `data` (a request, or its fields as a dict);
    returns (status code, details, result pieces)."""
    request = data if hasattr(data, "DESCRIPTOR") else request_of(
        name, data or {})
    pieces = []
    try:
        replies = getattr(stub, name)(request, metadata=[("token_id", token)],
                                      timeout=WAIT)
        for reply in replies if name == STREAM else [replies]:
            pieces.append(reply.result)
    except grpc.RpcError as error:
        return error.code(), error.details(), pieces
    return OK, "", pieces


def aclctl(addr, *args, stdin=None):
    command = [os.path.join(BUILD, "aclctl")]
    if addr is not None:
        command += ["--addr", addr, "--token", TOKEN]
    env = {k: v for k, v in os.environ.items() if k != "ACL_TOKEN"}
    return subprocess.run(command + list(args), input=stdin, env=env,
                          capture_output=True, text=True, timeout=WAIT)


def proc_status(pid, key):
    """A figure of /proc/PID/status in bytes (VmRSS, VmHWM)."""
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(key + r":\s*(\d+) kB", f.read())[1]) * 1024


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def free_port():
    """A loopback port that nothing listens on (right after the call)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def closed_port():
    """A loopback port that a closed connection holds (its TIME_WAIT, a
    minute): the connection's side that closed first keeps it."""
    with socket.socket() as server, socket.socket() as client:
        server.bind(("127.0.0.1", 0))
        server.listen()
        client.connect(server.getsockname())
        port = client.getsockname()[1]
        accepted, _ = server.accept()
        client.close()
        accepted.close()
        return port


def wait_until(predicate, seconds=WAIT):
    end = time.monotonic() + seconds
    while not predicate() and time.monotonic() < end:
        time.sleep(0.1)
    return predicate()


class ServerCase(unittest.TestCase):
    """Starts servers and channels for a test, which end with it."""

    def channel(self, addr, options=()):
        channel = grpc.insecure_channel(addr, options=list(options))
        self.addCleanup(channel.close)
        return channel

    def start(self, *args, token=True, host=None):
        """A server and a stub of it."""
        server = Devhost(*args, token=token, host=host)
        self.addCleanup(server.kill)
        return server, acl_grpc.ACLServiceStub(self.channel(server.addr))

    def answer(self, stub, name, data=None):
        code, details, pieces = call(stub, name, data)
        self.assertEqual(OK, code, details)
        return json.loads("".join(pieces))

    def raw(self, server, method=BASIC, stream=False):
        """A generic callable of `method` (a name, or a path) on a fresh
        channel to `server`, for requests given as bytes."""
        channel = self.channel(server.addr, [
            ("grpc.max_send_message_length", -1),
            ("grpc.max_receive_message_length", -1)])
        path = method if "/" in method else "/acl.ACLService/" + method
        return (channel.unary_stream if stream else channel.unary_unary)(path)

    def assertServing(self, server, baseline=None):
        """A health check and a normal query still answer; resident memory
        is back within 32 MiB of `baseline`, if given (not measured when
        sanitized)."""
        self.assertEqual(b"\x08\x01",
                         self.raw(server, HEALTH)(b"", timeout=WAIT))
        answer = self.raw(server)(rules(1), metadata=[("token_id", TOKEN)],
                                  timeout=WAIT)
        self.assertIn(b'"RuleID":0', answer)
        if baseline is None or SANITIZED:
            return
        rss = lambda: proc_status(server.proc.pid, "VmRSS")
        self.assertTrue(wait_until(lambda: rss() < baseline + 32 * MIB),
                        "%.0f MiB resident after, %.0f MiB before"
                        % (rss() / MIB, baseline / MIB))

    def settled_rss(self, server):
        self.assertServing(server)
        time.sleep(1)
        return proc_status(server.proc.pid, "VmRSS")


# ---- Adapters ---------------------------------------------------------------

class AdapterTest(ServerCase):
    def test_every_method_through_each_adapter(self):
        self.assertEqual(26, len(methods()))
        self.assertEqual(set(ROWS), {table_of(n) for n in methods()})
        _, echo = self.start("--adapter", "echo")
        _, json_ = self.start("--adapter", "json")
        text = '{"fixed": "\u00e9t\u00e9"}' * 3
        _, fixed = self.start("--adapter", "fixed", "--answer-file",
                              write("fixed_answer.json", text),
                              "--split-bytes", "8")
        for name in methods():
            with self.subTest(method=name):
                table, row = table_of(name), ROWS[table_of(name)]
                answer = self.answer(echo, name)
                self.assertEqual({"module": "ACL", "table": table},
                                 {k: answer[k] for k in ("module", "table")})
                tree = answer["tree"]
                self.assertEqual("table", tree["kind"])
                # A row table is asked with one default row, of no values.
                self.assertEqual(["row"] if row else [],
                                 [r["kind"] for r in tree["rows"]])
                self.assertEqual([], [c for node in [tree] + tree["rows"]
                                      for c in node["columns"]
                                      if not c["noValue"]])
                self.assertTrue(all(r["columns"] for r in tree["rows"]))
                # The json adapter answers in the table's shape.
                answer = self.answer(json_, name)
                self.assertEqual([table], list(answer))
                self.assertIsInstance(answer[table], dict)
                if row:
                    self.assertEqual([row], list(answer[table]))
                    self.assertIsInstance(answer[table][row], list)
                # The fixed adapter answers the file, in pieces on the stream.
                code, details, pieces = call(fixed, name)
                self.assertEqual((OK, text), (code, "".join(pieces)), details)
                self.assertEqual(name == STREAM, len(pieces) > 1)

# ---- Rejections, sessions, streaming ----------------------------------------

class RejectTest(ServerCase):
    def test_reject_option(self):
        server, stub = self.start("--reject",
                                  "ACL/IPv4BasicRules/Rule/GroupID")
        request = {"rule": [{"GroupID": 2000}]}
        reason = "the value of GroupID is invalid"
        # A unary call with a non-OK status carries no reply: the host's
        # reason comes as a trailer there, as a message on the stream.
        cases = [("GetJsonACLIPv4BasicRules", [],
                  "reason: rejected by --reject\n"),
                 (STREAM, ["{Err:rejected by --reject}"], "")]
        for name, pieces, trailer in cases:
            with self.subTest(method=name):
                self.assertEqual((Code.INVALID_ARGUMENT, reason, pieces),
                                 call(stub, name, request))
                run = aclctl(server.addr, name, json.dumps(request))
                self.assertEqual(
                    (1, "", "error: INVALID_ARGUMENT: %s\n" % reason +
                     "".join(p + "\n" for p in pieces) + trailer),
                    (run.returncode, run.stdout, run.stderr))

    def test_each_unary_call_gets_its_own_reason_trailer(self):
        _, stub = self.start()
        cases = [  # rule, reason trailer (None: none)
            ({"GroupID": 1}, "a number from 2000 to 2999"),
            ({"srcipv4": [{"SrcIPv4Addr": "10.1"}]},
             "a dotted IPv4 address, such as 10.1.1.0"),
            ({"GroupID": 2000}, None),
        ]

        def reason_of(rule):
            try:
                _, outcome = stub.GetJsonACLIPv4BasicRules.with_call(
                    request_of(BASIC, {"rule": [rule]}),
                    metadata=[("token_id", TOKEN)], timeout=WAIT)
            except grpc.RpcError as error:
                outcome = error
            return dict(outcome.trailing_metadata() or ()).get(
                "acl-devhost-reason")

        # Calls at once on the server's threads, each its own reason.
        work = [cases[i % len(cases)] for i in range(60)]
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            got = list(pool.map(lambda case: reason_of(case[0]), work))
        self.assertEqual([reason for _, reason in work], got)


class TokenTest(ServerCase):
    def test_random_token_without_token_option(self):
        server, stub = self.start(token=False)
        match = re.fullmatch(r"token: (\S+)\nlistening on \S+\n", server.head)
        self.assertIsNotNone(match, server.head)
        self.assertEqual(OK, call(stub, "GetJsonACLBase",
                                  token=match.group(1))[0])


# ---- Loading and serving ----------------------------------------------------

class ModuleLoadTest(unittest.TestCase):
    def test_bad_modules(self):
        cases = [  # module path, what the message must hold besides it
            (os.path.join(_tmp.name, "missing", "libacl_service.so"), ""),
            (ctypes.util.find_library("z"), "ServiceCreate"),
        ]
        for path, word in cases:
            with self.subTest(module=path):
                run = subprocess.run(
                    HOST + ["--listen", "127.0.0.1:0", "--token", TOKEN,
                            "--module", path],
                    capture_output=True, text=True, timeout=WAIT)
                self.assertNotEqual(0, run.returncode)
                self.assertNotIn("listening on", run.stdout)
                self.assertIn(path, run.stderr)
                self.assertIn(word, run.stderr)


class ServingTest(ServerCase):
    def test_health_and_reflection(self):
        channel = self.channel(self.start()[0].addr)
        check = channel.unary_unary("/grpc.health.v1.Health/Check")
        for service in (b"", b"acl.ACLService"):
            with self.subTest(service=service):
                # HealthCheckRequest{service} -> {status: SERVING}
                request = b"\x0a" + bytes([len(service)]) + service
                self.assertEqual(b"\x08\x01", check(request, timeout=WAIT))
        info = channel.stream_stream(
            "/grpc.reflection.v1alpha.ServerReflection/ServerReflectionInfo")
        # ServerReflectionRequest{list_services: ""}
        replies = list(info(iter([b"\x3a\x00"]), timeout=WAIT))
        self.assertEqual(1, len(replies))
        self.assertIn(b"acl.ACLService", replies[0])

    def test_buf_curl_through_reflection(self):
        # Reflection describes every service served, the health service
        # too: buf curl lists and calls them with no schema of its own.
        server, _ = self.start()
        url = "http://" + server.addr
        cases = [  # arguments, what the output holds
            (["--list-methods", url], "grpc.health.v1.Health/Check"),
            ([url + "/grpc.health.v1.Health/Check"], '"SERVING"'),
            (["-H", "token_id: " + TOKEN,
              url + "/acl.ACLService/GetJsonACLBase"], "ProcessingStatus"),
        ]
        for args, word in cases:
            with self.subTest(args=args):
                run = subprocess.run(
                    [BUF, "curl", "--protocol", "grpc",
                     "--http2-prior-knowledge"] + args,
                    capture_output=True, text=True, timeout=WAIT)
                self.assertEqual(0, run.returncode, run.stderr)
                self.assertIn(word, run.stdout)


class AclctlTest(ServerCase):
    def test_basics(self):
        server, stub = self.start("--adapter", "echo")
        request = {"rule": [{"GroupID": 2000}]}
        rules = self.answer(stub, "GetJsonACLIPv4BasicRules", request)
        base = self.answer(stub, "GetJsonACLBase")
        path = write("request.json", json.dumps(request))
        cases = [  # arguments, stdin, exit status, answer
            (("Base",), None, 0, base),
            (("GetJsonACLBase",), None, 0, base),
            (("IPv4BasicRules", "@" + path), None, 0, rules),
            (("IPv4BasicRules", "-"), json.dumps(request), 0, rules),
            (("NoSuchMethod",), None, 2, None),
        ]
        for args, stdin, status, answer in cases:
            with self.subTest(args=args):
                run = aclctl(server.addr, *args, stdin=stdin)
                self.assertEqual(status, run.returncode, run.stderr)
                if answer is not None:
                    self.assertEqual(answer, json.loads(run.stdout))
        run = aclctl(None, "list")
        self.assertEqual(0, run.returncode, run.stderr)
        self.assertEqual(list(methods()),
                         [line.split()[0]
                          for line in run.stdout.splitlines()[1:]])


class NewcomerErrorsTest(ServerCase):
    """Faults a newcomer meets, each told in one line of the program's own
    words that names what to do: no gRPC log lines or internals."""

    def test_one_sentence_each(self):
        tls = tempfile.mkdtemp(dir=_tmp.name)
        cert, key = os.path.join(tls, "cert.pem"), os.path.join(tls, "key.pem")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
             "-subj", "/CN=localhost", "-addext",
             "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert],
            check=True, capture_output=True, timeout=WAIT)
        plain, _ = self.start()
        secure, _ = self.start("--tls-cert", cert, "--tls-key", key)
        ctl = os.path.join(BUILD, "aclctl")
        token = ["--token", TOKEN]
        cases = [  # command, exit status, what the line holds
            ([ctl, "--addr", plain.addr, "--tls-ca", "/etc/hostname", "Base"],
             2, "holds no PEM certificate"),
            ([ctl, "--addr", secure.addr] + token + ["Base"], 1,
             "if it serves TLS, pass --tls-ca"),
            ([ctl, "--addr", plain.addr, "--tls-ca", cert] + token + ["Base"],
             1, "does not answer TLS: leave out --tls-ca"),
            ([ctl, "--addr", "127.0.0.1:%d" % free_port()] + token + ["Base"],
             1, "nothing listens at"),
            ([ctl, "--addr", plain.addr, "Base"], 1, "pass the host's session "
             "token with --token"),
            (HOST + ["--listen", plain.addr] + token, 1,
             "another program listens there"),
            (HOST + ["--listen", "127.0.0.1:%d" % closed_port()] + token, 1,
             "a recent connection still holds the port"),
            (HOST + ["--reject", "ACL/IPv4BasicRules/RuleID"], 2,
             "did you mean ACL/IPv4BasicRules/Rule/RuleID?"),
            (HOST + ["--reject", "GroupID/"], 2,
             "such as ACL/Base/ProcessingStatus"),
            (HOST + ["--listen", "127.0.0.1:0", "--tls-cert", cert,
                     "--tls-key", cert], 1, "holds no PEM private key"),
        ]
        for command, status, words in cases:
            with self.subTest(words=words):
                run = subprocess.run(command, capture_output=True, text=True,
                                     timeout=WAIT)
                self.assertEqual((status, ""), (run.returncode, run.stdout),
                                 run.stderr)
                self.assertEqual(1, run.stderr.count("\n"), run.stderr)
                self.assertIn(words, run.stderr)
                self.assertNotRegex(run.stderr, r"\.cc:\d|\{created_time")


class TargetsTest(ServerCase):
    """aclctl --targets against two devices and an address where nothing
    listens: a line per device in the file's order, and the exit status."""

    def test_a_line_per_device_in_order(self):
        a, _ = self.start("--reject", "ACL/IPv4BasicRules/Rule/GroupID")
        b, _ = self.start("--token", "b-token", token=False)
        lines = {"a": "a %s" % a.addr, "b": "b %s b-token" % b.addr,
                 "down": "down 127.0.0.1:%d" % free_port(),
                 "lonely": "lonely"}
        base = {"Base": {"ProcessingStatus": 1}}
        rule = '{"rule":[{"GroupID":2000}]}'
        failed = "aclctl: 1 of %d devices failed\n"
        cases = [  # devices, query, (device, code, result or reason), exit,
            # stderr (a pattern)
            (["a", "down", "b"], ["Base"],
             [("a", "OK", base), ("down", "UNAVAILABLE", None),
              ("b", "OK", base)], 1, failed % 3),
            (["b", "a"], ["IPv4BasicRulesStream", rule],
             [("b", "OK", None), ("a", "INVALID_ARGUMENT", None)], 1,
             failed % 2),
            (["b", "a"], ["IPv4BasicRules", rule],
             [("b", "OK", None),
              ("a", "INVALID_ARGUMENT", "rejected by --reject")], 1,
             failed % 2),
            (["b", "a", "b"], ["Base"],
             [("b", "OK", base), ("a", "OK", base), ("b", "OK", base)], 0,
             ""),
            # A malformed line, the file's third, is a usage error.
            (["lonely", "a"], ["Base"], [], 2, "(?s).*targets:3:.*"),
        ]
        for names, query, want, status, stderr in cases:
            with self.subTest(names=names, query=query):
                path = write("targets", "# devices\n\n" +
                             "".join(lines[n] + "\n" for n in names))
                run = aclctl(None, "--targets", path, "--token", TOKEN,
                             "--parallel", "2", "--timeout", str(WAIT),
                             *query)
                self.assertEqual(status, run.returncode, run.stderr)
                self.assertTrue(re.fullmatch(stderr, run.stderr), run.stderr)
                got = [json.loads(line) for line in run.stdout.splitlines()]
                self.assertEqual([w[:2] for w in want],
                                 [(g["device"], g["code"]) for g in got])
                for (_, code, value), line in zip(want, got):
                    if value is not None:
                        self.assertEqual(value, line.get(
                            "result" if code == "OK" else "reason"))
                    self.assertEqual(code != "OK", "message" in line)


# ---- acl-exporter under a real Prometheus ------------------------------------

PROMETHEUS = "/usr/bin/prometheus"
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


def exporter_tls(directory, password):
    """A throwaway CA and a certificate for 127.0.0.1 (tests/tls_files.py),
    and a web configuration serving it with the user "prometheus" and
    `password`. Returns the web configuration's and the CA's paths."""
    make_certs(directory, "web")
    web = os.path.join(directory, "web.yml")
    with open(web, "w") as f:
        f.write("tls_server_config:\n  cert_file: web.pem\n"
                "  key_file: web.key\nbasic_auth_users:\n"
                "  prometheus: '%s'\n" % bcrypt(password))
    return web, os.path.join(directory, "ca.pem")


class PrometheusTest(ServerCase):
    """Prometheus scrapes acl-exporter over HTTPS with basic authentication
    for three devices with different generated configurations: each
    device's series equal its counters, and a stopped device's acl_up turns
    0 while the others stay 1. Before that, probes of malformed JSON and of
    an answer over the limit give acl_up 0 and are counted."""

    def query(self, promql):  # {frozenset(labels but __name__, job): value}
        url = "http://%s/api/v1/query?" % self.web
        try:
            with urllib.request.urlopen(
                    url + urllib.parse.urlencode({"query": promql}),
                    timeout=5) as r:
                result = json.load(r)["data"]["result"]
        except OSError:
            return {}
        return {frozenset((k, v) for k, v in s["metric"].items()
                          if k not in ("__name__", "job")):
                float(s["value"][1]) for s in result}

    def test_series_equal_the_configurations(self):
        self.assertTrue(os.access(PROMETHEUS, os.X_OK),
                        "run scripts/setup.sh (package prometheus)")
        configs, devices = [], []
        for n, (table, rules) in enumerate([("IPv4BasicRules", 40),
                                            ("IPv4AdvanceRules", 30),
                                            ("IPv6NamedBasicRules", 20)]):
            text = gen_config("--rules", str(rules), "--table", table,
                              "--seed", str(n))
            configs.append(json.loads(text))
            # A token of each device's own, from the exporter's token file.
            devices.append(self.start("--token", "t%d" % n, "--config",
                                      write("d%d" % n, text), token=False)[0])
        faults = {cause: self.start("--adapter", "fixed", "--answer-file",
                                    write(cause, text))[0].addr
                  for cause, text in [("json", "{not json"), ("too_large",
                                      '{"x":"%s"}' % ("a" * 70000))]}
        tokens = write("tokens", "".join(
            ["%s t%d\n" % (d.addr, n) for n, d in enumerate(devices)] +
            ["%s %s\n" % (addr, TOKEN) for addr in faults.values()]))
        os.chmod(tokens, 0o600)
        password = "e2e-scrape-password"
        tls = tempfile.mkdtemp(dir=_tmp.name)
        web, ca = exporter_tls(tls, password)
        exporter = Devhost("--token-file", tokens, "--max-reply-bytes",
                           "65536", "--web.config.file", web, token=False,
                           host=[os.path.join(BUILD, "acl-exporter")])
        self.addCleanup(exporter.kill)
        auth = "Basic " + base64.b64encode(
            ("prometheus:" + password).encode()).decode()
        get = lambda path: urllib.request.urlopen(urllib.request.Request(
            "https://%s/%s" % (exporter.addr, path),
            headers={"Authorization": auth}), timeout=WAIT,
            context=ssl.create_default_context(cafile=ca)).read().decode()
        for cause, target in faults.items():
            with self.subTest(fault=cause):
                self.assertIn("\nacl_up 0\n", get("probe?target=" + target))
                self.assertIn('failures_total{cause="%s"} 1\n' % cause,
                              get("metrics"))

        # Prometheus reads YAML, of which JSON is a part.
        addrs = [d.addr for d in devices]
        relabel = [{"source_labels": ["__address__"],
                    "target_label": "__param_target"},
                   {"source_labels": ["__param_target"],
                    "target_label": "instance"},
                   {"target_label": "__address__",
                    "replacement": exporter.addr}]
        job = {"job_name": "acl", "metrics_path": "/probe",
               "scrape_interval": "1s", "scrape_timeout": "1s",
               "static_configs": [{"targets": addrs}],
               "relabel_configs": relabel, "scheme": "https",
               "tls_config": {"ca_file": ca},
               "basic_auth": {"username": "prometheus",
                              "password": password}}
        config = write("prometheus.yml", json.dumps({"scrape_configs": [job]}))
        self.web = "127.0.0.1:%d" % free_port()
        prometheus = subprocess.Popen(
            [PROMETHEUS, "--config.file", config, "--storage.tsdb.path",
             os.path.join(_tmp.name, "tsdb"), "--web.listen-address",
             self.web], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(prometheus.wait)
        self.addCleanup(prometheus.kill)
        up = lambda: {dict(k)["instance"]: v
                      for k, v in self.query("acl_up").items()}
        self.assertTrue(wait_until(lambda: up() == dict.fromkeys(
            addrs, 1.0), 3 * WAIT), up())
        for metric in COUNTERS:
            for addr, config in zip(addrs, configs):
                with self.subTest(metric=metric, device=addr):
                    want = {k | {("instance", addr)}: float(v)
                            for k, v in expected(config, metric).items()}
                    self.assertTrue(want)
                    self.assertEqual(want, self.query(
                        '%s{instance="%s"}' % (metric, addr)))
        devices[2].kill()
        self.assertTrue(wait_until(lambda: up() == {
            addrs[0]: 1.0, addrs[1]: 1.0, addrs[2]: 0.0}, 3 * WAIT), up())


# ---- Bad input, vanishing clients, memory, stopping --------------------------

class BadInputTest(ServerCase):
    def test_bad_requests_leave_the_host_serving(self):
        server, _ = self.start("--max-recv-bytes", str(MAX_RECV))
        baseline = self.settled_rss(server)
        good = [("token_id", TOKEN)]
        large, unary = rules(RULES), self.raw(server)
        # Large requests one after another: a bounded peak, and the memory
        # comes back (checked at the end).
        for i in range(3 if SANITIZED else 10):
            unary(large, metadata=good, timeout=WAIT)
            if i == 0 and not SANITIZED:
                peak = proc_status(server.proc.pid, "VmHWM") - baseline
                self.assertLess(peak, 160 * MIB, "peak of one large request")
        # Invalid UTF-8 cannot be set through the generated classes: three
        # placeholder bytes are replaced in the encoded request.
        bad_utf8 = encoded(Comment="\x01\x02\x03").replace(b"\x01\x02\x03",
                                                           b"\xff\xfe\xc3")
        cases = [  # name, request, metadata, status code
            ("no token", b"", [], Code.PERMISSION_DENIED),
            ("empty token", b"", [("token_id", "")], Code.PERMISSION_DENIED),
            ("bad token first", b"", [("token_id", "x")] + good,
             Code.PERMISSION_DENIED),
            ("good token first", b"", good + [("token_id", "x")], Code.OK),
            # gRPC refuses what protobuf cannot parse; the host stays up.
            ("garbage bytes", b"\xff" * 64, good, Code.INTERNAL),
            ("over --max-recv-bytes", encoded(Comment="c" * MAX_RECV), good,
             Code.RESOURCE_EXHAUSTED),
            ("NUL in a string", encoded(VRF="v\0rf"), good, OK),
            ("NUL in an address",
             encoded(srcipv4=[{"SrcIPv4Addr": "10.1.1.1\0junk"}]), good, OK),
            ("invalid UTF-8", bad_utf8, good, OK),
            ("long string", encoded(Comment="c" * (MAX_RECV // 2)), good,
             Code.INVALID_ARGUMENT),
            ("many rules", large, good, OK),
            ("many rules, last bad", rules(RULES, GroupID=1), good,
             Code.INVALID_ARGUMENT),
            ("many rules and no token", large, [], Code.PERMISSION_DENIED),
        ]
        for name, request, metadata, code in cases:
            for method in (BASIC, STREAM):
                with self.subTest(case=name, method=method):
                    call = self.raw(server, method, stream=method == STREAM)
                    try:
                        reply = call(request, metadata=metadata, timeout=WAIT)
                        if method == STREAM:
                            reply = list(reply)
                        got = OK
                    except grpc.RpcError as error:
                        got = error.code()
                    self.assertEqual(code, got)
        self.assertServing(server, baseline)

    def test_a_client_that_vanishes_mid_stream(self):
        # aclctl prints each piece as it comes: once the pipe it writes to
        # is full, it stops reading, and flow control holds the stream in
        # the middle.
        server, _ = self.start("--config", CONFIG, "--split-bytes", "4096")
        baseline = self.settled_rss(server)
        child = subprocess.Popen(
            [os.path.join(BUILD, "aclctl"), "--addr", server.addr, "--token",
             TOKEN, "--pieces", STREAM], stdout=subprocess.PIPE, text=True)
        self.assertTrue(child.stdout.readline())
        child.kill()
        child.communicate(timeout=WAIT)
        self.assertServing(server, baseline)


class StopTest(ServerCase):
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
        # Each call asks for 100 000 rows {Action: 1, MatchIndex: i} of the
        # 20 000-rule configuration: no index narrows them, so its adapter
        # alone would run for tens of seconds.
        request = encoded(data={"rule": [{"Action": 1, "MatchIndex": i}
                                         for i in range(100000)]})
        cases = [("grace over", ["--grace", "1"], [signal.SIGTERM]),
                 ("second signal", ["--grace", "60"],
                  [signal.SIGTERM, signal.SIGINT])]
        for name, args, signals in cases:
            with self.subTest(case=name):
                server, _ = self.start("--config", CONFIG, *args)
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

    def test_sigterm_lets_a_blocked_stream_finish(self):
        # An answer of some 5 MB in 4 KiB pieces: while the client does not
        # read, flow control holds the handler in the middle of it.
        server, _ = self.start("--config", CONFIG, "--split-bytes", "4096")
        # Without bandwidth probes the client's receive window stays at its
        # first 64 KiB, far from holding the whole answer.
        stub = acl_grpc.ACLServiceStub(self.channel(
            server.addr, [("grpc.http2.bdp_probe", 0)]))
        stream = stub.GetJsonACLIPv4BasicRulesStream(
            request_of(STREAM, {}), metadata=[("token_id", TOKEN)],
            timeout=WAIT)
        pieces = [next(stream).result]
        server.proc.send_signal(signal.SIGTERM)
        with self.assertRaises(subprocess.TimeoutExpired,
                               msg="the server ended before its stream"):
            server.proc.wait(timeout=0.5)
        pieces += [reply.result for reply in stream]
        self.assertEqual(OK, stream.code())
        self.assertEqual([], [p for p in pieces if not 0 < len(p) <= 4096])
        rules = json.loads("".join(pieces))["IPv4BasicRules"]["Rule"]
        self.assertGreaterEqual(len(rules), 20000)
        self.assertEqual(0, server.proc.wait(timeout=WAIT))


# ---- A cross build's host against the native one ------------------------------

def fill(message):
    """Sets every field of `message`, two elements of each repeated one:
    largest numbers, addresses where the name asks for one, else multi-byte
    UTF-8 text."""
    texts = {"MAC": "00-1a-2B-3c-4D-5e", "IPv4": "192.0.2.1",
             "IPv6": "2001:db8::1"}
    for field in message.DESCRIPTOR.fields:
        value = getattr(message, field.name)
        numbers = {field.TYPE_BOOL: True, field.TYPE_UINT32: 2 ** 32 - 1,
                   field.TYPE_UINT64: 2 ** 64 - 1}
        if field.label == field.LABEL_REPEATED:
            fill(value.add())
            fill(value.add())
        elif field.message_type is not None:
            fill(value)
        else:
            kind = next((k for k in texts if k in field.name), None)
            setattr(message, field.name, numbers.get(
                field.type, texts.get(kind, "t\u00e9\u20ac\U0001F600")))


class HostAlikeTest(ServerCase):
    """The host under test (a cross build's, emulated) answers every method,
    with an empty request and with every field set, and aclctl, exactly as
    the native build's host does."""

    def outcomes(self, adapter, host):
        server, stub = self.start("--adapter", adapter, "--split-bytes", "7",
                                  host=host)
        out = []
        for name in methods():
            full = request_of(name, {})
            fill(full)
            out += [call(stub, name, request_of(name, {})),
                    call(stub, name, full)]
            run = aclctl(server.addr, "--raw", name)
            out.append((run.returncode, run.stdout, run.stderr))
        return out

    def test_answers_alike(self):
        if HOST == [os.path.join(BUILD, "acl-devhost")]:
            self.skipTest("the host under test is the native one")
        for adapter in ("json", "echo"):
            with self.subTest(adapter=adapter):
                native = self.outcomes(
                    adapter, [os.path.join(BUILD, "acl-devhost")])
                self.assertEqual(native, self.outcomes(adapter, HOST))


def main():
    """Takes --build DIR into BUILD, the host under test into HOST; runs the
    tests with the other arguments."""
    global BUILD, HOST
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--build", default=BUILD)
    parser.add_argument("--host-build")
    parser.add_argument("--emulator", default="")
    args, rest = parser.parse_known_args()
    BUILD = os.path.abspath(args.build)
    HOST = args.emulator.split() + [os.path.join(
        os.path.abspath(args.host_build or BUILD), "acl-devhost")]
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
