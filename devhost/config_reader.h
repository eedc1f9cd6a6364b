// Reads a device configuration (JSON, with simdjson's On-Demand parser)
// into the compact form of config.h in one pass over the text, checking
// every table, row, column and value against the registry and rendering
// each entry's answer text on the way (the form: docs/devhost.md):
//
//   {"<Table>": {"<Row>": [<entry>, ...]},    a table with rows
//    "<Table>": <entry>, ...}                 a single-instance table
//   <entry>:  {"<Column>": value, "<Nested>": [{"<Column>": value}, ...]}
//
// Faults throw std::runtime_error. Text that is not JSON, a key twice in
// one object, or containers nested more than 64 deep stop the reading at
// once, with the place and the JSON pointer of the value being read:
//   "configuration is not valid JSON: line 3, column 9, at /Base: ..."
// Content that does not fit the registry is collected, each problem at its
// JSON pointer, and reported in key order (an entry's columns before its
// nested lists), the first kMaxProblems in full, then a count:
//   "configuration does not fit the registry: /Nope: unknown table ...; ..."
//
// Stateless: safe to call from any number of threads at once.

#ifndef ACL_DEVHOST_CONFIG_READER_H_
#define ACL_DEVHOST_CONFIG_READER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "devhost/config.h"
#include "devhost/registry.h"

namespace devhost {

constexpr size_t kMaxProblems = 20;

// Reads `text` (copied once, to give the parser its padding).
// REQUIRES: `registry` outlives the result.
std::unique_ptr<Config> LoadConfig(const Registry& registry,
                                   std::string_view text);

// Reads the file at `path`, giving back its pages as the reading passes
// them (reported every MiB); throws "cannot read PATH: REASON" as well.
// REQUIRES: `registry` outlives the result.
std::unique_ptr<Config> LoadConfigFile(const Registry& registry,
                                       const std::string& path);

}  // namespace devhost

#endif  // ACL_DEVHOST_CONFIG_READER_H_
