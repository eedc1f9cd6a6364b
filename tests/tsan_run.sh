#!/bin/sh
# Runs a test binary under ThreadSanitizer, suppressing only what happens
# inside the uninstrumented gRPC, abseil and protobuf libraries it loads:
# one called_from_lib line per library, read from the binary's ldd output.
#
# One more line names a single client-side gRPC function: the status text a
# call receives is made by gRPC's core on one of its threads and handed to
# the calling thread through locks the race check cannot see; the inlined
# copy of that text (CallOpClientRecvStatus::FinishOp) is then reported.
# No server-side frame runs inside it, so it hides nothing of a handler's.
#
# Races in the project's own code (the module, the host, the tests) stay
# reported: they are instrumented, and no suppression names them.
#
# Usage: tsan_run.sh BINARY [ARGS...]
set -eu
binary=$1
shift
suppressions=$(mktemp "${TMPDIR:-/tmp}/tsan-suppressions.XXXXXX")
trap 'rm -f "$suppressions"' EXIT

ldd "$binary" | awk '{print $1}' |
  grep -E '^lib(grpc|gpr|upb|address_sorting|absl_|protobuf)' |
  sed 's/^/called_from_lib:/' >"$suppressions"
echo 'race:grpc::internal::CallOpClientRecvStatus::FinishOp' >>"$suppressions"
echo "tsan_run: $(grep -c called_from_lib "$suppressions") uninstrumented libraries suppressed"

# Not exec: the EXIT trap removes the suppressions once the binary ends.
TSAN_OPTIONS="suppressions=$suppressions halt_on_error=0 ${TSAN_OPTIONS:-}" \
  "$binary" "$@"
