// ExporterConfig: the exporter's own configuration, read from the YAML file
// given with --config.file (no secrets in it):
//
//   allowed_targets:          targets that may be probed without a token
//     - "127.0.0.1:50051"     (TargetPattern forms, see credentials.h)
//   modules:                  what /probe?module=NAME reads
//     applied:
//       tables: [PfilterGroupRunInfo, PfilterRuleRunInfo]
//
// The module "default" reads every table unless the file redefines it.
// Loading fails, naming the key, on an unknown key, a bad pattern, an
// unknown table or a module without tables.
//
// Also the YAML helpers web_config.cc shares: a bounded file read with the
// syntax error's line, and the check of a mapping's keys.
//
// Immutable once loaded: thread-safe.

#ifndef ACL_EXPORTER_EXPORTER_CONFIG_H_
#define ACL_EXPORTER_EXPORTER_CONFIG_H_

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "exporter/credentials.h"

namespace exporter {

class ExporterConfig {
 public:
  static constexpr char kDefaultModule[] = "default";

  // Reads `path`; an empty path gives the defaults (no allowed targets, the
  // default module). Returns nullptr with `*error` set when it is bad.
  static std::unique_ptr<const ExporterConfig> Load(const std::string& path,
                                                    std::string* error);

  // Sets `*tables` (bit i: kTables[i]) of module `name`; false when there
  // is no such module.
  bool Module(const std::string& name, uint64_t* tables) const;

  // Whether allowed_targets lets `target` be probed without a token.
  bool Allows(const std::string& target) const {
    return allowed_.Find(target) >= 0;
  }
  bool hasAllowedTargets() const { return !allowed_.empty(); }

 private:
  ExporterConfig() = default;

  TargetPatterns allowed_;
  std::map<std::string, uint64_t> modules_;
};

// "line N: " of `mark` (a node's place or a parse error's), to begin an
// error text.
std::string YamlLine(const YAML::Mark& mark);
inline std::string YamlLine(const YAML::Node& node) {
  return YamlLine(node.Mark());
}

// Parses the YAML file `path` (at most Credentials::kMaxFileBytes) into
// `*root`; false with `*error` set ("WHAT PATH: line N: ...").
bool LoadYaml(const std::string& what, const std::string& path,
              YAML::Node* root, std::string* error);

// Whether every key of the mapping `node` (at `where`, e.g. "modules.x") is
// one of `known` (null-terminated); else `*error` names the first other.
bool KnownKeys(const YAML::Node& node, const std::string& where,
               const char* const* known, std::string* error);

}  // namespace exporter

#endif  // ACL_EXPORTER_EXPORTER_CONFIG_H_
