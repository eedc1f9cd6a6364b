#!/usr/bin/env bash
# Builds the libFuzzer targets in the sanitizer build (build-asan: clang,
# AddressSanitizer, UBSan) and runs each for a while. Fails on any crash,
# leak, timeout or broken rule; the input that did it is kept in
# build-asan/artifacts/.
#
#   scripts/fuzz.sh [SECONDS [TARGET...]]
#
# SECONDS is per target (default 600); TARGET is request_fuzz, mac_fuzz,
# config_fuzz or exporter_fuzz (default all four). Each target's corpus grows in
# build-asan/corpus/TARGET from run to run, starting from the seeds the
# generator writes (config_fuzz: each table of the sample configuration,
# and a few broken texts; exporter_fuzz: each table the exporter reads, a
# byte naming the table and one cutting it into pieces before its JSON).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(request_fuzz mac_fuzz config_fuzz exporter_fuzz)

build=build-asan
symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
[ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=$symbolizer
scripts/configure.sh "$build" -DACL_SANITIZE=ON
cmake --build "$build" --target seed_corpus "${targets[@]}"

seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds/request_fuzz" "$seeds/mac_fuzz" "$seeds/config_fuzz" \
         "$seeds/exporter_fuzz" \
         "$build/artifacts" "$build/logs"
"$build/fuzz/seed_corpus" "$seeds/request_fuzz" "$seeds/mac_fuzz"
python3 - "$seeds/config_fuzz" "$build/config.dict" <<'EOF'
import json, sys
seeds, names = sys.argv[1], set()
sample = json.load(open("devhost/data/sample_config.json"))
broken = ['{"Base": {"ProcessingStatus": 1, "ProcessingStatus": 2}}',
          '{"Base": {"ProcessingStatus": 01}}', '{"Nope": [[[{"a": "\\u12"}]]]}',
          '{"IPv4BasicRules": {"Rule": [{"GroupID": -1, "SrcIPv4": [5]}]}']
for i, (table, body) in enumerate(list(sample.items()) + list(enumerate(broken))):
    text = json.dumps({table: body}) if isinstance(table, str) else body
    open(f"{seeds}/{i}.json", "w").write(text)
for t in json.load(open("devhost/data/registry.json"))["tables"]:
    names |= {t["name"], t.get("row", "")} | {c["name"] for c in t["columns"]}
    names |= {c.get("sub", "") for c in t["columns"]}
tokens = [json.dumps(n) for n in sorted(names - {""})] + list('{}[]:,"\\')
open(sys.argv[2], "w").writelines(json.dumps(t) + "\n" for t in tokens)
EOF
python3 - "$seeds/exporter_fuzz" <<'EOF'
import json, re, sys
sample = json.load(open("devhost/data/sample_config.json"))
# The exporter's tables in kTables order: the first byte; the second cuts
# the JSON into pieces.
order = re.findall(r'^    (?:\{"(\w+)", "\w+", UNARY|RULE_TABLE\((\w+))',
                   open("exporter/tables.cc").read(), re.M)
for i, name in enumerate(a or b for a, b in order):
    body = sample.get(name, {"Rule": []})
    for j, text in enumerate([json.dumps({name: body}),
                              json.dumps({name: body}, indent=1) + " {}"]):
        open(f"{sys.argv[1]}/{i}-{j}", "wb").write(bytes([i, 0x85 * j]) +
                                                    text.encode())
EOF

# Options per target.
declare -A options=(
  [request_fuzz]="-max_len=16384"
  [mac_fuzz]="-max_len=256 -use_value_profile=1 -dict=fuzz/mac.dict"
  [config_fuzz]="-max_len=8192 -dict=$build/config.dict"
  [exporter_fuzz]="-max_len=4096 -dict=fuzz/exporter.dict"
)

# One target's run; its summary line, or its log's tail when it fails.
fuzz() {
  local target=$1 corpus=$build/corpus/$1 log=$build/logs/$1.log
  mkdir -p "$corpus"
  # shellcheck disable=SC2086
  if ! "$build/fuzz/$target" ${options[$target]} -max_total_time="$seconds" \
      -timeout=25 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" \
      "$corpus" "$seeds/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $target FAILED (log: $log)"
    return 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "fuzz: $target clean: $runs executions, $speed exec/s" \
       "($(find "$corpus" -type f | wc -l) inputs in its corpus)"
}

# As many targets at once as there are cores, each for the full time.
failed=0
batch=()
for i in "${!targets[@]}"; do
  echo "fuzz: ${targets[$i]} for ${seconds}s"
  fuzz "${targets[$i]}" &
  batch+=($!)
  if [ ${#batch[@]} -ge "$(nproc)" ] || [ "$i" -eq $((${#targets[@]} - 1)) ]; then
    for pid in "${batch[@]}"; do wait "$pid" || failed=1; done
    batch=()
  fi
done
exit $failed
