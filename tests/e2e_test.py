#!/usr/bin/python3
"""End-to-end tests: acl-devhost serving the module, queried by aclctl and by
a Python gRPC client.

Every server listens on 127.0.0.1 with port 0 and a fixed token; every wait
is bounded; servers are stopped in tearDown/tearDownClass.

    /usr/bin/python3 tests/e2e_test.py --build BUILD_DIR [unittest args]
    ACL_BUILD_DIR=BUILD_DIR /usr/bin/python3 -m unittest tests/e2e_test.py

The expected request trees of the echo adapter come from the schema (the
request message's fields, in field order) and the host's registry data file
(column numbers, type codes, value ranges); the json adapter is checked
against the built-in sample configuration and a small configuration of this
file's own.
"""

import argparse
import concurrent.futures
import importlib
import json
import os
import queue
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import grpc
from google.protobuf import json_format

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("ACL_BUILD_DIR", os.path.join(SOURCE, "build"))
TOKEN = "e2e-token"
WAIT = 20  # seconds: the bound of every wait below
METHOD_PREFIX = "GetJsonACL"
STREAM_METHOD = "GetJsonACLIPv4BasicRulesStream"
OK = grpc.StatusCode.OK

acl = None           # acl_tree_pb2, generated in setUpModule
acl_grpc = None      # acl_tree_pb2_grpc
REGISTRY = {}        # table name -> the registry data file's table
_stub_dir = None


def setUpModule():
    global acl, acl_grpc, REGISTRY, _stub_dir
    for path in (devhost_path(), aclctl_path()):
        if not os.access(path, os.X_OK):
            raise RuntimeError("not built: %s (pass --build DIR)" % path)
    _stub_dir = tempfile.TemporaryDirectory(prefix="acl-e2e-stubs-")
    subprocess.run(
        ["protoc", "--proto_path=" + os.path.join(SOURCE, "proto"),
         "--python_out=" + _stub_dir.name,
         "--grpc_python_out=" + _stub_dir.name,
         "--plugin=protoc-gen-grpc_python=/usr/bin/grpc_python_plugin",
         "acl_tree.proto", "grpc_service.proto"],
        check=True, timeout=WAIT)
    sys.path.insert(0, _stub_dir.name)
    acl = importlib.import_module("acl_tree_pb2")
    acl_grpc = importlib.import_module("acl_tree_pb2_grpc")
    with open(os.path.join(SOURCE, "devhost", "data", "registry.json")) as f:
        REGISTRY = {t["name"]: t for t in json.load(f)["tables"]}


def tearDownModule():
    if _stub_dir is not None:
        _stub_dir.cleanup()


def devhost_path():
    return os.path.join(BUILD, "acl-devhost")


def aclctl_path():
    return os.path.join(BUILD, "aclctl")


# ---- The schema, as the tests see it ----------------------------------------

class Method:
    """One method of acl.ACLService: its table and request message."""

    def __init__(self, descriptor):
        self.name = descriptor.name
        self.streamed = self.name == STREAM_METHOD
        self.table = self.name[len(METHOD_PREFIX):]
        if self.streamed:
            self.table = self.table[:-len("Stream")]
        self.request_type = descriptor.input_type
        self.reg = REGISTRY[self.table]

    def row_field(self):
        """The request's repeated field holding the rows, or None."""
        row = self.reg.get("row")
        for field in self.request_type.fields:
            if (field.message_type is not None
                    and field.message_type.name == row):
                return field
        return None

    def new_request(self, data):
        return json_format.ParseDict(
            data, acl.DESCRIPTOR.message_types_by_name[
                self.request_type.name]._concrete_class())


def all_methods():
    service = acl.DESCRIPTOR.services_by_name["ACLService"]
    return [Method(m) for m in service.methods]


def method(name):
    return next(m for m in all_methods() if m.name == name)


def scalar_fields(message_type):
    return [f for f in message_type.fields if f.message_type is None]


def nested_fields(message_type):
    return [f for f in message_type.fields if f.message_type is not None]


def reg_column(reg, sub, name):
    for column in reg["columns"]:
        if column["name"] == name and column.get("sub", "") == sub:
            return column
    raise KeyError("%s: no column %s/%s in the registry" % (reg["name"], sub,
                                                          name))


def valid_value(column):
    """A value the host's checks accept for `column`, as request JSON."""
    kind = column["type"]
    if kind in (1, 8):
        return column.get("min", 1)
    if kind == 15:
        return True
    if kind == 5:
        return "192.0.2.1"
    if kind == 14:
        return "00-1a-2b-3c-4d-5e"
    if column.get("format") == "ipv6":
        return "2001:db8::1"
    return "x"


def tree_value(column, value):
    """How the echo tree shows a request value of `column`."""
    kind = column["type"]
    if kind == 15:
        return 1 if value else 0
    if kind == 14:
        return value.replace("-", "").lower()
    return value


