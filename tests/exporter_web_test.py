#!/usr/bin/python3
"""acl-exporter's HTTP side end to end: the target policy, bad requests,
the probe cap, the scraper's timeout header, clients that hang or vanish,
the stop, reloads, and TLS with basic authentication.

Devices are stand-ins on loopback: acl-devhost where a probe must work, a
socket that accepts and never answers where a probe must hang, and one
that records who connects where nothing may. Every wait is bounded.

    /usr/bin/python3 tests/exporter_web_test.py --build BUILD_DIR [args]
"""

import argparse
import base64
import concurrent.futures
import http.client
import json
import os
import re
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

from tls_files import bcrypt, make_certs

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(SOURCE, "build")
WAIT = 10
_tmp = None


def setUpModule():
    global _tmp
    _tmp = tempfile.TemporaryDirectory(prefix="acl-exporter-web-")


def tearDownModule():
    _tmp.cleanup()


def write(name, text, mode=0o600):
    path = os.path.join(_tmp.name, name)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)
    return path


def wait_until(predicate, seconds=WAIT):
    end = time.monotonic() + seconds
    while not predicate() and time.monotonic() < end:
        time.sleep(0.05)
    return predicate()


def exporter_cmd(*args):
    return [os.path.join(BUILD, "acl-exporter"), "--listen", "127.0.0.1:0"] + \
        list(args)


class Process:
    """A running program up to its `listening on ADDR` line."""

    def __init__(self, command):
        self.err = tempfile.TemporaryFile("w+")
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE,
                                     stderr=self.err, text=True)
        line = self.proc.stdout.readline()
        match = re.match(r"listening on (\S+)", line)
        if not match:
            self.kill()
            raise AssertionError("did not listen: " + self.stderr())
        self.addr = match.group(1)

    def stderr(self):
        self.err.seek(0)
        return self.err.read()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=WAIT)
        self.proc.stdout.close()
        self.err.close()


class Silent:
    """A device that accepts connections on HOST and never answers; it
    records the peers."""

    def __init__(self, host="127.0.0.1"):
        self.sock = socket.socket()
        self.sock.bind((host, 0))
        self.sock.listen(64)
        self.addr = "%s:%d" % self.sock.getsockname()
        self.peers, self.conns = [], []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, peer = self.sock.accept()
            except OSError:
                return
            self.peers.append(peer)
            self.conns.append(conn)

    def close(self):
        self.sock.close()
        for c in self.conns:
            c.close()


class ExporterCase(unittest.TestCase):
    def exporter(self, *args):
        p = Process(exporter_cmd(*args))
        self.addCleanup(p.kill)
        return p

    def silent(self, host="127.0.0.1"):
        s = Silent(host)
        self.addCleanup(s.close)
        return s

    def get(self, addr, path, headers=None, timeout=WAIT, method="GET"):
        """(status, headers, body) of one plain HTTP request."""
        host, port = addr.rsplit(":", 1)
        c = http.client.HTTPConnection(host, int(port), timeout=timeout)
        try:
            c.request(method, path, headers=headers or {})
            r = c.getresponse()
            return r.status, dict(r.getheaders()), r.read().decode()
        finally:
            c.close()

    def metric(self, addr, name):
        text = self.get(addr, "/metrics")[2]
        match = re.search("^%s (\\S+)$" % re.escape(name), text, re.M)
        return float(match.group(1)) if match else 0.0


def probe_path(target, module=None):
    query = [("target", target)] + ([("module", module)] if module else [])
    return "/probe?" + urllib.parse.urlencode(query)


