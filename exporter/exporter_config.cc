#include "exporter/exporter_config.h"

#include <cerrno>
#include <cstring>
#include <regex>

#include "exporter/tables.h"

namespace exporter {

namespace {

constexpr const char* kTopKeys[] = {"allowed_targets", "modules", nullptr};
constexpr const char* kModuleKeys[] = {"tables", nullptr};
constexpr size_t kMaxModuleName = 64;

uint64_t AllTables() {
  return kTableCount >= 64 ? ~uint64_t{0} : (uint64_t{1} << kTableCount) - 1;
}

bool IsModuleName(const std::string& name) {
  static const std::regex kName("[A-Za-z0-9_.-]+");
  return name.size() <= kMaxModuleName && std::regex_match(name, kName);
}


}  // namespace

std::string YamlLine(const YAML::Mark& mark) {
  return "line " + std::to_string(mark.line + 1) + ": ";
}

bool LoadYaml(const std::string& what, const std::string& path,
              YAML::Node* root, std::string* error) {
  const std::string file = what + " " + path;
  std::string text;
  if (!ReadFile(path, &text)) {
    *error = "cannot read " + file + ": " + std::strerror(errno);
    return false;
  }
  try {
    *root = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    *error = file + ": " + YamlLine(e.mark) + e.msg;
    return false;
  }
  if (!root->IsMap() && !root->IsNull()) {
    *error = file + ": not a YAML mapping of keys";
    return false;
  }
  return true;
}

bool KnownKeys(const YAML::Node& node, const std::string& where,
               const char* const* known, std::string* error) {
  if (!node.IsMap()) {
    *error = YamlLine(node) + where + " is not a mapping";
    return false;
  }
  for (const auto& entry : node) {
    const std::string key = entry.first.Scalar();
    bool found = false;
    for (const char* const* k = known; *k != nullptr; ++k) found |= key == *k;
    if (!found) {
      *error = YamlLine(entry.first) + "unknown key " +
               (where.empty() ? key : where + "." + key);
      return false;
    }
  }
  return true;
}

std::unique_ptr<const ExporterConfig> ExporterConfig::Load(
    const std::string& path, std::string* error) {
  std::unique_ptr<ExporterConfig> config(new ExporterConfig());
  config->modules_[kDefaultModule] = AllTables();
  if (path.empty()) return config;
  YAML::Node root;
  if (!LoadYaml("config file", path, &root, error)) return nullptr;
  const std::string file = "config file " + path + ": ";
  try {
    if (root.IsNull()) return config;
    if (!KnownKeys(root, "", kTopKeys, error)) {
      *error = file + *error;
      return nullptr;
    }
    const YAML::Node allowed = root["allowed_targets"];
    if (allowed && !allowed.IsNull() && !allowed.IsSequence()) {
      *error = file + YamlLine(allowed) + "allowed_targets is not a list";
      return nullptr;
    }
    for (size_t i = 0; allowed && i < allowed.size(); ++i) {
      TargetPattern pattern;
      std::string why;
      if (!TargetPattern::Parse(allowed[i].as<std::string>(), &pattern,
                                &why) ||
          !config->allowed_.Add(pattern, i)) {
        *error = file + YamlLine(allowed[i]) + "allowed_targets: " +
                 (why.empty() ? allowed[i].Scalar() + " repeats" : why);
        return nullptr;
      }
    }
    const YAML::Node modules = root["modules"];
    if (modules && !modules.IsNull() && !modules.IsMap()) {
      *error = file + YamlLine(modules) + "modules is not a mapping";
      return nullptr;
    }
    for (const auto& entry : modules) {
      const std::string name = entry.first.Scalar();
      const std::string where = "modules." + name;
      if (!IsModuleName(name)) {
        *error = file + YamlLine(entry.first) + "module name \"" + name +
                 "\": use letters, digits, '_', '-', '.' (64 at most)";
        return nullptr;
      }
      if (!KnownKeys(entry.second, where, kModuleKeys, error)) {
        *error = file + *error;
        return nullptr;
      }
      const YAML::Node tables = entry.second["tables"];
      if (!tables || !tables.IsSequence() || tables.size() == 0) {
        *error = file + YamlLine(entry.second) + where +
                 ".tables: a list of one table or more is needed";
        return nullptr;
      }
      uint64_t mask = 0;
      for (const auto& table : tables) {
        const std::string wanted = table.as<std::string>();
        size_t i = 0;
        while (i < kTableCount && wanted != kTables[i].name) ++i;
        if (i == kTableCount) {
          *error = file + YamlLine(table) + where + ".tables: unknown table " +
                   wanted;
          return nullptr;
        }
        mask |= uint64_t{1} << i;
      }
      config->modules_[name] = mask;
    }
  } catch (const YAML::Exception& e) {
    *error = file + YamlLine(e.mark) + e.msg;
    return nullptr;
  }
  return config;
}

bool ExporterConfig::Module(const std::string& name, uint64_t* tables) const {
  const auto it = modules_.find(name);
  if (it == modules_.end()) return false;
  *tables = it->second;
  return true;
}

}  // namespace exporter