def fill(reg, message_type, sub=""):
    """Request JSON setting every field of `message_type`, with one element
    in each nested list (rows excluded: the caller adds them)."""
    data = {}
    for field in scalar_fields(message_type):
        data[field.name] = valid_value(reg_column(reg, sub, field.name))
    for field in nested_fields(message_type):
        name = field.message_type.name
        if name == reg.get("row"):
            continue
        data[field.name] = [fill(reg, field.message_type, name)]
    return data


def tree_columns(reg, message_type, values, sub=""):
    columns = []
    for field in scalar_fields(message_type):
        column = reg_column(reg, sub, field.name)
        mor_id = "0x%08X" % (0x02010000 | (reg["number"] << 8) |
                             column["column"])
        if field.name in values:
            columns.append({"morId": mor_id, "type": column["type"],
                            "noValue": False,
                            "value": tree_value(column, values[field.name])})
        else:
            columns.append({"morId": mor_id, "type": 0, "noValue": True})
    return columns


def tree_node(kind, reg, message_type, values):
    """The echo adapter's tree for one node: columns in field order, then
    one sub-entry per nested element, nested fields in field order."""
    node = {"kind": kind,
            "columns": tree_columns(reg, message_type, values),
            "subEntries": []}
    for field in nested_fields(message_type):
        name = field.message_type.name
        if name == reg.get("row"):
            continue
        for element in values.get(field.name, []):
            node["subEntries"].append({
                "name": name,
                "columns": tree_columns(reg, field.message_type, element,
                                        name)})
    return node


def expected_tree(m, request):
    row_field = m.row_field()
    if row_field is None:
        node = tree_node("table", m.reg, m.request_type, request)
        node["rows"] = []
        return node
    node = tree_node("table", m.reg, m.request_type, {})
    rows = request.get(row_field.name) or [{}]
    # Rows come last request element first; an empty request asks with one
    # row of no-value columns and no sub-entries.
    node["rows"] = [tree_node("row", m.reg, row_field.message_type, row)
                    for row in reversed(rows)]
    if not request.get(row_field.name):
        node["rows"][0]["subEntries"] = []
    return node


def full_request(m):
    """Every field set; a row table gets that row and an empty one."""
    row_field = m.row_field()
    if row_field is None:
        return fill(m.reg, m.request_type)
    return {row_field.name: [fill(m.reg, row_field.message_type), {}]}


# ---- Processes and clients --------------------------------------------------