class TargetPolicyTest(ExporterCase):
    def test_a_target_nothing_names_is_never_contacted(self):
        named, other = self.silent("127.0.0.2"), self.silent("127.0.0.3")
        tokens = write("policy-tokens", "%s t0\n" % named.addr)
        config = write("policy.yml", 'allowed_targets: ["127.0.0.4/32:1"]\n')
        e = self.exporter("--token-file", tokens, "--config.file", config,
                          "--timeout", "0.3")
        status, _, body = self.get(e.addr, probe_path(other.addr))
        self.assertEqual(403, status)
        self.assertNotIn("t0", body)
        time.sleep(0.3)
        self.assertEqual([], other.peers)
        self.assertEqual(1, self.metric(
            e.addr, 'acl_exporter_probe_failures_total{cause="not_allowed"}'))
        # The named one is contacted (and times out).
        self.assertEqual(200, self.get(e.addr, probe_path(named.addr))[0])
        self.assertTrue(named.peers)

    def test_open_proxy_without_either_file_is_warned_of(self):
        e = self.exporter("--timeout", "0.2")
        self.assertIn("open proxy", e.stderr())
        self.assertEqual(200, self.get(e.addr, probe_path("127.0.0.1:1"))[0])


class BadRequestTest(ExporterCase):
    def test_bad_requests_are_refused_with_their_status(self):
        e = self.exporter()
        long_target = "a" * 300 + ":1"
        cases = [  # name, path, headers, status
            ("no target", "/probe", {}, 400),
            ("repeated target", "/probe?target=a:1&target=b:1", {}, 400),
            ("over-long target", probe_path(long_target), {}, 400),
            ("not HOST:PORT", probe_path("a b:1"), {}, 400),
            ("port 0", probe_path("127.0.0.1:0"), {}, 400),
            ("unknown module", probe_path("127.0.0.1:1", "nope"), {}, 400),
            ("huge query", "/probe?target=" + "x" * 100000, {}, 414),
            ("huge header", "/metrics", {"X-Big": "x" * 40000}, 431),
            ("unknown path", "/nope", {}, 404),
        ]
        for name, path, headers, status in cases:
            with self.subTest(case=name):
                self.assertEqual(status, self.get(e.addr, path, headers)[0])
        self.assertEqual(200, self.get(e.addr, "/-/healthy")[0])

    def test_landing_page_and_health(self):
        tokens = write("landing-tokens", "* secret-token-x\n")
        e = self.exporter("--token-file", tokens)
        status, _, body = self.get(e.addr, "/")
        self.assertEqual(200, status)
        for part in ('href="metrics"', 'href="-/healthy"', 'name="target"',
                     'name="module"'):
            self.assertIn(part, body)
        self.assertNotIn("secret-token-x", body + e.stderr() +
                         self.get(e.addr, "/metrics")[2])
        self.assertEqual((200, "Healthy\n"),
                         self.get(e.addr, "/-/healthy")[::2])

    def test_listen_address_is_checked_with_port_zero(self):
        for listen in ("bad host!:0", "127.0.0.1", "127.0.0.1:65536", ":0"):
            with self.subTest(listen=listen):
                r = subprocess.run([os.path.join(BUILD, "acl-exporter"),
                                    "--web.listen-address", listen],
                                   capture_output=True, text=True,
                                   timeout=WAIT)
                self.assertEqual(1, r.returncode)
                self.assertIn("HOST:PORT", r.stderr)


