// Reads a device configuration (JSON) into the compact form of config.h in
// one pass over the text, checking every table, row, column and value
// against the registry and rendering each entry's answer text on the way:
//
//   {"<Table>": {"<Row>": [<entry>, ...]},    a table with rows
//    "<Table>": <entry>, ...}                 a single-instance table
//   <entry>:  {"<Column>": value, "<Nested>": [{"<Column>": value}, ...]}
//
// Numbers are unsigned whole numbers (booleans true/false, or 0/1), and
// strings hold the other kinds (IPv4 and MAC addresses, IPv6 addresses for
// columns of that format, texts). An entry's answer text has its keys in
// registry order, a nested list at the place of its first column.
//
// Faults throw std::runtime_error. Text that is not strict JSON (see
// config_json.h) stops the reading at once:
//   "configuration is not valid JSON: line 3, column 9, at /Base: ..."
// Content that does not fit the registry is collected, each problem at its
// JSON pointer, and reported together in key order (the columns of an entry
// before its nested lists), the first kMaxProblems in full:
//   "configuration does not fit the registry: /Nope: unknown table ...; ..."
//
// Stateless: safe to call from any number of threads at once.

#ifndef ACL_DEVHOST_CONFIG_READER_H_
#define ACL_DEVHOST_CONFIG_READER_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "devhost/config.h"
#include "devhost/registry.h"

namespace devhost {

constexpr size_t kMaxProblems = 20;

// Calls `done` (when given) now and then between entries with the number
// of bytes of `text` read so far. The result never refers to `text`, and
// the reading looks at bytes before that number again only to place a
// fault in its message.
// REQUIRES: `registry` outlives the result.
std::unique_ptr<Config> LoadConfig(
    const Registry& registry, std::string_view text,
    const std::function<void(size_t)>& done = nullptr);

}  // namespace devhost

#endif  // ACL_DEVHOST_CONFIG_READER_H_
