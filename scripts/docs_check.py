#!/usr/bin/python3
"""The docs check: every fenced block of README.md and docs/*.md is run or
checked as the marker after its language word says ("sh run",
"sh run=background", "sh run=package", "text output", "yaml check=KIND",
"cmake run=consumer", "LANG norun"; docs/contributing.md has the table). A
block without a marker fails, and so does an indented code block (it would
escape the check).

    /usr/bin/python3 scripts/docs_check.py --build BUILD [--guide FILE]...
                                           [--list] [--keep] [--self-test]

Each guide gets a scratch folder: a fresh temporary directory holding a
symlink to every top-level entry of the source tree, and `build` pointing to
BUILD. Its blocks run in order in that folder, with bash -euo pipefail.
Every command and wait is bounded in time; servers started by
run=background blocks are stopped with SIGTERM when the guide is done (or
the check ends any other way), and what a block leaves running is stopped
when it ends. A `cmake` configure step in a block is given the real source
tree and build directory for the scratch folder's symlinks.

The details a guide may rely on:
  text output   each non-blank line must appear, in order, in the output
                (stdout and stderr) of the run block before it; a line
                `...` stands for any lines, `...` within a line for any text;
                a server's output is checked once it is stopped
  run=package   the .deb (package_test.sh's when fresh, else cpack's) is
                unpacked into a scratch root; PATH and LD_LIBRARY_PATH lead
                there, and a /usr/ path in the block that the root holds
                (or may create) becomes the root's; the output shows /usr/
  check=KIND    the block is written to the scratch folder, as NAME with
                `file=NAME` after the marker (so a Prometheus configuration
                can name a rule file written before it)
  run=consumer  the snippet is included into a host project after the host
                target is declared (named by the snippet's first target
                command, my_host by default; declared by the snippet itself
                when it has add_executable), which gives it the sources of
                tests/package_consumer/host_main.cc over the toy host; built
                against `cmake --install BUILD`, it must load the module
                through ACL_MODULE and serve one call
  norun         the paragraph right before the block must be prose (its
                reason), not nothing, a heading or another block

One line per block, `GUIDE:LINE MARKER ok|FAILED|skipped[: why]`, the output
of a failed block below it (bounded), and last `N passed, N failed`. Exit 1
when a block failed.

--self-test runs the fixture guide tests/docs_check_fixture.md, where each
block that must fail follows a line `<!-- docs-check: must fail -->`, and
passes when exactly those blocks fail.
"""

import argparse
import ctypes
import glob
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIXTURE = os.path.join("tests", "docs_check_fixture.md")
MUST_FAIL = "<!-- docs-check: must fail -->"

# Bounds, in seconds.
BLOCK_SECONDS = 120     # one run block; one step of a consumer build
LISTEN_SECONDS = 60     # a background block's `listening on` line (a
                        # block may configure and build first)
STOP_SECONDS = 10       # a stopped server's exit after SIGTERM
PORT_SECONDS = 65       # a fixed port held by an earlier connection's
                        # TIME_WAIT (60 s) is free again
CPACK_SECONDS = 300     # making the .deb when no fresh one is at hand

# Output of a failed block shown: its last lines, each cut short.
SHOWN_LINES = 40
SHOWN_LINE_CHARS = 300
READ_BYTES = 1 << 20    # the tail of a block's output that is looked at

# How a run block's text is run.
BASH = ["bash", "-euo", "pipefail", "-c"]

LISTENING = re.compile(rb"^listening on \S+", re.M)
# A server's fixed loopback port in a background block.
LISTEN_ARG = re.compile(r"--(?:web\.)?listen(?:-address)?[= ]"
                        r"(127\.\d+\.\d+\.\d+|localhost):(\d+)\b")
FENCE = re.compile(r"^(\s*)(`{3,}|~{3,})(.*)$")
LIST_ITEM = re.compile(r"^\s{0,3}([-*+]|\d+[.)])\s")
HTML_COMMENT = re.compile(r"^\s*<!--.*-->\s*$")
USR_PATH = re.compile(r"(?<![\w./-])/usr/[^\s'\"`;|&()<>$]*")

