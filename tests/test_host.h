// A recording host for the module's tests: it defines every host and
// registry operation the module calls (host/host_api.h), answers as the
// test configures it, and records what the module asked.
//
// One process-wide instance, reset by each test (Reset). Its operations may
// be called from gRPC server threads; they lock the instance.

#ifndef ACL_TESTS_TEST_HOST_H_
#define ACL_TESTS_TEST_HOST_H_

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/host_api.h"

namespace testhost {

// One value check as the module made it.
struct Check {
  std::string token, path, text;
  bool operator==(const Check& o) const {
    return token == o.token && path == o.path && text == o.text;
  }
};

// A value-check rule: reject `path` (and, if set, only `text`) with
// `reason`, answering `result`.
struct Reject {
  std::string path;
  std::optional<std::string> text;
  std::string reason;
  uint16_t result = 0;
};

// The reason given for the n-th check refused by Config::rejectNth.
constexpr char kNthReason[] = "refused in turn";

enum class SplitMode { kPieces, kNull, kZeroPieces };

struct Config {
  std::set<std::string> tokens = {"good-token"};
  std::optional<uint16_t> sessionResult;  // fixed answer, overrides tokens
  bool noRoot = false;
  std::string privateName = "private";
  std::string moduleName = "ACL";
  std::set<std::string> missingTables;
  std::vector<std::string> extraTables;  // further children of the module
  std::vector<Reject> rejects;
  size_t rejectNth = 0;  // 1 and up: refuse the n-th value check as well
  std::optional<std::string> answer = std::string("{\"answer\":1}");
  SplitMode split = SplitMode::kPieces;
  size_t splitBytes = 4;
  grpc::ServerBuilder* builder = nullptr;
};

struct Record {
  std::vector<std::string> sessions;  // tokens asked about
  std::vector<std::string> lookups;   // registry names asked for, in order
  std::vector<Check> checks;
  std::vector<std::string> trees;     // canonical JSON of each adapter tree
  std::vector<std::string> pieces;    // pieces handed out by the last split
  int builderCalls = 0;
  int typeInfoCalls = 0;
  int releases = 0;    // release-function calls
  long liveTexts = 0;  // registry storage not yet released
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

// A copy of the record, taken under the lock.
Record Snapshot();

}  // namespace testhost

#endif  // ACL_TESTS_TEST_HOST_H_
