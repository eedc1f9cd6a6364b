#include "devhost/checks.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <limits>
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

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses a text of decimal digits only; false when it is not one or does
// not fit 64 bits.
bool ParseDecimal(std::string_view text, uint64_t* out) {
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      return false;
    }
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

std::optional<std::string> JudgeNumber(const RegColumn& c,
                                       std::string_view text) {
  const uint64_t typeMax = c.type == zorm_mor_value::kTypeU64
                               ? std::numeric_limits<uint64_t>::max()
                               : std::numeric_limits<uint32_t>::max();
  const uint64_t lo = c.min.value_or(0);
  const uint64_t hi = c.max.value_or(typeMax);
  uint64_t value;
  if (ParseDecimal(text, &value) && value >= lo && value <= hi) {
    return std::nullopt;
  }
  return "a number from " + std::to_string(lo) + " to " + std::to_string(hi);
}

std::optional<std::string> JudgeString(const RegColumn& c,
                                       std::string_view text) {
  // A character here is a byte, as the device counts them.
  if (c.maxLength && text.size() > *c.maxLength) {
    return std::to_string(*c.maxLength) + " characters at most";
  }
  uint8_t address[16];
  if (c.format == "ipv6" && !ParseIPv6(text, address)) {
    return "an IPv6 address";
  }
  return std::nullopt;
}

// The path of a column named like the last step of `path` (in any case),
// preferring one of the table `path` names; "" when no column has that
// name.
std::string NearestPath(const Registry& registry, const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  const size_t tableAt = path.find('/') + 1;  // past "ACL/"
  const std::string table =
      path.substr(tableAt, path.find('/', tableAt) - tableAt);
  std::string found;
  for (const RegTable& t : registry.tables()) {
    for (const RegColumn& c : t.columns) {
      if (strcasecmp(c.name.c_str(), name.c_str()) != 0) continue;
      if (t.name == table) return c.path;
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

std::optional<std::string> Checker::Judge(std::string_view path,
                                          std::string_view text) const {
  for (const RejectRule& r : rejects_) {
    if (r.path == path && (!r.text || *r.text == text)) return kRejectedReason;
  }
  const RegColumn* c = registry_.ColumnAt(std::string(path));
  if (c == nullptr) return kUnknownColumn;
  switch (c->type) {
    case zorm_mor_value::kTypeU32:
    case zorm_mor_value::kTypeU64:
      return JudgeNumber(*c, text);
    case zorm_mor_value::kTypeBool:
      if (text == "0" || text == "1") return std::nullopt;
      return "0 or 1";
    case zorm_mor_value::kTypeIPv4: {
      uint8_t bytes[4];
      if (ParseIPv4(text, bytes)) return std::nullopt;
      return "a dotted IPv4 address, such as 10.1.1.0";
    }
    case zorm_mor_value::kTypeMAC: {
      uint8_t mac[6];
      if (ParseMAC(text, mac)) return std::nullopt;
      return "a MAC address, such as 00-1a-2b-3c-4d-5e";
    }
    case zorm_mor_value::kTypeString:
    case zorm_mor_value::kTypeName:
      return JudgeString(*c, text);
    default:
      return "a value of an unknown type";
  }
}

uint16_t Checker::Check(const char* path, const char* text, uint32_t size,
                        char* errorText) const {
  std::optional<std::string> reason;
  if (path == nullptr) {
    reason = kUnknownColumn;
  } else if (text == nullptr) {
    reason = "no value";
  } else {
    reason = Judge(path, text);
  }
  if (!reason) return 1;
  if (errorText != nullptr && size > 0) {
    const size_t n = std::min<size_t>(reason->size(), size - 1);
    std::memcpy(errorText, reason->data(), n);
    errorText[n] = '\0';
  }
  return 0;
}

}  // namespace devhost