class ProbeLimitTest(ExporterCase):
    def test_the_cap_answers_503_then_serves_again(self):
        device = self.silent()
        e = self.exporter("--max-probes", "2", "--timeout", "1")
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            hung = [pool.submit(self.get, e.addr, probe_path(device.addr))
                    for _ in range(2)]
            self.assertTrue(wait_until(lambda: self.metric(
                e.addr, "acl_exporter_probes_in_flight") == 2))
            self.assertEqual(503, self.get(e.addr, probe_path(device.addr))[0])
            self.assertEqual([200, 200], [f.result()[0] for f in hung])
        self.assertEqual(200, self.get(e.addr, probe_path(device.addr))[0])
        self.assertEqual(1, self.metric(e.addr,
                                        "acl_exporter_probes_rejected_total"))

    def test_timeout_header_is_bounded(self):
        # --timeout 0.5 without a usable header; the header's value at most
        # 1.5, less the 0.5 margin. The probe's own duration tells.
        device = self.silent()
        e = self.exporter("--timeout", "0.5", "--max-timeout", "1.5",
                          "--timeout-margin", "0.5")
        cases = [("inf", 0.5), ("nan", 0.5), ("-3", 0.5), ("abc", 0.5),
                 ("1e16", 1.0), ("1e300", 1.0), ("1.2", 0.7), ("0.2", 0.1)]

        def took(header):
            body = self.get(e.addr, probe_path(device.addr), {
                "X-Prometheus-Scrape-Timeout-Seconds": header})[2]
            return float(re.search(r"^acl_probe_duration_seconds (\S+)$",
                                   body, re.M).group(1))
        with concurrent.futures.ThreadPoolExecutor(len(cases)) as pool:
            got = list(pool.map(took, [h for h, _ in cases]))
        for (header, want), seconds in zip(cases, got):
            with self.subTest(header=header):
                self.assertGreaterEqual(seconds, want - 0.05)
                self.assertLess(seconds, want + 0.6)

    def test_a_vanished_client_gives_its_slot_back(self):
        device = self.silent()
        e = self.exporter("--max-probes", "1", "--timeout", "30")
        host, port = e.addr.rsplit(":", 1)
        c = socket.create_connection((host, int(port)), timeout=WAIT)
        c.sendall(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n"
                   % probe_path(device.addr)).encode())
        self.assertTrue(wait_until(lambda: self.metric(
            e.addr, "acl_exporter_probes_in_flight") == 1))
        c.close()
        self.assertTrue(wait_until(lambda: self.metric(
            e.addr, "acl_exporter_probes_in_flight") == 0, 2))
        self.assertEqual(1, self.metric(
            e.addr, 'acl_exporter_probe_failures_total{cause="cancelled"}'))

    def test_sigterm_cancels_probes_and_exits_soon(self):
        device = self.silent()
        e = self.exporter("--timeout", "60")
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            pool.submit(self.get, e.addr, probe_path(device.addr))
            self.assertTrue(wait_until(lambda: self.metric(
                e.addr, "acl_exporter_probes_in_flight") == 1))
            start = time.monotonic()
            e.proc.send_signal(signal.SIGTERM)
            self.assertEqual(0, e.proc.wait(timeout=WAIT))
            self.assertLess(time.monotonic() - start, 2.5)

    def test_max_series_caps_a_probe(self):
        config = subprocess.run(
            [sys.executable, os.path.join(SOURCE, "scripts", "gen_config.py"),
             "--rules", "30"], capture_output=True, text=True, check=True,
            timeout=WAIT).stdout
        device = Process([os.path.join(BUILD, "acl-devhost"), "--listen",
                          "127.0.0.1:0", "--token", "t0", "--config",
                          write("series.json", config)])
        self.addCleanup(device.kill)
        tokens = write("series-tokens", "%s t0\n" % device.addr)
        e = self.exporter("--token-file", tokens, "--max-series", "5")
        body = self.get(e.addr, probe_path(device.addr))[2]
        self.assertIn("\nacl_up 1\n", body)
        dropped = re.search(r"^acl_probe_series_dropped (\S+)$", body, re.M)
        self.assertGreater(float(dropped.group(1)), 0)
        series = [l for l in body.splitlines() if l.startswith("acl_") and
                  not l.startswith("acl_probe_") and
                  not l.startswith("acl_up")]
        self.assertLessEqual(len(series), 5)


class ConnectionTest(ExporterCase):
    def test_held_connections_do_not_block_others(self):
        # The read timeout outlasts opening the 300 connections on a busy
        # machine, so the cap is full when the client comes.
        e = self.exporter("--web.read-timeout", "3",
                          "--web.max-connections", "256")
        host, port = e.addr.rsplit(":", 1)
        held = []
        for i in range(300):  # 256 open, idle or half-sent, the rest refused
            s = socket.socket()
            s.bind(("127.0.0.%d" % (2 + i % 200), 0))
            s.settimeout(WAIT)
            s.connect((host, int(port)))
            if i % 2:
                s.sendall(b"GET /metr")
            held.append(s)
        start = time.monotonic()

        def served():  # refused (reset) while the cap is full
            try:
                return self.get(e.addr, "/metrics", timeout=3)[0] == 200
            except OSError:
                return False
        # The cap is full: a new client is served once the read timeout
        # has dropped the held connections.
        self.assertTrue(wait_until(served, 8))
        self.assertLess(time.monotonic() - start, 6)
        # Each held connection is closed by the exporter within the timeout.
        for s in held:
            try:
                self.assertEqual(b"", s.recv(100))
            except ConnectionResetError:
                pass
            s.close()
        refused = lambda cause: self.metric(
            e.addr, 'acl_exporter_http_refused_total{cause="%s"}' % cause)
        self.assertGreaterEqual(refused("timeout"), 200)
        self.assertGreater(refused("connection_limit"), 0)