# check=KIND -> the command checking FILE ({exporter}: BUILD's acl-exporter)
YAML_CHECKS = {
    "web-config":      ["promtool", "check", "web-config", "{file}"],
    "rules":           ["promtool", "check", "rules", "{file}"],
    "prometheus":      ["promtool", "check", "config", "{file}"],
    "exporter-config": ["{exporter}", "--config.check", "--config.file",
                        "{file}"],
}

SHELLS = ("sh", "bash")
# marker -> (the languages it goes with, what the check does)
MARKERS = {
    "run":                   (SHELLS,     "shell"),
    "run=background":        (SHELLS,     "background"),
    "run=package":           (SHELLS,     "package"),
    "output":                (("text",),  "output"),
    "run=consumer":          (("cmake",), "consumer"),
    "norun":                 (None,       "norun"),  # any language
}
MARKERS.update({"check=" + what: (("yaml",), "yaml") for what in YAML_CHECKS})
RUN_KINDS = ("shell", "background", "package")

# The host project a run=consumer snippet is dropped into: the snippet names
# the host target (and finds the package); the project gives it the host's
# sources (tests/package_consumer/host_main.cc, which loads the module from
# ACL_MODULE and serves one call, over the toy host) and the reply schema's
# code.
CONSUMER_HOST = "host_main.cc"
CONSUMER_TARGET = "my_host"
CONSUMER_PROJECT = """\
cmake_minimum_required(VERSION 3.25)
project(docs_consumer LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(PkgConfig REQUIRED)
pkg_check_modules(GRPC REQUIRED IMPORTED_TARGET grpc++ protobuf)
find_program(PROTOC protoc REQUIRED)
set(TOY_DIR {tests})
set(HOST_SOURCES ${{TOY_DIR}}/package_consumer/{host} ${{TOY_DIR}}/toy_host.cc)
{define}
include(${{CMAKE_CURRENT_SOURCE_DIR}}/snippet.cmake)
{add_sources}
if(NOT AclService_PROTO_DIR)
  message(FATAL_ERROR "the snippet did not find the AclService package")
endif()
set(GEN ${{CMAKE_CURRENT_BINARY_DIR}}/gen)
file(MAKE_DIRECTORY ${{GEN}})
add_custom_command(
  OUTPUT ${{GEN}}/grpc_service.pb.cc ${{GEN}}/grpc_service.pb.h
  COMMAND ${{PROTOC}} --proto_path=${{AclService_PROTO_DIR}} --cpp_out=${{GEN}}
          ${{AclService_PROTO_DIR}}/grpc_service.proto
  DEPENDS ${{AclService_PROTO_DIR}}/grpc_service.proto)
target_sources({target} PRIVATE ${{GEN}}/grpc_service.pb.cc)
target_include_directories({target} PRIVATE ${{GEN}} ${{TOY_DIR}})
target_link_libraries({target} PRIVATE AclService::hostcheck PkgConfig::GRPC
                      ${{CMAKE_DL_LIBS}})
"""
CMAKE_TARGET = re.compile(
    r"\b(add_executable|target_link_libraries|target_compile_definitions|"
    r"set_target_properties)\s*\(\s*([\w.+-]+)")

# `cmake` as the blocks run it: a configure step gets the real source tree
# and build directory for the scratch folder's symlinks, so that the build
# under test keeps its paths (configured with the scratch folder's, it would
# be rebuilt under them, and again under its own by the next build).
CMAKE_SHIM = """\
#!/usr/bin/python3
import os, sys
def real(flag, path):
    if flag == "-S" and os.path.islink(os.path.join(path, "CMakeLists.txt")):
        return os.path.dirname(os.path.realpath(
            os.path.join(path, "CMakeLists.txt")))
    return os.path.realpath(path) if flag == "-B" else path
args, i = sys.argv[1:], 0
while i < len(args):
    for flag in ("-S", "-B"):
        if args[i] == flag and i + 1 < len(args):
            args[i + 1] = real(flag, args[i + 1])
        elif args[i].startswith(flag) and len(args[i]) > 2:
            args[i] = flag + real(flag, args[i][2:])
    i += 1
os.execv(%r, [%r] + args)
"""

