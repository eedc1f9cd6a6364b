// acl-hostcheck: the contract checker as a program. Linked with a host's own
// operations and its SetUpHost(), it brings the host up, checks every
// promise and prints the report.
//
// Exit status: 0 when no promise is broken, 1 when one is, 2 for a bad
// command line or a host that does not come up.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "acl_version.h"
#include "hostcheck/hostcheck.h"

namespace {

constexpr char kProgram[] = "acl-hostcheck";
constexpr int kExitBroken = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: acl-hostcheck [FLAGS] [HOST ARGUMENTS]\n"
    "\n"
    "Calls the host and registry operations linked into this program the way\n"
    "the ACL service module calls them and reports every promise the module\n"
    "relies on that they break. Arguments it does not know go to the host's\n"
    "SetUpHost().\n"
    "\n"
    "  --threads N    threads calling at once (default 8)\n"
    "  --rounds N     rounds of calls per thread (default 100)\n"
    "  --cycles N     calls made while watching the heap (default 2000)\n"
    "  --timeout S    seconds after which a check has hung (default 60)\n"
    "  --only NAME    check only this promise; repeatable\n"
    "  --list         list the promises and exit\n"
    "  --version      print the version and exit\n"
    "  --help         print this help and exit\n";

int Usage(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n\n%s", kProgram, message.c_str(), kUsage);
  return kExitUsage;
}

bool ParseCount(const std::string& text, int* out) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < 1 || v > INT_MAX) {
    return false;
  }
  *out = static_cast<int>(v);
  return true;
}

bool IsPromise(const std::string& name) {
  for (const hostcheck::Promise& p : hostcheck::Promises()) {
    if (name == p.name) return true;
  }
  return false;
}

int ListPromises() {
  for (const hostcheck::Promise& p : hostcheck::Promises()) {
    std::printf("%-17s %s\n", p.name, p.statement);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  hostcheck::Options options;
  std::vector<std::string> hostArgs;
  const std::map<std::string, int*> counts = {
      {"--threads", &options.threads},
      {"--rounds", &options.rounds},
      {"--cycles", &options.cycles},
      {"--timeout", &options.timeoutSeconds}};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      std::printf("%s", kUsage);
      return 0;
    }
    if (arg == "--version") {
      std::printf("%s %s\n", kProgram, acl_version::kVersion);
      return 0;
    }
    if (arg == "--list") return ListPromises();
    std::string value;
    const size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    const bool ours = counts.count(arg) != 0 || arg == "--only";
    if (!ours) {
      hostArgs.push_back(argv[i]);
      continue;
    }
    if (eq == std::string::npos) {
      if (i + 1 >= argc) return Usage(arg + " needs a value");
      value = argv[++i];
    }
    if (arg == "--only") {
      if (!IsPromise(value)) return Usage("no promise \"" + value + "\"");
      options.only.push_back(value);
    } else if (!ParseCount(value, counts.at(arg))) {
      return Usage(arg + " needs a positive number, not \"" + value + "\"");
    }
  }
  hostcheck::HostFacts facts;
  std::string error;
  if (!hostcheck::SetUpHost(hostArgs, &facts, &error)) {
    std::fprintf(stderr, "%s: the host did not come up: %s\n", kProgram,
                 error.c_str());
    return kExitUsage;
  }
  std::printf("%s %s: the host's operations against what the module relies "
              "on\n",
              kProgram, acl_version::kVersion);
  const bool kept = hostcheck::PrintReport(hostcheck::Run(facts, options), stdout);
  return kept ? 0 : kExitBroken;
}
