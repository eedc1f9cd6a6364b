// The host contract checker: calls a host's own implementation of the
// operations of host/host_api.h the way the module calls them, and reports
// every promise the module relies on that the host breaks.
//
// A firmware team links this library and acl_hostcheck_main with its host
// and registry operations and with a SetUpHost() that brings its host up;
// the program prints one line per promise and exits non-zero when any is
// broken. Each promise is checked in a child process of its own, so a host
// that crashes, aborts (a sanitizer report included) or hangs on one
// promise is reported on that promise, and the others are still checked.
//
// Thread-safety: Run() is called from one thread at a time; the "threads"
// promise then calls the host from many threads at once, as the gRPC
// server does.

#ifndef ACL_HOSTCHECK_HOSTCHECK_H_
#define ACL_HOSTCHECK_HOSTCHECK_H_

#include <cstdio>
#include <string>
#include <vector>

namespace hostcheck {

// A value and the column it is checked for, as the module passes them to
// GRPC_CheckValueOfPara: "ACL/Base/ProcessingStatus" and "1".
struct Value {
  std::string path;
  std::string text;
};

// What the checker must know of the host under test; filled by SetUpHost.
struct HostFacts {
  std::string liveToken;                      // a session the host holds
  std::string deadToken = "no-such-session";  // a token that is no session
  std::vector<Value> accepted;                // values the host accepts
  std::vector<Value> rejected;                // values the host rejects
};

struct Options {
  int threads = 8;          // threads calling at once ("threads")
  int rounds = 100;         // rounds of calls per thread
  int cycles = 2000;        // repetitions when watching the heap for growth
  int timeoutSeconds = 60;  // a promise's check that runs longer has hung
  std::vector<std::string> only;  // check only these promises; all if empty
};

enum class Outcome { kKept, kBroken, kNotChecked };

// One promise the module relies on.
struct Promise {
  const char* name;       // "session.live"
  const char* statement;  // "a live session's token answers exactly 1"
};

struct Result {
  Promise promise;
  Outcome outcome = Outcome::kKept;
  std::string detail;  // what was found, for a broken or unchecked promise
};

// Every promise, in the order they are checked.
const std::vector<Promise>& Promises();

// The registry tables the module reads, by their exact names.
const std::vector<std::string>& ModuleTables();

// Checks the promises `options` selects against the host operations linked
// into this program.
// REQUIRES: the host is up (SetUpHost returned true); every name in
// options.only is a promise's.
std::vector<Result> Run(const HostFacts& facts, const Options& options);

// Prints one line per result (and its detail) and a summary to `out`.
// Returns true when no promise is broken.
bool PrintReport(const std::vector<Result>& results, std::FILE* out);

// Provided by the host under test: brings the host up so that its
// operations answer, and describes it. `args` are the program's arguments
// that the checker does not take itself. False, with `*error` set, when the
// host cannot come up.
bool SetUpHost(const std::vector<std::string>& args, HostFacts* facts,
               std::string* error);

}  // namespace hostcheck

#endif  // ACL_HOSTCHECK_HOSTCHECK_H_