class ReloadTest(ExporterCase):
    def test_token_file_changes_and_broken_files(self):
        a, b = self.silent("127.0.0.5"), self.silent("127.0.0.6")
        tokens = write("reload-tokens", "%s t0\n" % a.addr)
        e = self.exporter("--token-file", tokens, "--timeout", "0.2")
        ok = lambda: self.metric(
            e.addr, "acl_exporter_config_last_reload_successful")
        self.assertEqual(403, self.get(e.addr, probe_path(b.addr))[0])
        # A change is picked up without a signal.
        write("reload-tokens", "%s t0\n%s t1\n" % (a.addr, b.addr))
        self.assertTrue(wait_until(lambda: self.get(
            e.addr, probe_path(b.addr))[0] == 200, 3))
        # A broken file is not applied; the old one stays.
        write("reload-tokens", "just-one-token\n")
        status, _, body = self.get(e.addr, "/-/reload", method="POST")
        self.assertEqual(500, status)
        self.assertIn('"* TOKEN"', body)
        self.assertNotIn("just-one-token", body + e.stderr())
        self.assertEqual(0, ok())
        self.assertEqual(200, self.get(e.addr, probe_path(b.addr))[0])
        # Mended, then SIGHUP.
        write("reload-tokens", "%s t0\n" % a.addr)
        e.proc.send_signal(signal.SIGHUP)
        self.assertTrue(wait_until(lambda: ok() == 1, 3))
        self.assertEqual(403, self.get(e.addr, probe_path(b.addr))[0])
        # A file open to other users.
        os.chmod(tokens, 0o644)
        self.assertEqual(500, self.get(e.addr, "/-/reload", method="POST")[0])
        self.assertIn("chmod 600", e.stderr())


