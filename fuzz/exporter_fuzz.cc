// exporter_fuzz: a device's reply, one table's JSON, through the exporter's
// parse and write (ParseTable into a MetricText), no gRPC. The first byte
// picks the table, the rest is its answer. Every output must be a
// well-formed exposition: each line a "# HELP"/"# TYPE" comment or
// `name{label="value",...} value`, label values escaped, label names unique
// within a series, no series twice; else the fuzzer aborts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>
#include <string>
#include <string_view>

#include "exporter/metric_text.h"
#include "exporter/reply_buffer.h"
#include "exporter/tables.h"

namespace {

constexpr size_t kMaxSeries = 1000;

bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c == ':';
}

bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

// One series line; false if it is not `name{labels} value`.
bool CheckSeries(std::string_view line,
                 std::unordered_set<std::string_view>* series) {
  size_t i = 0;
  if (line.empty() || !IsNameStart(line[0])) return false;
  while (i < line.size() && IsNameChar(line[i])) ++i;
  std::vector<std::string_view> names;
  if (i < line.size() && line[i] == '{') {
    ++i;
    while (i < line.size() && line[i] != '}') {
      const size_t name = i;
      if (!IsNameStart(line[i])) return false;
      while (i < line.size() && IsNameChar(line[i])) ++i;
      const std::string_view label = line.substr(name, i - name);
      for (std::string_view seen : names) {
        if (seen == label) return false;
      }
      names.push_back(label);
      if (line.substr(i, 2) != "=\"") return false;
      for (i += 2; i < line.size() && line[i] != '"'; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7f) return false;
        if (c == '\\') {
          if (++i >= line.size()) return false;
          if (line[i] != '\\' && line[i] != '"' && line[i] != 'n') {
            return false;
          }
        }
      }
      if (i >= line.size()) return false;
      ++i;  // the closing quote
      if (i < line.size() && line[i] == ',') ++i;
    }
    if (i >= line.size()) return false;
    ++i;  // '}'
  }
  if (!series->insert(line.substr(0, i)).second) return false;
  if (i >= line.size() || line[i] != ' ' || i + 1 == line.size()) {
    return false;
  }
  for (++i; i < line.size(); ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  return true;
}

void CheckExposition(const std::string& text) {
  std::unordered_set<std::string_view> series;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t end = text.find('\n', begin);
    if (end == std::string::npos) std::abort();  // a line left open
    const std::string_view line(text.data() + begin, end - begin);
    const bool comment = line.substr(0, 7) == "# HELP " ||
                         line.substr(0, 7) == "# TYPE ";
    if (!comment && !CheckSeries(line, &series)) std::abort();
    begin = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const exporter::TableSpec& table =
      exporter::kTables[data[0] % exporter::kTableCount];
  exporter::ReplyBuffer json;
  json.Append(std::string_view(reinterpret_cast<const char*>(data + 1),
                               size - 1));
  if (json.data() == nullptr) return 0;
  exporter::MetricText text(kMaxSeries);
  exporter::RowSkips skips;
  std::string error;
  exporter::ParseTable(table, json.data(), json.size(), json.capacity(),
                       &text, &skips, &error);
  std::string out;
  text.AppendTo(&out);
  CheckExposition(out);
  return 0;
}
