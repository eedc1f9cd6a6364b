// simdjson_parse: the floor of the exporter's per-rule cost. Parses a rule
// table's JSON answer (FILE, as `aclctl --raw IPv4BasicRules` prints it)
// with simdjson's On-Demand parser as the exporter does, reading each
// rule's keys and counters but building nothing, and prints the CPU time
// per rule:
//
//   simdjson_parse FILE [ROUNDS]   ->   {"rules": N, "ns_per_rule": X}

#include <simdjson.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

namespace {

constexpr int kDefaultRounds = 20;

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// One parse; returns the rules seen (their numbers summed into `*sink` so
// nothing is optimized away).
size_t ParseOnce(const simdjson::padded_string& json, uint64_t* sink) {
  simdjson::ondemand::parser parser;
  simdjson::ondemand::document doc = parser.iterate(json);
  simdjson::ondemand::object body =
      doc.get_object()["IPv4BasicRules"].get_object();
  size_t rules = 0;
  for (auto row : body["Rule"].get_array()) {
    ++rules;
    for (auto entry : row.get_object()) {
      simdjson::ondemand::field field = std::move(entry);
      const simdjson::ondemand::raw_json_string key = field.key();
      if (key == std::string_view("GroupID") ||
          key == std::string_view("RuleID") ||
          key == std::string_view("Count") ||
          key == std::string_view("Status")) {
        *sink += field.value().get_uint64();
      }
    }
  }
  return rules;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: simdjson_parse FILE [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : kDefaultRounds;
  simdjson::padded_string json;
  if (simdjson::padded_string::load(argv[1]).get(json)) {
    std::fprintf(stderr, "simdjson_parse: cannot read %s\n", argv[1]);
    return 1;
  }
  uint64_t sink = 0;
  size_t rules = ParseOnce(json, &sink);  // warm-up
  const double start = CpuSeconds();
  for (int i = 0; i < rounds; ++i) rules = ParseOnce(json, &sink);
  const double took = CpuSeconds() - start;
  std::printf("{\"rules\": %zu, \"ns_per_rule\": %.1f, \"sink\": %llu}\n",
              rules, took * 1e9 / rounds / (rules ? rules : 1),
              static_cast<unsigned long long>(sink));
  return 0;
}
