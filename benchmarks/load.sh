#!/usr/bin/env bash
# Load test: acl-devhost (the module behind the development host) against
# plain_server (the same service on bare gRPC, answering the same bytes),
# both driven by h2load in the same run, in alternating rounds.
#
#   benchmarks/load.sh [--build DIR] [--seconds N] [--rounds N]
#                      [--rules N] [--stream-calls N] [--memory-requests N]
#                      [--memory-arenas N] [--instructions N]
#                      [--skip-unary] [--skip-stream] [--skip-memory]
#                      [--baseline DIR] [--keep DIR]
#
# Unary scenarios, each with 1 and with 32 calls in flight (one connection):
#   fixed  GetJsonACLBase, acl-devhost --adapter fixed: the module's own path
#   base   GetJsonACLBase, acl-devhost with its json adapter (31-byte answer)
#   adv4   GetJsonACLIPv4AdvanceRules, the json adapter (the sample's 2.6 KB)
# Streamed: GetJsonACLIPv4BasicRulesStream over a configuration of --rules
# IPv4 basic rules (default 20 000: a 5 MB answer in 77 pieces;
# scripts/gen_config.py), through the json adapter and through the fixed
# adapter, against plain_server sending the same text; every round runs
# each pair once, the order switched every round. --baseline DIR adds
# DIR's acl-devhost (another build) to the same runs, as the scenarios
# json-baseline and fixed-baseline (and fixed-, base- and adv4-baseline
# among the unary ones).
# Memory: resident set of a fresh acl-devhost after 10 000 and after
# --memory-requests small requests; the same for a fresh plain_server, whose
# figures show how far the allocator alone moves a gRPC server's RSS. Both
# run with glibc's malloc arenas limited to --memory-arenas (default 1; 0
# keeps glibc's default of one per thread, up to 8 per core): each gRPC
# worker thread that starts touches an arena of its own, which moves RSS by
# several per cent and would hide a leak.
# Instructions: the unary scenarios once more, each server under valgrind's
# callgrind, counting the server's instructions (all threads) for N calls
# with one in flight: a figure that a busy machine does not move (0 skips).
#
# Per run: requests/s and mean latency (h2load), server CPU microseconds per
# request (utime+stime of /proc/PID/stat before and after). Reported: the
# medians over the rounds, and the median of the per-round ratios
# acl-devhost / plain_server. Every server's answer is checked once for
# grpc-status 0 with curl (h2load counts any HTTP 200 as a success).
#
# Needs the build (acl-devhost, aclctl, plain_server), h2load (Debian
# nghttp2-client), curl and python3; scripts/setup.sh installs them.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=build
SECONDS_PER_RUN=2
ROUNDS=3
RULES=20000
STREAM_CALLS=3
MEMORY_REQUESTS=300000
INSTRUCTIONS=1000
MEMORY_ARENAS=1
SKIP_UNARY=0
SKIP_STREAM=0
SKIP_MEMORY=0
KEEP=""
BASELINE=""

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD=$2; shift 2 ;;
    --seconds) SECONDS_PER_RUN=$2; shift 2 ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    --rules) RULES=$2; shift 2 ;;
    --stream-calls) STREAM_CALLS=$2; shift 2 ;;
    --memory-requests) MEMORY_REQUESTS=$2; shift 2 ;;
    --instructions) INSTRUCTIONS=$2; shift 2 ;;
    --memory-arenas) MEMORY_ARENAS=$2; shift 2 ;;
    --skip-unary) SKIP_UNARY=1; shift ;;
    --skip-stream) SKIP_STREAM=1; shift ;;
    --skip-memory) SKIP_MEMORY=1; shift ;;
    --keep) KEEP=$2; shift 2 ;;
    --baseline) BASELINE=$2; shift 2 ;;
    *) usage ;;
  esac
done

readonly TOKEN=load-token
readonly SERVICE=/acl.ACLService
readonly TICKS=$(getconf CLK_TCK)
for tool in h2load curl python3; do
  command -v "$tool" >/dev/null || { echo "load.sh: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done
for program in acl-devhost aclctl plain_server; do
  [ -x "$BUILD/$program" ] || { echo "load.sh: $BUILD/$program is not built" >&2; exit 1; }
done

WORK=${KEEP:-$(mktemp -d)}
mkdir -p "$WORK"
RESULTS=$WORK/results.tsv
: > "$RESULTS"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "$KEEP" ] || rm -rf "$WORK"
}
trap cleanup EXIT

