#include "devhost/checks.h"

#include <strings.h>

#include <charconv>
#include <stdexcept>

#include "devhost/values.h"
#include "tree/tree.h"

namespace devhost {
namespace {

constexpr char kRejectedReason[] = "rejected by --reject";
constexpr char kUnknownColumn[] = "unknown column";
constexpr char kPathForm[] =
    "a path is ACL/TABLE/COLUMN, or ACL/TABLE/ROW/COLUMN in a table with "
    "rows, such as ACL/Base/ProcessingStatus or ACL/IPv4BasicRules/Rule/RuleID";

// The path of a column named like the last step of `path` (in any case),
// preferring one of a table `path` names; "" when no column has that name.
std::string NearestPath(const Registry& registry, const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  std::string found;
  for (const RegTable& t : registry.tables()) {
    for (const RegColumn& c : t.columns) {
      if (strcasecmp(c.name.c_str(), name.c_str()) != 0) continue;
      if (path.find('/' + t.name + '/') != std::string::npos) return c.path;
      if (found.empty()) found = c.path;
    }
  }
  return found;
}

}  // namespace

RejectRule ParseRejectRule(const std::string& arg) {
  RejectRule rule;
  const size_t eq = arg.find('=');
  rule.path = arg.substr(0, eq);
  if (eq != std::string::npos) rule.text = arg.substr(eq + 1);
  if (rule.path.empty()) {
    throw std::invalid_argument(std::string("--reject needs a column path: ") +
                                kPathForm);
  }
  return rule;
}

Checker::Checker(const Registry& registry, std::vector<RejectRule> rejects)
    : registry_(registry), rejects_(std::move(rejects)) {
  for (const RejectRule& r : rejects_) {
    if (registry_.ColumnAt(r.path) != nullptr) continue;
    const std::string nearest = NearestPath(registry_, r.path);
    throw std::invalid_argument(
        "--reject: no column has the path " + r.path + "; " +
        (nearest.empty() ? std::string(kPathForm)
                         : "did you mean " + nearest + "?"));
  }
}

std::optional<std::string> JudgeValue(const RegColumn& c,
                                      std::string_view text,
                                      uint8_t address[16], size_t* size) {
  *size = 0;
  switch (c.type) {
    case zorm_mor_value::kTypeU32:
    case zorm_mor_value::kTypeU64: {
      const uint64_t lo = c.min.value_or(0);
      const uint64_t hi = c.max.value_or(TypeMax(c.type));
      const char* end = text.data() + text.size();
      uint64_t n;
      // Decimal digits only: from_chars takes no sign or space in an unsigned.
      const auto read = std::from_chars(text.data(), end, n);
      if (read.ec == std::errc() && read.ptr == end && n >= lo && n <= hi) {
        return std::nullopt;
      }
      return "a number from " + std::to_string(lo) + " to " +
             std::to_string(hi);
    }
    case zorm_mor_value::kTypeBool:
      if (text == "0" || text == "1") return std::nullopt;
      return "0 or 1";
    case zorm_mor_value::kTypeIPv4:
      *size = 4;
      if (ParseIPv4(text, address)) return std::nullopt;
      return "a dotted IPv4 address, such as 10.1.1.0";
    case zorm_mor_value::kTypeMAC:
      *size = 6;
      if (ParseMAC(text, address)) return std::nullopt;
      return "a MAC address, such as 00-1a-2b-3c-4d-5e";
    case zorm_mor_value::kTypeString:
    case zorm_mor_value::kTypeName:
      // A character here is a byte, as the device counts them.
      if (c.maxLength && text.size() > *c.maxLength) {
        return std::to_string(*c.maxLength) + " characters at most";
      }
      if (c.format != "ipv6") return std::nullopt;
      *size = 16;
      if (ParseIPv6(text, address)) return std::nullopt;
      return "an IPv6 address";
    default:
      return "a value of an unknown type";
  }
}

std::optional<std::string> Checker::Judge(std::string_view path,
                                          std::string_view text) const {
  for (const RejectRule& r : rejects_) {
    if (r.path == path && (!r.text || *r.text == text)) return kRejectedReason;
  }
  const RegColumn* c = registry_.ColumnAt(path);
  if (c == nullptr) return kUnknownColumn;
  uint8_t address[16];
  size_t size;
  return JudgeValue(*c, text, address, &size);
}

}  // namespace devhost
