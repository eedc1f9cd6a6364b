// A scripted host for the request fuzzer. It defines every host and
// registry operation the module calls (host/host_api.h) and the allocator
// of the request tree (tree/tree_alloc.h), answers each as the input's
// Script says, and keeps a Ledger of what the module did.
//
// The answers are deterministic in the input: the session check answers
// from the script; the value check and the setters accept or refuse by a
// hash of the script's seed, the column path and the text; the registry
// may lack a branch; the adapter gives null, an empty text or a text; the
// split gives null, zero pieces or pieces; the k-th tree allocation may
// fail. A rule the module breaks inside a host call (a wrong argument, a
// call after the call has failed, a bad tree) is reported at once by Fail.
//
// One process-wide instance, reset per input by Begin. Single-threaded:
// the fuzzer makes one call at a time, so nothing here locks.

#ifndef ACL_FUZZ_FUZZ_HOST_H_
#define ACL_FUZZ_FUZZ_HOST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/script.h"

namespace fuzzhost {

// Where the building of the tree stopped, if it did.
enum class Stop { kNone, kRejected, kOutOfMemory };

struct Ledger {
  int sessionChecks = 0;
  uint16_t sessionAnswer = 0;
  bool tableFound = false;  // the registry walk reached the table
  long allocations = 0;     // tree records asked for
  Stop stop = Stop::kNone;
  std::string reason;        // the rejection's reason, up to its NUL
  std::string rejectedPath;  // the column path that was rejected
  int adapterCalls = 0;
  bool adapterNull = false;
  std::string adapterText;
  bool splitNull = false;            // the split gave no list
  std::vector<std::string> pieces;   // what the split handed out
  // Left over after the call: none may be.
  long liveRecords = 0;  // tree records
  long liveStorage = 0;  // registry storage behind value slots
  bool textLive = false;  // the adapter's text, neither freed nor split
  bool listLive = false;  // the split's piece list
};

// Starts one call: the host answers as `script` says; the module is to
// read the registry table `table` and pass `token` to every operation.
void Begin(const fuzzscript::Script& script, const std::string& table,
           const std::string& token);

// What the module did since Begin.
const Ledger& Seen();

// Reports a broken rule and aborts, so that the fuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);

}  // namespace fuzzhost

#endif  // ACL_FUZZ_FUZZ_HOST_H_
