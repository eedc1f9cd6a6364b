// The one test host: it defines every host and registry operation the
// module calls (host/host_api.h) and the allocator of the request tree
// (tree/tree_alloc.h), answers as its Config says, and keeps a Record of
// what the module asked and what is still live. The module's tests, the
// fuzzers and the benchmark all link it.
//
// A rule the module breaks inside a host call (a wrong argument, a call
// after the call had failed, a malformed tree, storage released twice) is a
// breach: recorded, or reported at once when abortOnBreach is set.
//
// A call starts with its session check; per-call rules count from there.
//
// Threading: one process-wide instance. Its operations lock it, so gRPC
// server threads may call them; the Config is set while no call runs. In
// accept-all mode (SetAcceptAll, set before calls start) every operation
// accepts and records nothing, without locking, for the benchmark.

#ifndef ACL_TESTSUPPORT_SCRIPTED_HOST_H_
#define ACL_TESTSUPPORT_SCRIPTED_HOST_H_

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/host_api.h"

namespace scripted {

// One value check as the module made it.
struct Check {
  std::string token, path, text;
  bool operator==(const Check& o) const {
    return token == o.token && path == o.path && text == o.text;
  }
};

// The reason given for the n-th check refused by Config::rejectNth.
constexpr char kNthReason[] = "refused in turn";

enum class SplitMode { kPieces, kNull, kZeroPieces };

// Where the call stopped inside the host, if it did.
enum class Stop { kNone, kRejected, kOutOfMemory };

struct Config {
  uint16_t sessionResult = 1;  // for any token
  // Registry: root / privateName (found in any case) / moduleName / tables.
  bool noRoot = false;
  std::string privateName = "private";
  std::string moduleName = "ACL";
  std::set<std::string> missingTables;
  std::string table;  // when set, the only table a call may ask for
  // Value checks, tried in this order.
  size_t rejectNth = 0;  // 1 and up: refuse the n-th check
  uint8_t rejectBelow = 0;  // refuse when the check's hash byte is below
  uint8_t setterFails = 0;  // a setter fails when its hash byte is below
  uint32_t seed = 0;        // varies every hash
  // IPv4 values as the development host keeps them (four bytes in the
  // slot), or as registry storage like texts.
  bool ipv4InSlot = true;
  // The adapter's answer (null: none) and the split.
  std::optional<std::string> answer = std::string("{\"answer\":1}");
  SplitMode split = SplitMode::kPieces;
  size_t splitBytes = 4;
  long failAt = 0;  // 1 and up: the k-th tree allocation since Reset fails
  bool abortOnBreach = false;
  grpc::ServerBuilder* builder = nullptr;
};

struct Record {
  std::vector<std::string> sessions;  // tokens asked about
  std::vector<std::string> lookups;  // registry names asked for, in order
  std::vector<Check> checks;
  // Each adapter tree in short: "TT T[cols]{subs} R[cols]{subs} R...", TT
  // the table byte of every MOR ID ("--" with no column), a column "CC"
  // (hex) without a value and "CC:type=value" with one, a sub-entry
  // "Name[cols]".
  std::vector<std::string> trees;
  std::vector<std::string> pieces;  // handed out by the last split
  int builderCalls = 0, adapterCalls = 0;
  long allocations = 0;  // tree records asked for
  // Of the last call: its walk reached the table; where it stopped (and
  // the refused path and reason, as the module must report it); the
  // adapter answered null.
  bool tableFound = false;
  Stop stop = Stop::kNone;
  std::string rejectedPath, reason;
  bool adapterNull = false;
  // The ledger of what is live: none may be after a call.
  long liveRecords = 0;   // tree records
  long liveValues = 0;    // registry storage behind value slots
  bool textLive = false;  // the adapter's text, neither freed nor split
  bool listLive = false;  // the split's piece list
  std::vector<std::string> breaches;
};

class Host {
 public:
  std::mutex mu;
  Config config;
  Record record;
};

Host& TheHost();

// Restores the default configuration and clears the record.
void Reset();

// A copy of the record, taken under the lock. Texts and piece lists are
// watched only under AddressSanitizer (which reports frees); elsewhere
// textLive and listLive stay false.
Record Snapshot();

// REQUIRES: no call is running.
void SetAcceptAll(bool on);

// `length` bytes varied by `seed`: letters, JSON punctuation, a control
// byte and bytes of valid and broken UTF-8; never NUL.
std::string Noise(uint32_t seed, size_t length);

}  // namespace scripted

#endif  // ACL_TESTSUPPORT_SCRIPTED_HOST_H_
