// The development host's query adapters: what GRPC_AdapterGet2Quorvex
// answers for a request tree, in a block from memory.h's TakeBlock.
//
//   json   the configured rows (or the single instance) that the tree's
//          match keys select, from the device configuration.
//   echo   the request tree itself, {"module":"ACL","table":"<table>",
//          "tree":T}, lists in their order:
//            T = {"kind":"table","columns":[C...],"subEntries":[S...],
//                 "rows":[R...]}
//            R = {"kind":"row","columns":[C...],"subEntries":[S...]}
//            S = {"name":"SrcIPv4","columns":[C...]}
//            C = {"morId":"0x02010501","type":1,"noValue":false,"value":2000}
//          A no-value record has no "value". Values: types 1 and 15 the u32,
//          8 the u64, 5 the dotted address, 6 and 22 the string, 14 the six
//          bytes as 12 lowercase hex digits; other types null.
//   fixed  the same text for every tree (--answer-file), doing no query
//          work: a load test sets the module's own path beside a plain gRPC
//          server answering the same bytes.
//
// Immutable once made: safe to call from any number of threads. The json and
// echo adapters refer to their registry, which must outlive them.

#ifndef ACL_DEVHOST_ADAPTER_H_
#define ACL_DEVHOST_ADAPTER_H_

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "devhost/registry.h"
#include "tree/tree.h"

namespace devhost {

struct Config;

class Adapter {
 public:
  virtual ~Adapter() = default;
  // The answer as a malloc'd NUL-terminated text of `*size` bytes before
  // its NUL (the caller frees it), or null when there is none.
  // REQUIRES: `table` is not null.
  virtual char* Answer(const tagGrpcTableOrRow* table, const char* module,
                       size_t* size) const = 0;

  // A long answer looks at `*flag` every few thousand entries and gives up
  // (answers null) once it is true. REQUIRES: `*flag` outlives the adapter.
  void GiveUpWhen(const std::atomic<bool>* flag) { giveUp_ = flag; }

 protected:
  bool GivingUp() const {
    return giveUp_ != nullptr && giveUp_->load(std::memory_order_relaxed);
  }
  const std::atomic<bool>* giveUpFlag() const { return giveUp_; }

 private:
  const std::atomic<bool>* giveUp_ = nullptr;
};

// The json adapter over a configuration that config.h's LoadConfig or
// LoadConfigFile read.
std::unique_ptr<Adapter> MakeJsonAdapter(const Registry& registry,
                                         std::unique_ptr<Config> config);

std::unique_ptr<Adapter> MakeEchoAdapter(const Registry& registry);

std::unique_ptr<Adapter> MakeFixedAdapter(std::string answer);

// The built-in sample device configuration's JSON text.
extern const char kSampleConfigJson[];

}  // namespace devhost

#endif  // ACL_DEVHOST_ADAPTER_H_
