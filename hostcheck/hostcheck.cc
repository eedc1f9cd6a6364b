#include "hostcheck/hostcheck.h"

#include <algorithm>

#include "hostcheck/checks.h"
#include "hostcheck/probe.h"
#include "tables/table_list.h"

namespace hostcheck {
namespace {

constexpr int kNameWidth = 17;

const char* Label(Outcome outcome) {
  switch (outcome) {
    case Outcome::kKept: return "ok";
    case Outcome::kBroken: return "BROKEN";
    case Outcome::kNotChecked: return "skipped";
  }
  return "?";
}

bool Selected(const Options& options, const char* name) {
  return options.only.empty() ||
         std::find(options.only.begin(), options.only.end(), name) !=
             options.only.end();
}

}  // namespace

const std::vector<Promise>& Promises() {
  static const std::vector<Promise> promises = [] {
    std::vector<Promise> all;
    for (const Check& c : Checks()) all.push_back(c.promise);
    return all;
  }();
  return promises;
}

const std::vector<std::string>& ModuleTables() {
#define ACL_TABLE_NAME(name) #name,
  static const std::vector<std::string> tables = {
      ACL_MODULE_TABLES(ACL_TABLE_NAME)};
#undef ACL_TABLE_NAME
  return tables;
}

std::vector<Result> Run(const HostFacts& facts, const Options& options) {
  std::vector<Result> results;
  for (const Check& c : Checks()) {
    if (!Selected(options, c.promise.name)) continue;
    const Verdict v = RunInChild([&] { return c.run(facts, options); },
                                 options.timeoutSeconds);
    results.push_back({c.promise, v.outcome, v.detail});
  }
  return results;
}

bool PrintReport(const std::vector<Result>& results, std::FILE* out) {
  int counts[3] = {0, 0, 0};
  for (const Result& r : results) {
    ++counts[static_cast<int>(r.outcome)];
    std::fprintf(out, "  %-8s %-*s %s\n", Label(r.outcome), kNameWidth,
                 r.promise.name, r.promise.statement);
    if (!r.detail.empty()) {
      std::fprintf(out, "  %-8s %-*s %s\n", "", kNameWidth, "",
                   r.detail.c_str());
    }
  }
  const int broken = counts[static_cast<int>(Outcome::kBroken)];
  std::fprintf(out, "%zu promises: %d kept, %d broken, %d not checked\n",
               results.size(), counts[static_cast<int>(Outcome::kKept)],
               broken, counts[static_cast<int>(Outcome::kNotChecked)]);
  return broken == 0;
}

}  // namespace hostcheck