# ---- Servers -----------------------------------------------------------------

# start NAME COMMAND...: starts a server, waits for its "listening on" line;
# sets PID_<NAME> and PORT_<NAME>.
start() {
  local name=$1; shift
  "$@" > "$WORK/$name.out" 2> "$WORK/$name.err" &
  local pid=$!
  PIDS+=("$pid")
  for _ in $(seq 1 1200); do
    if grep -q '^listening on' "$WORK/$name.out"; then
      eval "PID_$name=$pid"
      eval "PORT_$name=$(sed -n 's/^listening on .*://p' "$WORK/$name.out")"
      return
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "load.sh: $name did not start:" >&2
  cat "$WORK/$name.err" >&2
  exit 1
}

stop() {  # stop NAME
  local pid; pid=$(eval echo "\$PID_$1")
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

devhost() { start "$1" "$BUILD/acl-devhost" --listen 127.0.0.1:0 --token "$TOKEN" "${@:2}"; }
plain() { start "$1" "$BUILD/plain_server" --listen 127.0.0.1:0 --answer-file "$2"; }
port() { eval echo "\$PORT_$1"; }
pid() { eval echo "\$PID_$1"; }

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

# The answer of METHOD from server NAME, exactly as the module sent it.
answer() {  # answer NAME METHOD FILE
  "$BUILD/aclctl" --addr "127.0.0.1:$(port "$1")" --token "$TOKEN" --raw \
      --timeout 600 "$2" > "$3.nl"
  head -c -1 "$3.nl" > "$3"  # aclctl ends the answer with a newline
  rm "$3.nl"
}

# The request body of an empty request: one uncompressed gRPC frame.
printf '\0\0\0\0\0' > "$WORK/empty.bin"

# Fails unless server NAME answers METHOD with grpc-status 0.
check_status() {  # check_status NAME METHOD
  local headers=$WORK/headers.txt
  curl -s --http2-prior-knowledge --max-time 600 -o /dev/null -D "$headers" \
      -H 'content-type: application/grpc' -H 'te: trailers' \
      -H "token_id: $TOKEN" --data-binary @"$WORK/empty.bin" \
      "http://127.0.0.1:$(port "$1")$SERVICE/$2"
  if ! tr -d '\r' < "$headers" | grep -qx 'grpc-status: 0'; then
    echo "load.sh: $1 $2 did not answer grpc-status 0:" >&2
    cat "$headers" >&2
    exit 1
  fi
}

# ---- One measured run ----------------------------------------------------------

# run SECTION SCENARIO INFLIGHT NAME ROUND METHOD H2LOAD-LIMIT...: one h2load
# run against server NAME, one result line.
run() {
  local section=$1 scenario=$2 inflight=$3 name=$4 round=$5 method=$6
  shift 6
  local p; p=$(pid "$name")
  local out=$WORK/h2load.out
  local before; before=$(cpu_ticks "$p")
  h2load -c 1 -m "$inflight" "$@" -H 'content-type: application/grpc' \
      -H 'te: trailers' -H "token_id: $TOKEN" -d "$WORK/empty.bin" \
      "http://127.0.0.1:$(port "$name")$SERVICE/$method" > "$out" 2>&1
  local after; after=$(cpu_ticks "$p")
  python3 - "$out" "$section" "$scenario" "$inflight" "$name" "$round" \
      "$((after - before))" "$TICKS" >> "$RESULTS" <<'EOF'
import re, sys
out, section, scenario, inflight, name, rnd, ticks, hz = sys.argv[1:]
text = open(out).read()
done = int(re.search(r'requests: .*? (\d+) succeeded', text).group(1))
secs, unit = re.search(r'finished in ([\d.]+)(m?s),', text).groups()
secs = float(secs) / (1000 if unit == 'ms' else 1)
bytes_ = int(re.search(r'traffic: \S+ \((\d+)\) total', text).group(1))
mean = re.search(r'time for request:\s+\S+\s+\S+\s+(\S+)', text).group(1)
unit = {'us': 1, 'ms': 1e3, 's': 1e6}[re.match(r'[\d.]+(\D+)', mean).group(1)]
latency = float(re.match(r'[\d.]+', mean).group(0)) * unit
if done == 0:
    sys.exit('load.sh: no request succeeded:\n' + text)
cpu_us = int(ticks) * 1e6 / int(hz)
print('\t'.join(map(str, [section, scenario, inflight, name, rnd, done, secs,
                          done / secs, latency, cpu_us / done, bytes_ / secs])))
EOF
}

# rounds SECTION SCENARIO INFLIGHT DEVHOST PLAIN METHOD H2LOAD-LIMIT...:
# alternating rounds, the order switched every round.
rounds() {
  local section=$1 scenario=$2 inflight=$3 d=$4 p=$5 method=$6
  shift 6
  for r in $(seq 1 "$ROUNDS"); do
    local first=$d second=$p
    if [ $((r % 2)) -eq 0 ]; then first=$p; second=$d; fi
    run "$section" "$scenario" "$inflight" "$first" "$r" "$method" "$@"
    run "$section" "$scenario" "$inflight" "$second" "$r" "$method" "$@"
  done
}

warm() {  # warm NAME METHOD: a few thousand calls before measuring
  h2load -c 1 -m 8 -n 2000 -H 'content-type: application/grpc' \
      -H 'te: trailers' -H "token_id: $TOKEN" -d "$WORK/empty.bin" \
      "http://127.0.0.1:$(port "$1")$SERVICE/$2" > /dev/null 2>&1
}

# ---- Unary -----------------------------------------------------------------------

if [ "$SKIP_UNARY" -eq 0 ]; then
echo "load.sh: unary, $ROUNDS rounds of ${SECONDS_PER_RUN}s per server" >&2
devhost json                               # the built-in sample configuration
answer json Base "$WORK/base.answer"
answer json IPv4AdvanceRules "$WORK/adv4.answer"
devhost fixed --adapter fixed --answer-file "$WORK/base.answer"
plain plainbase "$WORK/base.answer"
plain plainadv4 "$WORK/adv4.answer"
unary_servers="json fixed plainbase plainadv4"
scenarios=("fixed fixed plainbase GetJsonACLBase"
           "base json plainbase GetJsonACLBase"
           "adv4 json plainadv4 GetJsonACLIPv4AdvanceRules")
if [ -n "$BASELINE" ]; then
  start ubasejson "$BASELINE/acl-devhost" --listen 127.0.0.1:0 --token "$TOKEN"
  start ubasefixed "$BASELINE/acl-devhost" --listen 127.0.0.1:0 \
      --token "$TOKEN" --adapter fixed --answer-file "$WORK/base.answer"
  unary_servers="$unary_servers ubasejson ubasefixed"
  scenarios+=("fixed-baseline ubasefixed plainbase GetJsonACLBase"
              "base-baseline ubasejson plainbase GetJsonACLBase"
              "adv4-baseline ubasejson plainadv4 GetJsonACLIPv4AdvanceRules")
fi
for s in "${scenarios[@]}"; do  # each server with the method it is timed on
  set -- $s
  check_status "$2" "$4"; check_status "$3" "$4"
done

for inflight in 1 32; do
  for s in "${scenarios[@]}"; do
    set -- $s
    warm "$2" "$4"; warm "$3" "$4"
    rounds unary "$1" "$inflight" "$2" "$3" "$4" -D "$SECONDS_PER_RUN"
  done
done
for name in $unary_servers; do stop $name; done
fi

# ---- Streamed --------------------------------------------------------------------

if [ "$SKIP_STREAM" -eq 0 ]; then
  echo "load.sh: streamed, $RULES rules, $STREAM_CALLS calls per run" >&2
  python3 scripts/gen_config.py --rules "$RULES" --table IPv4BasicRules \
      > "$WORK/big.json"
  devhost bigjson --config "$WORK/big.json"
  answer bigjson IPv4BasicRulesStream "$WORK/big.answer"
  devhost bigfixed --adapter fixed --answer-file "$WORK/big.answer"
  plain plainbig "$WORK/big.answer"
  servers="bigjson bigfixed plainbig"
  pairs=("json bigjson" "fixed bigfixed")
  if [ -n "$BASELINE" ]; then
    start basejson "$BASELINE/acl-devhost" --listen 127.0.0.1:0 \
        --token "$TOKEN" --config "$WORK/big.json"
    start basefixed "$BASELINE/acl-devhost" --listen 127.0.0.1:0 \
        --token "$TOKEN" --adapter fixed --answer-file "$WORK/big.answer"
    servers="$servers basejson basefixed"
    pairs+=("json-baseline basejson" "fixed-baseline basefixed")
  fi
  for server in $servers; do
    check_status $server GetJsonACLIPv4BasicRulesStream
  done
  for r in $(seq 1 "$ROUNDS"); do
    for pair in "${pairs[@]}"; do
      set -- $pair
      first=$2 second=plainbig
      if [ $((r % 2)) -eq 0 ]; then first=plainbig; second=$2; fi
      for name in $first $second; do
        run stream "$1" 1 $name "$r" GetJsonACLIPv4BasicRulesStream \
            -n "$STREAM_CALLS"
      done
    done
  done
  echo -e "answer\t$(stat -c %s "$WORK/big.answer")" > "$WORK/stream.txt"
  for name in $servers; do stop $name; done
fi

# ---- Memory ----------------------------------------------------------------------

if [ "$SKIP_MEMORY" -eq 0 ]; then
  echo "load.sh: memory, 10000 then $MEMORY_REQUESTS requests per server" >&2
  printf '%s' '{"Base":{"ProcessingStatus":1}}' > "$WORK/memory.answer"
  : > "$WORK/memory.tsv"
  memory_load() {  # memory_load NAME N: N more small requests, 32 in flight
    h2load -c 1 -m 32 -n "$2" -H 'content-type: application/grpc' \
        -H 'te: trailers' -H "token_id: $TOKEN" -d "$WORK/empty.bin" \
        "http://127.0.0.1:$(port "$1")$SERVICE/GetJsonACLBase" > /dev/null 2>&1
  }
  arenas=()
  if [ "$MEMORY_ARENAS" -gt 0 ]; then
    arenas=(env "GLIBC_TUNABLES=glibc.malloc.arena_max=$MEMORY_ARENAS")
  fi
  for name in memory memplain; do
    if [ $name = memory ]; then
      start memory "${arenas[@]}" "$BUILD/acl-devhost" --listen 127.0.0.1:0 \
          --token "$TOKEN"
    else
      start memplain "${arenas[@]}" "$BUILD/plain_server" \
          --listen 127.0.0.1:0 --answer-file "$WORK/memory.answer"
    fi
    memory_load $name 10000
    small=$(rss_kb "$(pid $name)")
    memory_load $name $((MEMORY_REQUESTS - 10000))
    echo -e "$name\t$small\t$(rss_kb "$(pid $name)")\t$MEMORY_REQUESTS" >> "$WORK/memory.tsv"
    stop $name
  done
fi

# ---- Instructions -----------------------------------------------------------------

# instructions SCENARIO NAME METHOD COMMAND...: server instructions per call.
instructions() {
  local scenario=$1 name=$2 method=$3
  shift 3
  local out=$WORK/callgrind.$name
  start "$name" valgrind --tool=callgrind --callgrind-out-file="$out" "$@"
  local p; p=$(pid "$name")
  warm "$name" "$method"
  callgrind_control -z "$p" > /dev/null 2>&1
  h2load -c 1 -m 1 -n "$INSTRUCTIONS" -H 'content-type: application/grpc' \
      -H 'te: trailers' -H "token_id: $TOKEN" -d "$WORK/empty.bin" \
      "http://127.0.0.1:$(port "$name")$SERVICE/$method" > /dev/null 2>&1
  callgrind_control -d "$p" > /dev/null 2>&1
  stop "$name"
  local total; total=$(awk '/^summary:/ {print $2}' "$out.1")
  echo -e "$scenario\t$name\t$((total / INSTRUCTIONS))" >> "$WORK/instructions.tsv"
  rm -f "$out" "$out".*
}

if [ "$INSTRUCTIONS" -gt 0 ] && [ -e "$WORK/base.answer" ]; then
  if command -v valgrind >/dev/null; then
    echo "load.sh: instructions, $INSTRUCTIONS calls per server" >&2
    : > "$WORK/instructions.tsv"
    d=("$BUILD/acl-devhost" --listen 127.0.0.1:0 --token "$TOKEN")
    p=("$BUILD/plain_server" --listen 127.0.0.1:0)
    instructions fixed cgfixed GetJsonACLBase "${d[@]}" --adapter fixed \
        --answer-file "$WORK/base.answer"
    instructions fixed cgplainbase GetJsonACLBase "${p[@]}" \
        --answer-file "$WORK/base.answer"
    instructions base cgjson GetJsonACLBase "${d[@]}"
    instructions adv4 cgjson GetJsonACLIPv4AdvanceRules "${d[@]}"
    instructions adv4 cgplainadv4 GetJsonACLIPv4AdvanceRules "${p[@]}" \
        --answer-file "$WORK/adv4.answer"
  else
    echo "load.sh: valgrind is missing, no instruction counts" >&2
  fi
fi

# ---- Report ----------------------------------------------------------------------

python3 - "$WORK" <<'EOF'
import os, statistics, sys
from collections import defaultdict

work = sys.argv[1]
rows = [line.rstrip('\n').split('\t') for line in open(os.path.join(work, 'results.tsv'))]
runs = defaultdict(dict)  # (section, scenario, inflight) -> {(side, round): row}
for section, scenario, inflight, name, rnd, done, secs, rps, lat, cpu, bps in rows:
    side = 'plain' if name.startswith('plain') else 'devhost'
    runs[(section, scenario, int(inflight))][(side, int(rnd))] = dict(
        rps=float(rps), lat=float(lat), cpu=float(cpu), mbs=float(bps) / 1e6)

def med(xs):
    return statistics.median(xs)

def figures(group, key):
    rounds = sorted({r for _, r in group})
    d = [group[('devhost', r)][key] for r in rounds]
    p = [group[('plain', r)][key] for r in rounds]
    return med(d), med(p), med([a / b for a, b in zip(d, p)])

print('## Unary calls (medians of %d rounds; ratio = acl-devhost / plain_server)\n'
      % len({r for k in runs for _, r in runs[k]}))
print('| scenario | in flight | req/s devhost | req/s plain | req/s ratio '
      '| latency us devhost | latency us plain '
      '| CPU us/req devhost | CPU us/req plain | CPU ratio |')
print('|---|---|---|---|---|---|---|---|---|---|')
for (section, scenario, inflight), group in runs.items():
    if section != 'unary':
        continue
    rd, rp, rr = figures(group, 'rps')
    ld, lp, _ = figures(group, 'lat')
    cd, cp, cr = figures(group, 'cpu')
    print(f'| {scenario} | {inflight} | {rd:.0f} | {rp:.0f} | {rr:.2f} '
          f'| {ld:.0f} | {lp:.0f} | {cd:.1f} | {cp:.1f} | {cr:.2f} |')

stream = os.path.join(work, 'stream.txt')
if os.path.exists(stream):
    size = int(open(stream).read().split()[1])
    print('\n## Streamed method, %.1f MB answer in pieces (medians)\n' % (size / 1e6))
    print('| acl-devhost adapter | MB/s devhost | MB/s plain | MB/s ratio '
          '| CPU ms/call devhost | CPU ms/call plain | CPU ratio |')
    print('|---|---|---|---|---|---|---|')
    for (section, scenario, inflight), group in runs.items():
        if section != 'stream':
            continue
        md, mp, mr = figures(group, 'mbs')
        cd, cp, cr = figures(group, 'cpu')
        print(f'| {scenario} | {md:.0f} | {mp:.0f} | {mr:.2f} '
              f'| {cd / 1e3:.2f} | {cp / 1e3:.2f} | {cr:.2f} |')

counts = os.path.join(work, 'instructions.tsv')
if os.path.exists(counts):
    per = {}
    for line in open(counts):
        scenario, name, n = line.split()
        per[(scenario, 'plain' if 'plain' in name else 'devhost')] = int(n)
    per[('base', 'plain')] = per[('fixed', 'plain')]  # the same server and call
    print('\n## Server instructions per call (callgrind, one in flight)\n')
    print('| scenario | devhost | plain | ratio |')
    print('|---|---|---|---|')
    for scenario in ('fixed', 'base', 'adv4'):
        d, p = per[(scenario, 'devhost')], per[(scenario, 'plain')]
        print(f'| {scenario} | {d} | {p} | {d / p:.3f} |')

memory = os.path.join(work, 'memory.tsv')
if os.path.exists(memory):
    print('\n## Resident memory after 10 000 and after N small requests '
          '(GetJsonACLBase, 32 in flight, see --memory-arenas)\n')
    print('| server | after 10 000 | after N | N | growth |')
    print('|---|---|---|---|---|')
    for line in open(memory):
        name, small, large, total = line.split()
        server = 'plain_server' if name == 'memplain' else 'acl-devhost (json)'
        small, large = int(small), int(large)
        print(f'| {server} | {small} kB | {large} kB | {total} '
              f'| {100.0 * (large - small) / small:+.2f} % |')
EOF
