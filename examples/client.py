#!/usr/bin/python3
"""A minimal Python client of acl.ACLService.

Compiles the schema into a temporary directory (protoc with the
grpc_python_plugin), then calls GetJsonACLBase and the streamed
GetJsonACLIPv4BasicRulesStream with the session token in the "token_id"
metadata and prints what comes back. Last it asks for a group number the
host refuses, and prints the error with the host's reason, which acl-devhost
sends as the trailing metadata "acl-devhost-reason".

    /usr/bin/python3 examples/client.py --addr 127.0.0.1:50051 --token secret

The schema is looked for in ../proto next to this script (the source tree),
then where the package installs it, /usr/share/acl_service/proto;
--proto-dir DIR names another folder.
"""

import argparse
import importlib
import os
import subprocess
import sys
import tempfile

# Where the schema is looked for, in this order: the source tree's, the
# package's.
PROTO_DIRS = (os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                           "proto"),
              "/usr/share/acl_service/proto")
PROTO_FILES = ("acl_tree.proto", "grpc_service.proto")
NO_SCHEMA = ("no schema (%s) in %s: pass --proto-dir with the folder that "
             "holds it")
REASON_KEY = "acl-devhost-reason"


def describe(error):
    """An RPC error as one line, with the host's reason when there is one."""
    reasons = [value for key, value in error.trailing_metadata() or ()
               if key == REASON_KEY]
    return "error: %s: %s%s" % (error.code().name, error.details(),
                                "".join(" (reason: %s)" % r for r in reasons))


def find_proto_dir(candidates=PROTO_DIRS):
    """The first folder of `candidates` holding the schema's files."""
    for folder in candidates:
        if all(os.path.isfile(os.path.join(folder, name))
               for name in PROTO_FILES):
            return folder
    folders = " or ".join(os.path.normpath(c) for c in candidates)
    sys.exit(NO_SCHEMA % (", ".join(PROTO_FILES), folders))


def load_stubs(out_dir, proto_dir=None):
    """Generates the schema's Python modules from `proto_dir` (default: the
    first of PROTO_DIRS that holds it); returns (messages, stubs)."""
    proto_dir = find_proto_dir([proto_dir] if proto_dir else PROTO_DIRS)
    subprocess.run(
        ["protoc", "--proto_path=" + proto_dir, "--python_out=" + out_dir,
         "--grpc_python_out=" + out_dir,
         "--plugin=protoc-gen-grpc_python=/usr/bin/grpc_python_plugin",
         *PROTO_FILES],
        check=True)
    sys.path.insert(0, out_dir)
    return (importlib.import_module("acl_tree_pb2"),
            importlib.import_module("acl_tree_pb2_grpc"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--addr", default="127.0.0.1:50051",
                        help="server address (default %(default)s)")
    parser.add_argument("--token", default=os.environ.get("ACL_TOKEN", ""),
                        help="session token (default: $ACL_TOKEN)")
    parser.add_argument("--proto-dir", metavar="DIR",
                        help="folder of the schema files (default: the first "
                        "of %s that holds them)" % ", ".join(
                            os.path.normpath(d) for d in PROTO_DIRS))
    args = parser.parse_args()

    import grpc  # after argparse: --help works without grpcio

    with tempfile.TemporaryDirectory() as out_dir:
        acl, acl_grpc = load_stubs(out_dir, args.proto_dir)
        metadata = [("token_id", args.token)]
        with grpc.insecure_channel(args.addr) as channel:
            stub = acl_grpc.ACLServiceStub(channel)
            try:
                reply = stub.GetJsonACLBase(acl.ACLBase(), metadata=metadata,
                                            timeout=10)
                print("GetJsonACLBase:", reply.result)

                # Ask for the rules of group 2000 only; the answer may come
                # in several pieces, which join into one JSON text.
                request = acl.ACLIPv4BasicRules(
                    rule=[acl.ACLIPv4BasicRules.Rule(GroupID=2000)])
                pieces = [piece.result for piece in
                          stub.GetJsonACLIPv4BasicRulesStream(
                              request, metadata=metadata, timeout=10)]
                print("GetJsonACLIPv4BasicRulesStream (%d pieces):"
                      % len(pieces), "".join(pieces))
            except grpc.RpcError as error:
                print(describe(error), file=sys.stderr)
                return 1

            # Basic rule groups are numbered from 2000: the host refuses 1.
            try:
                stub.GetJsonACLIPv4BasicRules(
                    acl.ACLIPv4BasicRules(
                        rule=[acl.ACLIPv4BasicRules.Rule(GroupID=1)]),
                    metadata=metadata, timeout=10)
                print("GroupID 1 was accepted")
            except grpc.RpcError as error:
                print("GroupID 1:", describe(error))
    return 0


if __name__ == "__main__":
    sys.exit(main())