# The programs and module a fresh .deb must be newer than.
PACKAGED = ("acl-devhost", "aclctl", "acl-exporter",
            "libacl_service.so")


class Block:
    """A fenced (or indented) block of a guide: where it is, its info
    string split into language and marker, its text, and the paragraph
    before it. Plain data."""

    def __init__(self, guide, line, info, text, before, must_fail,
                 indented=False):
        self.guide = guide
        self.line = line
        words = info.split()
        self.lang = words[0] if words else ""
        self.attrs = words[1:]
        self.text = text
        self.before = before
        self.must_fail = must_fail
        self.indented = indented

    def marker(self):
        if self.indented:
            return "indented"
        return " ".join([self.lang] + self.attrs) or "(none)"

    def where(self):
        return "%s:%d" % (self.guide, self.line)

    def option(self, name):
        """The value of NAME=VALUE among the attributes, or None."""
        for attr in self.attrs:
            if attr.startswith(name + "="):
                return attr[len(name) + 1:]
        return None

    def kind(self):
        """(kind, None) or (None, why the marker is wrong)."""
        if self.indented:
            return None, "an indented code block: fence it with a marker"
        markers = [a for a in self.attrs if not a.startswith("file=")]
        if not markers:
            return None, "no marker"
        if len(markers) > 1:
            return None, "more than one marker: " + " ".join(markers)
        if markers[0] not in MARKERS:
            return None, "unknown marker " + markers[0]
        langs, kind = MARKERS[markers[0]]
        if langs is not None and self.lang not in langs:
            return None, "%s goes with %s, not %s" % (
                markers[0], "/".join(langs), self.lang or "no language")
        return kind, None


def paragraph_before(lines, index):
    """The prose paragraph right before lines[index] (HTML comments left
    out), and whether a must-fail comment is next to it."""
    def skip_gap(i, must_fail):
        """Up past blank lines and HTML comments from lines[i]."""
        while i >= 0 and (not lines[i].strip() or
                          HTML_COMMENT.match(lines[i])):
            must_fail = must_fail or lines[i].strip() == MUST_FAIL
            i -= 1
        return i, must_fail

    i, must_fail = skip_gap(index - 1, False)
    paragraph = []
    while i >= 0 and lines[i].strip() and not HTML_COMMENT.match(lines[i]):
        paragraph.insert(0, lines[i])
        i -= 1
    _, must_fail = skip_gap(i, must_fail)
    text = "\n".join(paragraph)
    if not paragraph or FENCE.match(paragraph[-1]) or \
            paragraph[-1].lstrip().startswith("#"):
        text = ""  # a block or a heading is no reason
    return text, must_fail