class Devhost:
    """A running acl-devhost; stop() ends it (SIGTERM, then SIGKILL)."""

    def __init__(self, *args, token=True):
        command = [devhost_path(), "--listen", "127.0.0.1:0"]
        if token:
            command += ["--token", TOKEN]
        command += list(args)
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE,
                                     stderr=self.stderr, text=True)
        self.lines = queue.Queue()
        self.head = []  # stdout lines up to the listening line
        self.drain = threading.Thread(target=self._drain, daemon=True)
        self.drain.start()
        deadline = time.monotonic() + WAIT
        while True:
            try:
                line = self.lines.get(timeout=max(0, deadline -
                                                  time.monotonic()))
            except queue.Empty:
                self.close()
                raise AssertionError("devhost did not listen within %ss"
                                     % WAIT)
            if line is None:
                message = "devhost exited early: " + self.stderr_text()
                self.close()
                raise AssertionError(message)
            self.head.append(line)
            match = re.fullmatch(r"listening on (127\.0\.0\.1:[0-9]+)", line)
            if match:
                self.addr = match.group(1)
                break

    def _drain(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def stop(self, sig=signal.SIGTERM):
        """Ends the server; returns its exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=WAIT)
        self.drain.join(timeout=WAIT)
        if not self.drain.is_alive():
            self.proc.stdout.close()
        return self.proc.returncode

    def close(self):
        self.stop(signal.SIGKILL)
        self.stderr.close()

    def stderr_text(self):
        self.stderr.seek(0)
        return self.stderr.read().decode("utf-8", "replace")


class Answer:
    """What one call returned: status, details and the result pieces."""

    def __init__(self, code, details, pieces):
        self.code, self.details, self.pieces = code, details, pieces

    @property
    def text(self):
        return "".join(self.pieces)

    def json(self):
        return json.loads(self.text)


class Client:
    """A Python gRPC client of one server."""

    def __init__(self, addr):
        self.channel = grpc.insecure_channel(addr)
        self.stub = acl_grpc.ACLServiceStub(self.channel)

    def close(self):
        self.channel.close()

    def call(self, m, request=None, token=TOKEN):
        if isinstance(m, str):
            m = method(m)
        message = m.new_request(request or {})
        metadata = [("token_id", token)] if token is not None else []
        rpc = getattr(self.stub, m.name)
        pieces = []
        try:
            if m.streamed:
                for reply in rpc(message, metadata=metadata, timeout=WAIT):
                    pieces.append(reply.result)
            else:
                pieces.append(rpc(message, metadata=metadata,
                                  timeout=WAIT).result)
        except grpc.RpcError as error:
            return Answer(error.code(), error.details(), pieces)
        return Answer(OK, "", pieces)


def aclctl(addr, *args, token=TOKEN, stdin=None, env=None):
    environment = dict(os.environ)
    environment.pop("ACL_TOKEN", None)
    environment.update(env or {})
    command = [aclctl_path()]
    if addr is not None:
        command += ["--addr", addr]
    if token is not None:
        command += ["--token", token]
    return subprocess.run(command + list(args), input=stdin,
                          capture_output=True, text=True, timeout=WAIT,
                          env=environment)


class ServerCase(unittest.TestCase):
    """Starts servers per test; stops them in tearDown."""

    def setUp(self):
        self.servers = []
        self.clients = []

    def tearDown(self):
        for client in self.clients:
            client.close()
        for server in self.servers:
            server.close()

    def start(self, *args, token=True):
        server = Devhost(*args, token=token)
        self.servers.append(server)
        return server

    def client(self, server):
        client = Client(server.addr)
        self.clients.append(client)
        return client


class SharedServerCase(unittest.TestCase):
    """One server for the whole class, started with ARGS."""

    ARGS = ()

    @classmethod
    def setUpClass(cls):
        cls.server = Devhost(*cls.ARGS)
        cls.rpc = Client(cls.server.addr)

    @classmethod
    def tearDownClass(cls):
        cls.rpc.close()
        cls.server.close()


# ---- Echo mode: the request tree of every method ----------------------------

class EchoTest(SharedServerCase):
    ARGS = ("--adapter", "echo")

    def test_every_method_echoes_its_tree(self):
        methods = all_methods()
        self.assertEqual(26, len(methods))
        for m in methods:
            for label, request in (("empty", {}), ("full", full_request(m))):
                with self.subTest(method=m.name, request=label):
                    answer = self.rpc.call(m, request)
                    self.assertEqual(OK, answer.code, answer.details)
                    self.assertEqual(
                        {"module": "ACL", "table": m.table,
                         "tree": expected_tree(m, request)},
                        answer.json())

    def test_aclctl_sends_the_same_request(self):
        for m in all_methods():
            with self.subTest(method=m.name):
                request = full_request(m)
                run = aclctl(self.server.addr, m.name, json.dumps(request))
                self.assertEqual(0, run.returncode, run.stderr)
                self.assertEqual(self.rpc.call(m, request).json(),
                                 json.loads(run.stdout))


# ---- Json mode: the sample configuration ------------------------------------

class SampleConfigTest(SharedServerCase):
    ARGS = ("--adapter", "json")

    def answer(self, m, request=None):
        answer = self.rpc.call(m, request)
        self.assertEqual(OK, answer.code, answer.details)
        return answer.json()

    def test_every_method_answers_in_its_table_shape(self):
        for m in all_methods():
            with self.subTest(method=m.name):
                answer = self.answer(m)
                self.assertEqual([m.table], list(answer))
                self.assertIsInstance(answer[m.table], dict)
                if m.reg.get("row"):
                    self.assertEqual([m.reg["row"]], list(answer[m.table]))
                    rows = answer[m.table][m.reg["row"]]
                    self.assertIsInstance(rows, list)
                    for row in rows:
                        self.assertIsInstance(row, dict)

    def test_stream_joins_to_the_unary_answer(self):
        unary = self.rpc.call("GetJsonACLIPv4BasicRules")
        streamed = self.rpc.call(STREAM_METHOD)
        self.assertEqual((OK, OK), (unary.code, streamed.code))
        self.assertEqual(unary.text, streamed.text)

    def row_request(self, m, row):
        """A request row asking for exactly the configured `row`: every
        column it has, as a match key."""
        request = {}
        for field in scalar_fields(m.row_field().message_type):
            if field.name in row:
                request[field.name] = row[field.name]
        return request

    def test_a_configured_row_selects_itself(self):
        checked = 0
        for m in all_methods():
            if not m.reg.get("row"):
                continue
            rows = self.answer(m)[m.table][m.reg["row"]]
            if not rows:
                continue
            with self.subTest(method=m.name):
                key = self.row_request(m, rows[0])
                expected = [r for r in rows
                            if self.row_request(m, r) == key]
                request = {m.row_field().name: [key]}
                self.assertEqual({m.table: {m.reg["row"]: expected}},
                                 self.answer(m, request))
                checked += 1
        self.assertGreater(checked, 10, "the sample configures few tables")

    def test_an_unconfigured_value_selects_nothing(self):
        checked = 0
        for m in all_methods():
            if not m.reg.get("row"):
                continue
            rows = self.answer(m)[m.table][m.reg["row"]]
            numbers = [c for c in m.reg["columns"] if c["type"] == 1 and
                       not c.get("sub")]
            if not rows or not numbers:
                continue
            column = numbers[0]
            used = {r.get(column["name"]) for r in rows}
            low = column.get("min", 0)
            value = next(v for v in range(low, low + len(used) + 1)
                         if v not in used)
            with self.subTest(method=m.name, column=column["name"],
                              value=value):
                request = {m.row_field().name: [{column["name"]: value}]}
                self.assertEqual({m.table: {m.reg["row"]: []}},
                                 self.answer(m, request))
                checked += 1
        self.assertGreater(checked, 10)

    def test_single_instance_tables_match_or_answer_empty(self):
        for m in all_methods():
            numbers = [f.name for f in scalar_fields(m.request_type)]
            if m.reg.get("row") or not numbers:
                continue
            instance = self.answer(m)[m.table]
            if numbers[0] not in instance:
                continue
            with self.subTest(method=m.name):
                same = {numbers[0]: instance[numbers[0]]}
                self.assertEqual({m.table: instance}, self.answer(m, same))
                other = instance[numbers[0]]
                other = (not other) if isinstance(other, bool) else other + 1
                self.assertEqual({m.table: {}},
                                 self.answer(m, {numbers[0]: other}))

    def test_example_client_runs(self):
        run = subprocess.run(
            ["/usr/bin/python3", os.path.join(SOURCE, "examples", "client.py"),
             "--addr", self.server.addr, "--token", TOKEN],
            capture_output=True, text=True, timeout=WAIT)
        self.assertEqual(0, run.returncode, run.stderr)
        self.assertIn("GetJsonACLBase: {", run.stdout)
        self.assertIn("GetJsonACLIPv4BasicRulesStream (", run.stdout)


# ---- Json mode: matching rules, on a configuration of our own ---------------

RULES = [
    {"GroupID": 2000, "RuleID": 5, "Action": 1, "SrcAny": False,
     "Comment": "web",
     "SrcIPv4": [{"SrcIPv4Addr": "10.1.1.0", "SrcIPv4Wildcard": "0.0.0.255"}]},
    {"GroupID": 2000, "RuleID": 10, "Action": 2, "SrcAny": True,
     "SrcIPv4": []},
    {"GroupID": 2001, "RuleID": 5, "Action": 1, "SrcAny": False,
     "SrcIPv4": [{"SrcIPv4Addr": "10.2.0.0", "SrcIPv4Wildcard": "0.0.255.255"},
                 {"SrcIPv4Addr": "10.3.0.0", "SrcIPv4Wildcard": "0.0.0.255"}]},
]
CONFIG = {"Base": {"ProcessingStatus": 1}, "IPv4BasicRules": {"Rule": RULES}}


class MatchingTest(SharedServerCase):
    @classmethod
    def setUpClass(cls):
        cls.config = tempfile.NamedTemporaryFile("w", suffix=".json")
        json.dump(CONFIG, cls.config)
        cls.config.flush()
        cls.ARGS = ("--adapter", "json", "--config", cls.config.name)
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.config.close()

    def test_rows_matching_a_request(self):
        # Request rows (JSON) -> the configured rows answered, by index.
        cases = [
            ([], [0, 1, 2]),
            ([{"GroupID": 2000}], [0, 1]),
            ([{"RuleID": 5}], [0, 2]),
            ([{"GroupID": 2000, "RuleID": 10}], [1]),
            ([{"GroupID": 2999}], []),
            ([{"SrcAny": True}], [1]),
            ([{"Comment": "web"}], [0]),
            ([{"Comment": "none"}], []),
            # Union of request rows, in configuration order, once each.
            ([{"GroupID": 2001}, {"GroupID": 2000}], [0, 1, 2]),
            ([{"RuleID": 5}, {"GroupID": 2000}], [0, 1, 2]),
            ([{"RuleID": 10}, {"RuleID": 10}], [1]),
            # Sub-entries: each must match one element, all its keys at once.
            ([{"srcipv4": [{"SrcIPv4Addr": "10.3.0.0"}]}], [2]),
            ([{"srcipv4": [{"SrcIPv4Addr": "10.9.0.0"}]}], []),
            ([{"srcipv4": [{"SrcIPv4Addr": "10.2.0.0",
                            "SrcIPv4Wildcard": "0.0.0.255"}]}], []),
            ([{"srcipv4": [{"SrcIPv4Addr": "10.2.0.0"},
                           {"SrcIPv4Addr": "10.3.0.0"}]}], [2]),
            ([{"srcipv4": [{"SrcIPv4Addr": "10.2.0.0"},
                           {"SrcIPv4Addr": "10.1.1.0"}]}], []),
            # A sub-entry with no valued column only selects.
            ([{"GroupID": 2000, "srcipv4": [{}]}], [0, 1]),
        ]
        for rows, expected in cases:
            with self.subTest(request=rows):
                answer = self.rpc.call("GetJsonACLIPv4BasicRules",
                                       {"rule": rows})
                self.assertEqual(OK, answer.code, answer.details)
                self.assertEqual(
                    {"IPv4BasicRules": {"Rule": [RULES[i] for i in expected]}},
                    answer.json())

    def test_single_instance(self):
        cases = [({}, {"ProcessingStatus": 1}),
                 ({"ProcessingStatus": 1}, {"ProcessingStatus": 1}),
                 ({"ProcessingStatus": 2}, {})]
        for request, expected in cases:
            with self.subTest(request=request):
                answer = self.rpc.call("GetJsonACLBase", request)
                self.assertEqual(OK, answer.code, answer.details)
                self.assertEqual({"Base": expected}, answer.json())


# ---- Value checks and rejections --------------------------------------------

def rules(**row):
    return {"rule": [row]}


class RejectTest(ServerCase):
    def test_reject_option(self):
        server = self.start("--reject", "ACL/IPv4BasicRules/Rule/GroupID",
                            "--reject", "ACL/IPv4BasicRules/Rule/RuleID=7")
        rpc = self.client(server)
        cases = [  # request, rejected column or None
            (rules(GroupID=2000), "GroupID"),
            (rules(RuleID=7), "RuleID"),
            (rules(RuleID=8), None),
            (rules(Action=1), None),
        ]
        for request, column in cases:
            for m in ("GetJsonACLIPv4BasicRules", STREAM_METHOD):
                with self.subTest(request=request, method=m):
                    answer = rpc.call(m, request)
                    if column is None:
                        self.assertEqual(OK, answer.code, answer.details)
                        continue
                    self.assertEqual(grpc.StatusCode.INVALID_ARGUMENT,
                                     answer.code)
                    self.assertEqual("the value of %s is invalid" % column,
                                     answer.details)
                    # Only the stream carries the reason: a unary call with
                    # a non-OK status has no reply.
                    self.assertEqual(
                        ["{Err:rejected by --reject}"] if m == STREAM_METHOD
                        else [], answer.pieces)

    def test_aclctl_shows_the_rejection(self):
        server = self.start("--reject", "ACL/IPv4BasicRules/Rule/GroupID")
        request = json.dumps(rules(GroupID=2000))
        run = aclctl(server.addr, "IPv4BasicRules", request)
        self.assertEqual((1, ""), (run.returncode, run.stdout))
        self.assertEqual(
            "error: INVALID_ARGUMENT: the value of GroupID is invalid\n",
            run.stderr)
        run = aclctl(server.addr, "IPv4BasicRulesStream", request)
        self.assertEqual((1, ""), (run.returncode, run.stdout))
        self.assertEqual(
            "error: INVALID_ARGUMENT: the value of GroupID is invalid\n"
            "{Err:rejected by --reject}\n", run.stderr)

    def test_value_checks(self):
        server = self.start()
        rpc = self.client(server)
        long_text = "c" * 200
        cases = [  # method, request, rejected column or None
            ("IPv4BasicRules", rules(GroupID=2000), None),
            ("IPv4BasicRules", rules(GroupID=2999), None),
            ("IPv4BasicRules", rules(GroupID=1999), "GroupID"),
            ("IPv4BasicRules", rules(GroupID=3000), "GroupID"),
            ("IPv4BasicRules", rules(Count=2 ** 64 - 1), None),
            ("IPv4BasicRules", rules(Comment=long_text), "Comment"),
            ("IPv4BasicRules", rules(SrcAny=False), None),
            ("IPv4BasicRules",
             rules(srcipv4=[{"SrcIPv4Addr": "10.1.1.1"}]), None),
            ("IPv4BasicRules",
             rules(srcipv4=[{"SrcIPv4Addr": "10.1.1"}]), "SrcIPv4Addr"),
            ("IPv4BasicRules",
             rules(srcipv4=[{"SrcIPv4Addr": "10.1.1.256"}]), "SrcIPv4Addr"),
            ("IPv6BasicRules",
             rules(srcipv6=[{"SrcIPv6Addr": "2001:db8::1"}]), None),
            ("IPv6BasicRules",
             rules(srcipv6=[{"SrcIPv6Addr": "2001:db8::zz"}]), "SrcIPv6Addr"),
            ("MACRules", rules(srcmacaddr=[{"SrcMACAddress":
                                            "00-1a-2b-3c-4d-5e"}]), None),
            ("MACRules", rules(srcmacaddr=[{"SrcMACAddress":
                                            "00:1a:2b:3c:4d:5e"}]),
             "SrcMACAddress"),
            ("MACRules", rules(srcmacaddr=[{"SrcMACAddress": "00-1a-2b"}]),
             "SrcMACAddress"),
        ]
        for table, request, column in cases:
            with self.subTest(table=table, request=request):
                answer = rpc.call(METHOD_PREFIX + table, request)
                if column is None:
                    self.assertEqual(OK, answer.code, answer.details)
                else:
                    self.assertEqual(
                        (grpc.StatusCode.INVALID_ARGUMENT,
                         "the value of %s is invalid" % column),
                        (answer.code, answer.details))
                if table != "IPv4BasicRules":
                    continue
                streamed = rpc.call(STREAM_METHOD, request)
                self.assertEqual(answer.code, streamed.code)
                if column is not None:
                    # The host's reason: short, specific, within its buffer.
                    self.assertEqual(1, len(streamed.pieces))
                    self.assertRegex(streamed.pieces[0], r"^\{Err:[^{}]+\}$")
                    self.assertLessEqual(len(streamed.pieces[0]), 6 + 63)


# ---- Sessions ---------------------------------------------------------------

class TokenTest(ServerCase):
    def test_tokens(self):
        server = self.start("--token", "second")
        rpc = self.client(server)
        denied = grpc.StatusCode.PERMISSION_DENIED
        cases = [
            (None, denied, "Request with no token ID"),
            ("", denied, "Request with invalid token ID"),
            ("wrong", denied, "Request with invalid token ID"),
            (TOKEN + "x", denied, "Request with invalid token ID"),
            (TOKEN, OK, ""),
            ("second", OK, ""),
        ]
        for token, code, details in cases:
            for m in ("GetJsonACLBase", STREAM_METHOD):
                with self.subTest(token=token, method=m):
                    answer = rpc.call(m, token=token)
                    self.assertEqual((code, details),
                                     (answer.code, answer.details))
                    if code != OK:
                        self.assertEqual([], answer.pieces)

    def test_aclctl_token_sources(self):
        server = self.start()
        cases = [  # --token, $ACL_TOKEN, exit status, stderr
            (None, None, 1,
             "error: PERMISSION_DENIED: Request with no token ID\n"),
            ("wrong", None, 1,
             "error: PERMISSION_DENIED: Request with invalid token ID\n"),
            (None, TOKEN, 0, ""),
            (TOKEN, "wrong", 0, ""),  # the option wins
        ]
        for token, env, status, stderr in cases:
            with self.subTest(token=token, env=env):
                run = aclctl(server.addr, "Base", token=token,
                             env={"ACL_TOKEN": env} if env else None)
                self.assertEqual((status, stderr),
                                 (run.returncode, run.stderr))

    def test_random_token_without_token_option(self):
        server = self.start(token=False)
        self.assertEqual(2, len(server.head), server.head)
        match = re.fullmatch(r"token: (\S+)", server.head[0])
        self.assertIsNotNone(match, server.head)
        rpc = self.client(server)
        self.assertEqual(OK, rpc.call("GetJsonACLBase",
                                      token=match.group(1)).code)
        self.assertEqual(grpc.StatusCode.PERMISSION_DENIED,
                         rpc.call("GetJsonACLBase", token=TOKEN).code)
        self.assertNotIn(match.group(1), server.stderr_text())


# ---- Streaming --------------------------------------------------------------

class SplitTest(ServerCase):
    def test_small_pieces_join_to_the_unary_answer(self):
        server = self.start("--split-bytes", "16")
        rpc = self.client(server)
        unary = rpc.call("GetJsonACLIPv4BasicRules")
        streamed = rpc.call(STREAM_METHOD)
        self.assertEqual((OK, OK), (unary.code, streamed.code))
        self.assertGreater(len(streamed.pieces), 1)
        self.assertEqual(unary.text, streamed.text)
        for piece in streamed.pieces:
            self.assertLessEqual(len(piece.encode()), 16)
            self.assertTrue(piece)

        run = aclctl(server.addr, "--pieces", "IPv4BasicRulesStream")
        self.assertEqual(0, run.returncode, run.stderr)
        self.assertEqual(streamed.pieces, run.stdout.splitlines())
        run = aclctl(server.addr, "--raw", "IPv4BasicRulesStream")
        self.assertEqual(unary.text + "\n", run.stdout)


# ---- Shutdown ---------------------------------------------------------------

class ShutdownTest(ServerCase):
    def big_request(self):
        """An echo request whose streamed answer (some 7 MB) is more than the
        transport buffers between server and client hold."""
        row = {"GroupID": 2000, "Comment": "c" * 100,
               "srcipv4": [{"SrcIPv4Addr": "10.0.0.1"}]}
        return {"rule": [dict(row, RuleID=i) for i in range(8000)]}

    def test_sigterm_lets_calls_in_flight_finish(self):
        server = self.start("--adapter", "echo")
        rpc = self.client(server)
        m = method(STREAM_METHOD)
        request = self.big_request()

        # A stream the client has begun but not read to its end: the server
        # is held by flow control until the client reads on...
        stream = rpc.stub.GetJsonACLIPv4BasicRulesStream(
            m.new_request(request), metadata=[("token_id", TOKEN)],
            timeout=WAIT)
        pieces = [next(stream).result]
        # ...and a burst of unary calls.
        stop = threading.Event()
        results = []

        def burst():
            client = Client(server.addr)
            try:
                while not stop.is_set():
                    results.append(client.call("GetJsonACLBase"))
            finally:
                client.close()

        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            workers = [pool.submit(burst) for _ in range(4)]
            try:
                deadline = time.monotonic() + WAIT
                while len(results) < 20 and time.monotonic() < deadline:
                    time.sleep(0.01)
                server.proc.send_signal(signal.SIGTERM)
                time.sleep(0.3)
                self.assertIsNone(server.proc.poll(),
                                  "the server ended before its stream did")
                pieces.extend(reply.result for reply in stream)
                time.sleep(0.2)
            finally:
                stop.set()
            for worker in workers:
                worker.result(timeout=WAIT)

        self.assertEqual({"module": "ACL", "table": m.table,
                          "tree": expected_tree(m, request)},
                         json.loads("".join(pieces)))
        self.assertEqual(0, server.stop(), server.stderr_text())
        codes = {r.code for r in results}
        self.assertIn(OK, codes)
        # Calls arriving after the signal are refused (not yet started:
        # CANCELLED; listener gone: UNAVAILABLE); none fails otherwise.
        self.assertLessEqual(codes, {OK, grpc.StatusCode.CANCELLED,
                                     grpc.StatusCode.UNAVAILABLE},
                             {(r.code, r.details) for r in results})
        for r in results:
            if r.code == OK:
                self.assertEqual("Base", r.json()["table"])


# ---- TLS --------------------------------------------------------------------

class TlsTest(ServerCase):
    def test_tls(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        cert = os.path.join(tmp.name, "cert.pem")
        key = os.path.join(tmp.name, "key.pem")
        try:
            subprocess.run(
                ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                 "-keyout", key, "-out", cert, "-days", "1",
                 "-subj", "/CN=localhost",
                 "-addext", "subjectAltName=IP:127.0.0.1"],
                check=True, capture_output=True, timeout=WAIT)
        except (OSError, subprocess.CalledProcessError) as error:
            self.skipTest("no certificate: %s" % error)
        server = self.start("--tls-cert", cert, "--tls-key", key)

        run = aclctl(server.addr, "--tls-ca", cert, "Base")
        self.assertEqual(0, run.returncode, run.stderr)
        self.assertEqual(["Base"], list(json.loads(run.stdout)))
        run = aclctl(server.addr, "Base")  # plain text to a TLS port
        self.assertEqual(1, run.returncode)
        self.assertTrue(run.stderr.startswith("error: UNAVAILABLE: "),
                        run.stderr)

        with open(cert, "rb") as f:
            credentials = grpc.ssl_channel_credentials(f.read())
        with grpc.secure_channel(server.addr, credentials) as channel:
            reply = acl_grpc.ACLServiceStub(channel).GetJsonACLBase(
                acl.ACLBase(), metadata=[("token_id", TOKEN)], timeout=WAIT)
        self.assertEqual(["Base"], list(json.loads(reply.result)))


# ---- Loading ----------------------------------------------------------------

class ModuleLoadTest(unittest.TestCase):
    def test_bad_modules(self):
        with tempfile.TemporaryDirectory() as tmp:
            text = os.path.join(tmp, "not-a-module.so")
            with open(text, "w") as f:
                f.write("plain text\n")
            cases = [  # path, words the message must hold besides the path
                (os.path.join(tmp, "missing", "libacl_service.so"), []),
                (text, []),
            ]
            for lib in ("/lib/x86_64-linux-gnu/libz.so.1",
                        "/usr/lib/x86_64-linux-gnu/libz.so.1"):
                if os.path.exists(lib):
                    cases.append((lib, ["ServiceCreate"]))
                    break
            for path, words in cases:
                with self.subTest(module=path):
                    run = subprocess.run(
                        [devhost_path(), "--listen", "127.0.0.1:0",
                         "--token", TOKEN, "--module", path],
                        capture_output=True, text=True, timeout=WAIT)
                    self.assertNotEqual(0, run.returncode)
                    self.assertNotIn("listening on", run.stdout)
                    self.assertIn(path, run.stderr)
                    for word in words:
                        self.assertIn(word, run.stderr)


# ---- Serving extras: health and reflection ----------------------------------

class ServingTest(SharedServerCase):
    def raw_unary(self, path, request):
        call = self.rpc.channel.unary_unary(path)
        return call(request, timeout=WAIT)

    def test_health(self):
        for service in (b"", b"acl.ACLService"):
            with self.subTest(service=service):
                request = (b"\x0a" + bytes([len(service)]) + service
                           if service else b"")
                # HealthCheckResponse{status: SERVING (1)}
                self.assertEqual(b"\x08\x01", self.raw_unary(
                    "/grpc.health.v1.Health/Check", request))

    def test_reflection_lists_the_service(self):
        call = self.rpc.channel.stream_stream(
            "/grpc.reflection.v1alpha.ServerReflection/ServerReflectionInfo")
        # ServerReflectionRequest{list_services: ""}
        replies = list(call(iter([b"\x3a\x00"]), timeout=WAIT))
        self.assertEqual(1, len(replies))
        self.assertIn(b"acl.ACLService", replies[0])


# ---- aclctl's own behaviour -------------------------------------------------

class AclctlTest(SharedServerCase):
    ARGS = ("--adapter", "echo")

    def table_of(self, run):
        self.assertEqual(0, run.returncode, run.stderr)
        return json.loads(run.stdout)["table"]

    def test_method_names(self):
        cases = [
            ("IPv4BasicRules", "IPv4BasicRules"),
            ("GetJsonACLIPv4BasicRules", "IPv4BasicRules"),
            ("ipv4basicrules", "IPv4BasicRules"),
            ("GETJSONACLIPV4BASICRULES", "IPv4BasicRules"),
            ("IPv4BasicRulesStream", "IPv4BasicRules"),
            ("Base", "Base"),
            ("ZonePairPfilterRules", "ZonePairPfilterRules"),
        ]
        for name, table in cases:
            with self.subTest(name=name):
                self.assertEqual(table,
                                 self.table_of(aclctl(self.server.addr, name)))

    def test_request_sources(self):
        request = json.dumps(rules(GroupID=2000))
        expected = self.rpc.call("GetJsonACLIPv4BasicRules",
                                 rules(GroupID=2000)).json()
        with tempfile.NamedTemporaryFile("w", suffix=".json") as f:
            f.write(request)
            f.flush()
            cases = [((request,), None), (("@" + f.name,), None),
                     (("-",), request)]
            for args, stdin in cases:
                with self.subTest(args=args):
                    run = aclctl(self.server.addr, "IPv4BasicRules", *args,
                                 stdin=stdin)
                    self.assertEqual(0, run.returncode, run.stderr)
                    self.assertEqual(expected, json.loads(run.stdout))

    def test_output_forms(self):
        pretty = aclctl(self.server.addr, "Base")
        raw = aclctl(self.server.addr, "--raw", "Base")
        self.assertEqual(0, pretty.returncode + raw.returncode)
        self.assertEqual(json.loads(raw.stdout), json.loads(pretty.stdout))
        self.assertEqual(1, len(raw.stdout.splitlines()))
        self.assertTrue(pretty.stdout.startswith('{\n  "module": "ACL",\n'),
                        pretty.stdout)

    def test_usage_errors(self):
        cases = [
            (),
            ("NoSuchMethod",),
            ("Base", "{not json"),
            ("Base", '{"NoSuchField": 1}'),
            ("Base", '{"ProcessingStatus": -1}'),
            ("Base", "{}", "extra"),
            ("--no-such-option", "Base"),
            ("--timeout", "soon", "Base"),
            ("Base", "@/nonexistent/request.json"),
            ("list", "extra"),
        ]
        for args in cases:
            with self.subTest(args=args):
                run = aclctl(self.server.addr, *args)
                self.assertEqual(2, run.returncode, run.stderr)
                self.assertEqual("", run.stdout)
                self.assertTrue(run.stderr.startswith("aclctl: "), run.stderr)

    def test_list(self):
        run = aclctl(None, "list", token=None)
        self.assertEqual(0, run.returncode, run.stderr)
        lines = run.stdout.splitlines()[1:]
        self.assertEqual([m.name for m in all_methods()],
                         [line.split()[0] for line in lines])
        self.assertEqual(["GetJsonACLIPv4BasicRulesStream"],
                         [line.split()[0] for line in lines
                          if "(streamed)" in line])
        self.assertIn("GetJsonACLBase                   acl.ACLBase", lines)

    def test_help(self):
        run = aclctl(None, "--help", token=None)
        self.assertEqual(0, run.returncode)
        self.assertIn("Usage: aclctl", run.stdout)
        self.assertIn("Examples:", run.stdout)

    def test_no_server(self):
        run = aclctl(free_address(), "--timeout", "5", "Base")
        self.assertEqual(1, run.returncode)
        self.assertTrue(run.stderr.startswith("error: UNAVAILABLE: "),
                        run.stderr)


def free_address():
    """A loopback address nothing listens on (a port just released)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return "127.0.0.1:%d" % s.getsockname()[1]


def main():
    global BUILD
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--build", default=BUILD)
    args, rest = parser.parse_known_args()
    BUILD = os.path.abspath(args.build)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
