"""A cross build's acl-devhost, serving its module through the emulator,
answers the build machine's clients exactly as the native build's does.

    cross_e2e.py NATIVE_BUILD CROSS_BUILD EMULATOR...

With the json and the echo adapter (which answers with the request tree as
the module built it), streamed pieces of 7 bytes: every method with an empty
request and with every field set (largest numbers, multi-byte UTF-8 texts)
from Python, every method from the native aclctl, and the example client.
"""

import os
import re
import subprocess
import sys
import tempfile

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(SOURCE, "examples"))
import client  # noqa: E402  (the example client: its schema stubs)
import grpc  # noqa: E402
from google.protobuf.descriptor import FieldDescriptor as F  # noqa: E402

TOKEN = "cross"
WAIT = 60  # seconds: an emulated host starts slowly
TEXTS = {"MAC": "00-1a-2B-3c-4D-5e", "IPv4": "192.0.2.1",
         "IPv6": "2001:db8::1"}
NUMBERS = {F.TYPE_BOOL: True, F.TYPE_UINT32: 2**32 - 1,
           F.TYPE_UINT64: 2**64 - 1}


def start(command):
    """The started acl-devhost `command` and its address."""
    proc = subprocess.Popen(command + ["--listen", "127.0.0.1:0", "--token",
                                       TOKEN, "--split-bytes", "7"],
                            stdout=subprocess.PIPE, text=True)
    for line in proc.stdout:
        match = re.fullmatch(r"listening on (\S+)\n", line)
        if match:
            return proc, match.group(1)
    raise AssertionError("did not listen: %s" % command)


def fill(message):
    """Sets every field of `message`; two elements of each repeated one."""
    for field in message.DESCRIPTOR.fields:
        value = getattr(message, field.name)
        if field.label == field.LABEL_REPEATED:
            fill(value.add())
            fill(value.add())
        elif field.message_type is not None:
            fill(value)
        else:
            kind = next((k for k in TEXTS if k in field.name), None)
            setattr(message, field.name, NUMBERS.get(
                field.type, TEXTS.get(kind, "t\u00e9\u20ac\U0001F600")))


def outcomes(native, addr, stubs):
    """What every client gets from the host at `addr`."""
    acl, acl_grpc = stubs
    out = []
    methods = acl.DESCRIPTOR.services_by_name["ACLService"].methods
    with grpc.insecure_channel(addr) as channel:
        stub = acl_grpc.ACLServiceStub(channel)
        for method, full in [(m, f) for m in methods for f in (False, True)]:
            request = getattr(acl, method.input_type.name)()
            if full:
                fill(request)
            try:
                replies = getattr(stub, method.name)(
                    request, metadata=[("token_id", TOKEN)], timeout=WAIT)
                out.append([r.result for r in (
                    replies if method.server_streaming else [replies])])
            except grpc.RpcError as error:
                out.append((error.code().name, error.details()))
    commands = [[os.path.join(native, "aclctl"), "--raw", m.name]
                for m in methods]
    commands.append([sys.executable, os.path.join(SOURCE, "examples",
                                                  "client.py")])
    for command in commands:
        run = subprocess.run(command + ["--addr", addr, "--token", TOKEN],
                             capture_output=True, text=True, timeout=WAIT)
        out.append((command[-1], run.returncode, run.stdout, run.stderr))
    return out


def main():
    native, cross, emulator = sys.argv[1], sys.argv[2], sys.argv[3:]
    with tempfile.TemporaryDirectory() as out_dir:
        stubs = client.load_stubs(out_dir)
        for adapter in ("json", "echo"):
            seen = []
            for command in ([os.path.join(native, "acl-devhost")],
                            emulator + [os.path.join(cross, "acl-devhost")]):
                proc, addr = start(command + ["--adapter", adapter])
                try:
                    seen.append(outcomes(native, addr, stubs))
                finally:
                    proc.kill()
                    proc.wait()
            for want, got in zip(*seen):
                assert want == got, "%s adapter: native %r, cross %r" % (
                    adapter, want, got)
            print("%s adapter: %d outcomes alike" % (adapter, len(seen[0])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