def parse(path, name):
    """The blocks of the guide at PATH, shown as NAME."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    blocks = []
    i = 0
    in_list = False  # the last unindented prose line was a list item's
    previous_blank = True
    while i < len(lines):
        line = lines[i]
        fence = FENCE.match(line)
        if fence and not (fence.group(2)[0] == "`" and "`" in fence.group(3)):
            indent, mark = len(fence.group(1)), fence.group(2)
            body = []
            j = i + 1
            while j < len(lines):
                close = FENCE.match(lines[j])
                if close and close.group(2)[0] == mark[0] and \
                        len(close.group(2)) >= len(mark) and \
                        not close.group(3).strip():
                    break
                text = lines[j]
                strip = len(text) - len(text.lstrip(" "))
                body.append(text[min(indent, strip):])
                j += 1
            before, must_fail = paragraph_before(lines, i)
            blocks.append(Block(name, i + 1, fence.group(3), "\n".join(body),
                                before, must_fail))
            i = j + 1
            previous_blank = False
            continue
        if not line.strip():
            previous_blank = True
            i += 1
            continue
        if (line.startswith("    ") or line.startswith("\t")) and \
                previous_blank and not in_list:
            start = i
            body = []
            while i < len(lines) and (not lines[i].strip() or
                                      lines[i].startswith(("    ", "\t"))):
                body.append(lines[i])
                i += 1
            before, must_fail = paragraph_before(lines, start)
            blocks.append(Block(name, start + 1, "", "\n".join(body).strip(),
                                before, must_fail, indented=True))
            previous_blank = True
            continue
        if not line.startswith((" ", "\t")):
            in_list = bool(LIST_ITEM.match(line))
        elif LIST_ITEM.match(line):
            in_list = True
        previous_blank = False
        i += 1
    return blocks


def die_with_parent():
    """In a child before exec: SIGTERM when the check itself goes away,
    even by SIGKILL (a test runner's timeout)."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # DEATHSIG
    except (OSError, AttributeError):
        pass


def stop_group(process, sig=signal.SIGTERM, wait=STOP_SECONDS):
    """Ends PROCESS and everything it started (its own process group)."""
    for s in (sig, signal.SIGKILL):
        try:
            os.killpg(process.pid, s)
        except ProcessLookupError:
            pass
        try:
            process.wait(timeout=wait)
            return
        except subprocess.TimeoutExpired:
            continue


def read_tail(path):
    with open(path, "rb") as f:
        f.seek(0, os.SEEK_END)
        f.seek(max(0, f.tell() - READ_BYTES))
        return f.read().decode("utf-8", "replace")


def wait_for_port(host, port):
    """Waits, bounded, until HOST:PORT can be bound as a server binds it.

    A guide's fixed port lies in Linux's ephemeral range (32768-60999), so
    a connection made earlier may have had it as its local port and left a
    TIME_WAIT that holds it for a minute; the block then waits that out
    rather than failing."""
    deadline = time.monotonic() + PORT_SECONDS
    while port != 0:
        with socket.socket() as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind((host, port))
                return
            except OSError:
                if time.monotonic() >= deadline:
                    return  # the block says what holds it
        time.sleep(0.5)


def start(argv, cwd, env, log):
    """Starts ARGV in a process group of its own, stdout and stderr into the
    file LOG; raises OSError when it cannot."""
    with open(log, "wb") as out:
        return subprocess.Popen(argv, cwd=cwd, env=env,
                                stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT,
                                start_new_session=True,
                                preexec_fn=die_with_parent)


def run_command(argv, cwd, env, log, timeout=BLOCK_SECONDS):
    """Runs ARGV with stdout and stderr into the file LOG; what it left
    running is stopped. Returns (exit status or None on timeout, output)."""
    try:
        process = start(argv, cwd, env, log)
    except OSError as e:
        return 127, "cannot run %s: %s" % (argv[0], e)
    try:
        status = process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        status = None
    stop_group(process, signal.SIGKILL if status is None else signal.SIGTERM)
    output = read_tail(log)
    if status is None:
        output += "\n(stopped after %d s)" % timeout
    return status, output


def output_mismatch(expected, output):
    """None when every non-blank line of EXPECTED appears in OUTPUT in
    order (a line `...` stands for any lines, `...` within a line for any
    text); else the first line missing."""
    got = [line.rstrip() for line in output.splitlines()]
    at = 0
    for want in expected.splitlines():
        want = want.rstrip()
        if not want.strip() or want.strip() == "...":
            continue
        pattern = re.compile(".*".join(re.escape(p) for p in want.split("...")))
        while at < len(got) and not pattern.fullmatch(got[at]):
            at += 1
        if at == len(got):
            return want
        at += 1
    return None


class Result:
    OK, FAILED, SKIPPED = "ok", "FAILED", "skipped"

    def __init__(self, status, why="", output=""):
        self.status = status
        self.why = why
        self.output = output


class Check:
    """One run of the check: the build under test, the shared artifacts
    made on first need (the unpacked .deb, the install prefix), the tally.
    Owns its work directory; not thread-safe."""

    def __init__(self, build, keep):
        self.build = os.path.abspath(build)
        self.keep = keep
        self.work = tempfile.mkdtemp(prefix="docs-check-")
        # Stable paths for what is compiled, so that ccache hits.
        self.cache = os.path.join(self.build, "docs-check")
        self.passed = self.failed = self.skipped = 0
        self.failures = []   # (guide, line) of each failed block
        self.root = None     # the unpacked .deb, or an error text
        self.prefix = None   # the cmake --install prefix, or an error text
        self.cmake_cache = self._read_cmake_cache()
        self.env = self._block_env()

    def _block_env(self):
        """The environment of the blocks: PATH starting with the cmake
        shim."""
        cmake = shutil.which("cmake")
        env = dict(os.environ)
        if cmake:
            shims = os.path.join(self.work, "shims")
            os.makedirs(shims)
            shim = os.path.join(shims, "cmake")
            with open(shim, "w") as f:
                f.write(CMAKE_SHIM % (cmake, cmake))
            os.chmod(shim, 0o755)
            env["PATH"] = shims + os.pathsep + env.get("PATH", "/usr/bin:/bin")
        return env

    def close(self):
        if not self.keep:
            shutil.rmtree(self.work, ignore_errors=True)
        else:
            print("kept " + self.work)

    def _read_cmake_cache(self):
        values = {}
        try:
            with open(os.path.join(self.build, "CMakeCache.txt")) as f:
                for line in f:
                    m = re.match(r"^([\w-]+):[A-Z]+=(.*)$", line.rstrip("\n"))
                    if m:
                        values[m.group(1)] = m.group(2)
        except OSError:
            pass
        return values

    def report(self, block, result):
        line = "%s %s %s" % (block.where(), block.marker(), result.status)
        if result.why:
            line += ": " + result.why
        print(line, flush=True)
        if result.status == Result.OK:
            self.passed += 1
        elif result.status == Result.SKIPPED:
            self.skipped += 1
        else:
            self.failed += 1
            self.failures.append((block.guide, block.line))
            shown = result.output.rstrip().splitlines()[-SHOWN_LINES:]
            for text in shown:
                print("    " + text[:SHOWN_LINE_CHARS])
            sys.stdout.flush()

    # ---- shared artifacts ---------------------------------------------------

    def _newest_input(self):
        """The newest mtime among what goes into the package: the build's
        programs and module, and the source tree's files (the guides, the
        examples, the unit files are packed from there)."""
        paths = [os.path.join(self.build, name) for name in PACKAGED]
        try:
            listed = subprocess.run(["git", "-C", SOURCE, "ls-files", "-z"],
                                    capture_output=True, timeout=30).stdout
            paths += [os.path.join(SOURCE, p.decode())
                      for p in listed.split(b"\0") if p]
        except (OSError, subprocess.TimeoutExpired):
            pass
        return max((os.path.getmtime(p) for p in paths if os.path.isfile(p)),
                   default=0)

    def _fresh(self, path, newest):
        """PATH is a file newer than NEWEST."""
        return os.path.isfile(path) and os.path.getmtime(path) >= newest

    def package_root(self):
        """The .deb of the build unpacked into a scratch root: its path, or
        raises RuntimeError."""
        if self.root is None:
            self.root = self._unpack()
        if isinstance(self.root, RuntimeError):
            raise self.root
        return self.root

    def _unpack(self):
        candidates = sorted(
            glob.glob(os.path.join(self.build, "package-test", "deb", "out",
                                   "acl-service_*.deb")) +
            glob.glob(os.path.join(self.cache, "deb", "acl-service_*.deb")),
            key=lambda p: os.path.getmtime(p) if os.path.exists(p) else 0,
            reverse=True)
        newest = self._newest_input()
        deb = next((c for c in candidates if self._fresh(c, newest)), None)
        if deb is not None:
            # package_test.sh empties its folder when it starts: a copy.
            copy = os.path.join(self.work, os.path.basename(deb))
            try:
                shutil.copyfile(deb, copy)
                deb = copy
            except OSError:
                deb = None
        if deb is None:
            out = os.path.join(self.cache, "deb")
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            status, output = run_command(
                ["cpack", "-G", "DEB", "-B", out], self.build, None,
                os.path.join(self.work, "cpack.log"), CPACK_SECONDS)
            debs = glob.glob(os.path.join(out, "acl-service_*.deb"))
            if status != 0 or not debs:
                return RuntimeError("cpack made no package:\n" + output)
            deb = debs[0]
        root = os.path.join(self.work, "root")
        status, output = run_command(["dpkg", "-x", deb, root], self.work,
                                     None, os.path.join(self.work, "dpkg.log"))
        if status != 0:
            return RuntimeError("dpkg -x failed:\n" + output)
        return root

    def install_prefix(self):
        """The build installed with cmake --install: its prefix, or raises
        RuntimeError."""
        if self.prefix is None:
            prefix = os.path.join(self.cache, "prefix")
            shutil.rmtree(prefix, ignore_errors=True)
            status, output = run_command(
                ["cmake", "--install", self.build, "--prefix", prefix],
                self.build, None, os.path.join(self.work, "install.log"))
            self.prefix = prefix if status == 0 else RuntimeError(
                "cmake --install failed:\n" + output)
        if isinstance(self.prefix, RuntimeError):
            raise self.prefix
        return self.prefix


class Guide:
    """The run of one guide's blocks: its scratch folder, the servers its
    background blocks started, the output of its last run block. Owns the
    folder and the servers; stop() ends them."""

    def __init__(self, check, path, name):
        self.check = check
        self.path = path
        self.name = name
        self.folder = tempfile.mkdtemp(prefix="guide-", dir=check.work)
        self.logs = tempfile.mkdtemp(prefix="logs-", dir=check.work)
        for entry in os.listdir(SOURCE):
            if entry != "build":
                os.symlink(os.path.join(SOURCE, entry),
                           os.path.join(self.folder, entry))
        os.symlink(check.build, os.path.join(self.folder, "build"))
        self.servers = []      # (block, process, log)
        self.previous = None   # (block, Result) of the block before
        self.deferred = []     # (output block, server log) checked at stop

    def log(self, block, what="out"):
        return os.path.join(self.logs, "%d.%s" % (block.line, what))

    def run(self, blocks):
        try:
            for block in blocks:
                result = self.run_block(block)
                if result is not None:
                    self.check.report(block, result)
                self.previous = (block, result)
        finally:
            self.stop()

    def stop(self):
        for _, process, _ in self.servers:
            stop_group(process)
        self.servers = []
        for block, log in self.deferred:
            self.check.report(block, self.match(block, read_tail(log)))
        self.deferred = []

    def run_block(self, block):
        kind, why = block.kind()
        if kind is None:
            return Result(Result.FAILED, why)
        return getattr(self, "run_" + kind)(block)

    # ---- one method per kind ------------------------------------------------

    def run_norun(self, block):
        if not block.before.strip():
            return Result(Result.FAILED,
                          "norun without a reason in the sentence before it")
        return Result(Result.SKIPPED, "norun")

    def _shell(self, block, script, env=None):
        status, output = run_command(
            BASH + [script], self.folder,
            env or self.check.env, self.log(block))
        if status is None:
            return Result(Result.FAILED, "still running after %d s" %
                          BLOCK_SECONDS, output)
        if status != 0:
            return Result(Result.FAILED, "exit status %d" % status, output)
        return Result(Result.OK, output=output)

    def run_shell(self, block):
        return self._shell(block, block.text)

    def run_background(self, block):
        for host, port in LISTEN_ARG.findall(block.text):
            wait_for_port(host, int(port))
        log = self.log(block)
        process = start(BASH + [block.text], self.folder, self.check.env, log)
        self.servers.append((block, process, log))
        deadline = time.monotonic() + LISTEN_SECONDS
        while time.monotonic() < deadline:
            with open(log, "rb") as f:
                if LISTENING.search(f.read(READ_BYTES)):
                    return Result(Result.OK, output=log)
            if process.poll() is not None:
                return Result(Result.FAILED, "exited (status %d) before "
                              "listening" % process.returncode, read_tail(log))
            time.sleep(0.1)
        return Result(Result.FAILED, "no 'listening on' line in %d s" %
                      LISTEN_SECONDS, read_tail(log))

    def run_package(self, block):
        try:
            root = self.check.package_root()
        except RuntimeError as e:
            return Result(Result.FAILED, "no package", str(e))
        usr = os.path.join(root, "usr")

        def rewrite(match):
            path = match.group(0)
            inside = root + path
            if os.path.lexists(inside) or (
                    not os.path.lexists(path) and
                    os.path.isdir(os.path.dirname(inside.rstrip("/")))):
                return inside
            return path

        env = dict(self.check.env)
        env["PATH"] = os.pathsep.join(
            [os.path.join(usr, "bin"), os.path.join(usr, "sbin"),
             env.get("PATH", "/usr/bin:/bin")])
        libs = [os.path.join(usr, "lib")] + sorted(
            glob.glob(os.path.join(usr, "lib", "*-linux-gnu*")))
        if env.get("LD_LIBRARY_PATH"):
            libs.append(env["LD_LIBRARY_PATH"])
        env["LD_LIBRARY_PATH"] = os.pathsep.join(libs)
        result = self._shell(block, USR_PATH.sub(rewrite, block.text), env)
        # The output as the block would print it on an installed machine.
        result.output = result.output.replace(root + "/usr/", "/usr/")
        return result

    def run_output(self, block):
        previous = self.previous
        if previous is None or previous[0].kind()[0] not in RUN_KINDS:
            return Result(Result.FAILED,
                          "an output block not right after a run block")
        run_block, run_result = previous
        if run_result is None or run_result.status != Result.OK:
            return Result(Result.SKIPPED, "its run block failed")
        if run_block.kind()[0] == "background":
            # A server's output is complete when it is stopped.
            self.deferred.append((block, run_result.output))
            return None
        return self.match(block, run_result.output)

    def match(self, block, output):
        missing = output_mismatch(block.text, output)
        if missing is not None:
            return Result(Result.FAILED, "no line %r in order" % missing,
                          output)
        return Result(Result.OK)

    def run_yaml(self, block):
        what = block.option("check")
        name = block.option("file") or "%s-%d.yml" % (what, block.line)
        path = os.path.join(self.folder, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(block.text + "\n")
        exporter = os.path.join(self.check.build, "acl-exporter")
        argv = [a.format(file=path, exporter=exporter)
                for a in YAML_CHECKS[what]]
        status, output = run_command(argv, self.folder, None,
                                     self.log(block))
        if status != 0:
            return Result(Result.FAILED, "%s: exit status %s" %
                          (" ".join(argv[:3]), status), output)
        return Result(Result.OK)

    def run_consumer(self, block):
        try:
            prefix = self.check.install_prefix()
        except RuntimeError as e:
            return Result(Result.FAILED, "no install", str(e))
        targets = CMAKE_TARGET.findall(block.text)
        target = targets[0][1] if targets else CONSUMER_TARGET
        defines = ("add_executable", target) in targets
        project = CONSUMER_PROJECT.format(
            tests=os.path.join(SOURCE, "tests"), host=CONSUMER_HOST,
            target=target,
            define="" if defines else
            "add_executable(%s ${HOST_SOURCES})" % target,
            add_sources="target_sources(%s PRIVATE ${HOST_SOURCES})" % target
            if defines else "")
        # One host project for every snippet, its configuration kept from
        # run to run: CMake's compiler checks are most of a cold build.
        base = os.path.join(self.check.cache, "consumer")
        source, binary = os.path.join(base, "src"), os.path.join(base, "bin")
        shutil.rmtree(source, ignore_errors=True)
        os.makedirs(source)
        host = os.path.join(binary, target)
        if os.path.lexists(host):
            os.remove(host)  # never a former snippet's host
        with open(os.path.join(source, "CMakeLists.txt"), "w") as f:
            f.write(project)
        with open(os.path.join(source, "snippet.cmake"), "w") as f:
            f.write(block.text + "\n")
        cache = self.check.cmake_cache
        configure = ["cmake", "-S", source, "-B", binary, "-G", "Ninja",
                     "-DCMAKE_PREFIX_PATH=" + prefix]
        for variable in ("CMAKE_CXX_COMPILER", "CMAKE_CXX_COMPILER_LAUNCHER"):
            if cache.get(variable):
                configure.append("-D%s=%s" % (variable, cache[variable]))
        if cache.get("ACL_SANITIZE") == "ON":
            configure.append("-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined "
                             "-fno-omit-frame-pointer")
        steps = [("configure", configure),
                 ("build", ["cmake", "--build", binary, "-j2"]),
                 ("serve", [host])]
        for step, argv in steps:
            status, output = run_command(argv, base, None,
                                         self.log(block, step))
            if status != 0:
                return Result(Result.FAILED, "host project %s: exit status %s"
                              % (step, status), output)
        return Result(Result.OK)


def guides(names):
    """(path, shown name) of each guide: NAMES, or README.md and docs/*.md."""
    if not names:
        names = [os.path.join(SOURCE, "README.md")] + sorted(
            glob.glob(os.path.join(SOURCE, "docs", "*.md")))
    found = []
    for name in names:
        path = os.path.abspath(name) if os.path.exists(name) else \
            os.path.join(SOURCE, name)
        shown = os.path.relpath(path, SOURCE)
        found.append((path, path if shown.startswith("..") else shown))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"),
                        help="the build under test")
    parser.add_argument("--guide", action="append", default=[],
                        help="check this guide only (repeatable)")
    parser.add_argument("--list", action="store_true",
                        help="list the blocks without running them")
    parser.add_argument("--keep", action="store_true",
                        help="keep the scratch folders")
    parser.add_argument("--self-test", action="store_true",
                        help="check the fixture: exactly its planted "
                             "failures must fail")
    args = parser.parse_args()
    if args.self_test:
        args.guide = [os.path.join(SOURCE, FIXTURE)]

    targets = guides(args.guide)
    for path, _ in targets:
        if not os.path.isfile(path):
            parser.error("no guide " + path)
    parsed = [(path, name, parse(path, name)) for path, name in targets]
    if args.list:
        for _, _, blocks in parsed:
            for block in blocks:
                kind, why = block.kind()
                print("%s %s%s" % (block.where(), block.marker(),
                                   "" if kind else " (%s)" % why))
        return 0

    if not os.path.isdir(args.build):
        parser.error("no build directory " + args.build)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    check = Check(args.build, args.keep)
    started = time.monotonic()
    try:
        for path, name, blocks in parsed:
            Guide(check, path, name).run(blocks)
    finally:
        check.close()
    if check.skipped:
        print("%d skipped (%.0f s)" % (check.skipped,
                                        time.monotonic() - started))
    print("%d passed, %d failed" % (check.passed, check.failed))

    if args.self_test:
        planted = sorted((b.guide, b.line) for _, _, blocks in parsed
                         for b in blocks if b.must_fail)
        failed = sorted(check.failures)
        if planted != failed:
            print("self-test: planted failures %s, failed %s" % (
                ["%s:%d" % p for p in planted],
                ["%s:%d" % f for f in failed]))
            return 1
        print("self-test: exactly the %d planted failures failed" %
              len(planted))
        return 0
    return 1 if check.failed else 0


if __name__ == "__main__":
    sys.exit(main())