class WebConfigTest(ExporterCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(dir=_tmp.name)
        make_certs(cls.dir)
        make_certs(cls.dir, "other")  # a key that is not server.pem's

    def web(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def check(self, *args):
        return subprocess.run(exporter_cmd("--config.check", *args),
                              capture_output=True, text=True, timeout=WAIT)

    def test_each_bad_file_names_its_fault(self):
        tls = "tls_server_config:\n  cert_file: server.pem\n  key_file: %s\n"
        good = tls % "server.key"
        self.web("notpem.pem", "hello\n")
        cases = [  # name, web config, expected text
            ("missing cert file", tls.replace("server.pem", "nope.pem")
             % "server.key", "cert_file"),
            ("bad PEM", tls.replace("server.pem", "notpem.pem") % "server.key",
             "no PEM certificate"),
            ("key not the cert's", tls % "other.key", "does not match"),
            ("unknown client_auth_type",
             good + "  client_auth_type: Sometimes\n", 'unknown "Sometimes"'),
            ("client_auth_type without CA",
             good + "  client_auth_type: RequireAndVerifyClientCert\n",
             "needs client_ca_file"),
            ("unknown min_version", good + "  min_version: TLS9\n",
             "min_version"),
            ("unsupported key", good + "  cipher_suites: [X]\n",
             "cipher_suites is not supported"),
            ("unknown key", good + "  colour: red\n",
             "unknown key tls_server_config.colour"),
            ("bad bcrypt hash", "basic_auth_users:\n  alice: plain\n",
             "basic_auth_users.alice: not a bcrypt hash"),
            ("YAML syntax", "basic_auth_users:\n  a: b\n c: d\n", "line 3"),
        ]
        for name, text, want in cases:
            with self.subTest(case=name):
                r = self.check("--web.config.file", self.web("bad.yml", text))
                self.assertEqual(1, r.returncode, r.stdout)
                self.assertIn(want, r.stderr)
        # The good one, and promtool agrees with both verdicts.
        path = self.web("good.yml", good + "basic_auth_users:\n  alice: %s\n"
                        % bcrypt("pw"))
        r = self.check("--web.config.file", path)
        self.assertEqual((0, "configuration OK\n"), (r.returncode, r.stdout))
        self.assertEqual(0, subprocess.run(
            ["promtool", "check", "web-config", path], capture_output=True,
            timeout=WAIT).returncode)

    def test_config_file_and_token_file_errors(self):
        cases = [
            ("--config.file", "modules:\n  m:\n    tables: [Nope]\n",
             "unknown table Nope"),
            ("--config.file", "allowed: []\n", "unknown key allowed"),
            ("--config.file", "allowed_targets: [\"x\"]\n", "no port"),
            ("--token-file", "lonely\n", '"* TOKEN"'),
            ("--token-file", "10.0.0.0/33:1 t\n", "not a target pattern"),
        ]
        for flag, text, want in cases:
            with self.subTest(flag=flag, want=want):
                r = self.check(flag, write("bad-file", text))
                self.assertEqual(1, r.returncode)
                self.assertIn(want, r.stderr)

    def https(self, addr, path, user=None, cert=None):
        port = int(addr.rsplit(":", 1)[1])
        context = ssl.create_default_context(
            cafile=os.path.join(self.dir, "ca.pem"))
        if cert:
            context.load_cert_chain(os.path.join(self.dir, cert + ".pem"),
                                    os.path.join(self.dir, cert + ".key"))
        c = http.client.HTTPSConnection("localhost", port, context=context,
                                        timeout=WAIT)
        headers = {}
        if user:
            headers["Authorization"] = "Basic " + base64.b64encode(
                user.encode()).decode()
        try:
            c.request("GET", path, headers=headers)
            r = c.getresponse()
            return r.status, r.getheader("WWW-Authenticate"), \
                c.sock.getpeercert()
        finally:
            c.close()

    def test_tls_basic_auth_and_client_certificates(self):
        path = self.web("serve.yml", (
            "tls_server_config:\n  cert_file: server.pem\n"
            "  key_file: server.key\n  client_ca_file: ca.pem\n"
            "  client_auth_type: RequireAndVerifyClientCert\n"
            "basic_auth_users:\n  alice: %s\n") % bcrypt("pw"))
        e = self.exporter("--web.config.file", path)
        cases = [  # name, user:password, client certificate, status
            ("no credentials", None, "client", 401),
            ("wrong password", "alice:nope", "client", 401),
            ("unknown user", "bob:pw", "client", 401),
            ("no client certificate", "alice:pw", None, 403),
            ("good", "alice:pw", "client", 200),
        ]
        for name, user, cert, status in cases:
            with self.subTest(case=name):
                got, challenge, _ = self.https(e.addr, "/-/healthy", user,
                                               cert)
                self.assertEqual(status, got)
                if status == 401:
                    self.assertEqual('Basic realm="acl-exporter"', challenge)
        with self.assertRaises((ConnectionError, http.client.HTTPException)):
            self.get(e.addr, "/-/healthy")  # plain HTTP on the TLS port

    def test_a_rotated_certificate_is_served_without_restart(self):
        path = self.web("rotate.yml", "tls_server_config:\n"
                        "  cert_file: rot.pem\n  key_file: rot.key\n")
        for suffix in ("pem", "key"):
            os.link(os.path.join(self.dir, "server." + suffix),
                    os.path.join(self.dir, "rot." + suffix))
        e = self.exporter("--web.config.file", path)
        serial = lambda: self.https(e.addr, "/-/healthy")[2]["serialNumber"]
        first = serial()
        make_certs(self.dir, "rot2")
        for suffix in ("pem", "key"):
            os.replace(os.path.join(self.dir, "rot2." + suffix),
                       os.path.join(self.dir, "rot." + suffix))
        self.assertTrue(wait_until(lambda: serial() != first, 4))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=BUILD)
    args, rest = parser.parse_known_args()
    BUILD = os.path.abspath(args.build)
    unittest.main(argv=[sys.argv[0]] + rest)
