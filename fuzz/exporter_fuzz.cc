// exporter_fuzz: a device's reply, one table's JSON, through the exporter's
// parse and write into a MetricText, no gRPC. The first byte picks the
// table, the second how the answer is cut into pieces and batched, the rest
// is the answer. It is parsed twice: whole (ParseTable) and as it would
// arrive in pieces (TableStream). simdjson's On-Demand parser lets some
// broken JSON through in places the exporter does not read, and the
// streamed parse, which also checks the text between the rows, less of it:
// so what the streamed parse accepts the whole parse must accept too, with
// the same text and skips, and valid JSON (by simdjson's DOM parser, which
// checks everything) that the whole parse accepts the streamed parse must
// accept. The text must be a well-formed exposition: each line a "# HELP"/"# TYPE"
// comment or `name{label="value",...} value`, label values escaped, label
// names unique within a series, no series twice. Else the fuzzer aborts.

#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
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

// The sizes of the pieces, from `seed`: up to 16 cuts, each a few bytes
// after the one before (escapes, keys and rows cut more than once) or
// anywhere, by a small generator, so that cuts fall everywhere.
std::vector<size_t> PiecesOf(uint8_t seed, size_t size) {
  constexpr size_t kMaxCuts = 16;
  constexpr uint32_t kNear = 8;
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  std::vector<size_t> cuts;
  size_t at = 0;
  for (size_t i = 0; i <= seed % kMaxCuts && size > 0; ++i) {
    const uint32_t r = next();
    at = (r & 1) ? at + 1 + r / 2 % kNear : r / 2 % size;
    if (at < size) cuts.push_back(at);
  }
  std::sort(cuts.begin(), cuts.end());
  std::vector<size_t> pieces;
  size_t done = 0;
  for (size_t cut : cuts) {
    if (cut > done) pieces.push_back(cut - done);
    done = std::max(done, cut);
  }
  if (size > done) pieces.push_back(size - done);
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const exporter::TableSpec& table =
      exporter::kTables[data[0] % exporter::kTableCount];
  const uint8_t seed = data[1];
  const std::string_view answer(reinterpret_cast<const char*>(data + 2),
                                size - 2);
  exporter::ReplyBuffer json;
  json.Append(answer);
  if (json.data() == nullptr) return 0;
  exporter::MetricText whole(kMaxSeries);
  exporter::RowSkips wholeSkips;
  std::string error;
  const bool wholeOk =
      exporter::ParseTable(table, json.data(), json.size(), json.capacity(),
                           &whole, &wholeSkips, &error);

  exporter::MetricText pieces(kMaxSeries);
  exporter::RowSkips piecesSkips;
  // Small batches, so that rows are handed over mid-piece and mid-list.
  exporter::TableStream stream(table, &pieces, &piecesSkips,
                               1 + (seed * 7) % 97);
  size_t at = 0;
  bool piecesOk = true;
  for (size_t n : PiecesOf(seed, answer.size())) {
    if (!stream.Add(answer.substr(at, n))) {
      piecesOk = false;
      break;
    }
    at += n;
  }
  piecesOk = piecesOk && stream.Finish();
  if (piecesOk && !wholeOk) std::abort();
  if (wholeOk && !piecesOk) {
    simdjson::dom::parser strict;
    if (!strict.parse(json.data(), json.size()).error()) std::abort();
    return 0;
  }
  if (!wholeOk) return 0;

  exporter::ProbeText wholeText, piecesText;
  whole.MoveTo(&wholeText);
  pieces.MoveTo(&piecesText);
  const std::string out = wholeText.ToString();
  const std::string streamed = piecesText.ToString();
  if (out != streamed) std::abort();
  if (std::memcmp(wholeSkips.count, piecesSkips.count,
                  sizeof wholeSkips.count) != 0) {
    std::abort();
  }
  CheckExposition(out);
  return 0;
}
