"""A cross build end to end: its acl-devhost, serving its module through the
emulator, answers the build machine's clients exactly as the native build
does.

    cross_e2e.py NATIVE_BUILD CROSS_BUILD EMULATOR...

Two hosts of each build (the json adapter, and the echo adapter, which
answers with the request tree as the module built it), pieces of 7 bytes
for the streamed method. Every method gets an empty request and one with
every field set (numbers at their largest, texts with multi-byte UTF-8);
the Python client's status, details and pieces, the native aclctl's output
and the example client's output must be the same from both builds.
"""

import os
import re
import subprocess
import sys
import tempfile

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(SOURCE, "examples"))
import client  # noqa: E402  (the example client: schema stubs, its run)
import grpc  # noqa: E402

TOKEN = "cross"
WAIT = 60  # seconds: an emulated host starts slowly
TEXTS = {"MAC": "00-1a-2B-3c-4D-5e", "IPv4": "192.0.2.1",
         "IPv6": "2001:db8::1"}


def start(build, emulator, adapter):
    """An acl-devhost of `build` and its address."""
    proc = subprocess.Popen(
        emulator + [os.path.join(build, "acl-devhost"), "--listen",
                    "127.0.0.1:0", "--token", TOKEN, "--adapter", adapter,
                    "--split-bytes", "7"],
        stdout=subprocess.PIPE, text=True)
    for line in proc.stdout:  # read up to the listening line
        match = re.fullmatch(r"listening on (\S+)\n", line)
        if match:
            return proc, match.group(1)
    raise AssertionError("%s did not listen" % build)


def fill(message):
    """Sets every field of `message`: two elements of each repeated one."""
    for field in message.DESCRIPTOR.fields:
        if field.message_type is not None:
            for _ in range(2 if field.label == field.LABEL_REPEATED else 1):
                fill(getattr(message, field.name).add()
                     if field.label == field.LABEL_REPEATED
                     else getattr(message, field.name))
        elif field.type == field.TYPE_BOOL:
            setattr(message, field.name, True)
        elif field.type == field.TYPE_UINT64:
            setattr(message, field.name, 2**64 - 1)
        elif field.type == field.TYPE_UINT32:
            setattr(message, field.name, 2**32 - 1)
        else:
            kind = next((k for k in TEXTS if k in field.name), None)
            setattr(message, field.name,
                    TEXTS[kind] if kind else "t\u00e9\u20ac\U0001F600")


def answers(addr, stubs):
    """Every method's outcome of an empty and a full request at `addr`."""
    acl, acl_grpc = stubs
    out = []
    with grpc.insecure_channel(addr) as channel:
        stub = acl_grpc.ACLServiceStub(channel)
        service = acl.DESCRIPTOR.services_by_name["ACLService"]
        for method in service.methods:
            for full in (False, True):
                request = getattr(acl, method.input_type.name)()
                if full:
                    fill(request)
                rpc = getattr(stub, method.name)
                try:
                    replies = rpc(request, metadata=[("token_id", TOKEN)],
                                  timeout=WAIT)
                    pieces = [r.result for r in (
                        replies if method.server_streaming else [replies])]
                    out.append((method.name, full, "OK", pieces))
                except grpc.RpcError as error:
                    out.append((method.name, full, error.code().name,
                                error.details()))
    return out


def tools(native, addr, names):
    """The native aclctl's and the example client's output at `addr`."""
    commands = [[os.path.join(native, "aclctl"), "--raw", name]
                for name in names]
    commands.append([sys.executable,
                     os.path.join(SOURCE, "examples", "client.py")])
    out = []
    for command in commands:
        run = subprocess.run(command + ["--addr", addr, "--token", TOKEN],
                             capture_output=True, text=True, timeout=WAIT)
        out.append((command[-1], run.returncode, run.stdout, run.stderr))
    return out


def main():
    native, cross, emulator = sys.argv[1], sys.argv[2], sys.argv[3:]
    with tempfile.TemporaryDirectory() as out_dir:
        stubs = client.load_stubs(out_dir)
        names = [m.name[len("GetJsonACL"):] for m in
                 stubs[0].DESCRIPTOR.services_by_name["ACLService"].methods]
        for adapter in ("json", "echo"):
            seen = []
            for build, run in ((native, []), (cross, emulator)):
                proc, addr = start(build, run, adapter)
                try:
                    seen.append((answers(addr, stubs),
                                 tools(native, addr, names)))
                finally:
                    proc.kill()
                    proc.wait()
            for want, got in zip(seen[0][0] + seen[0][1],
                                 seen[1][0] + seen[1][1]):
                assert want == got, "%s: native %r, cross %r" % (
                    adapter, want, got)
            calls = seen[0][0]
            print("%s adapter: %d calls (%d OK), %d aclctl runs alike"
                  % (adapter, len(calls),
                     sum(c[2] == "OK" for c in calls), len(names)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
