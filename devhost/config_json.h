// A strict, single-pass JSON reader for the device configuration: a pull
// cursor over one text held in memory. The caller walks the text value by
// value (Peek, then Enter/Next for containers, Read for scalars, Skip for
// what it does not want) and builds its own form as it goes; no document
// tree is ever made.
//
// Strict: the JSON grammar and nothing more (no comments, no trailing
// commas, no leading zeros, nothing after the top value), strings of valid
// UTF-8 whose escapes name whole characters (surrogates only in pairs), no
// key twice in one object, and at most kMaxDepth nested containers. Every
// fault throws JsonError, whose text gives the place: line, column
// (counted in characters) and the JSON pointer of the value being read.
//
// A cursor is used by one thread at a time. The text must outlive it. Views
// it returns point into the text or into the cursor's own scratch space and
// stay valid until the next call that reads.

#ifndef ACL_DEVHOST_CONFIG_JSON_H_
#define ACL_DEVHOST_CONFIG_JSON_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace devhost {

class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class JsonType : uint8_t {
  kObject, kArray, kString, kNumber, kBool, kNull
};

struct JsonString {
  std::string_view text;  // decoded
  bool escaped = false;   // the text as written held escapes
};

struct JsonNumber {
  std::string_view written;  // as written
  uint64_t magnitude = 0;    // when `whole`: the value without its sign
  bool negative = false;
  bool whole = false;  // no fraction, no exponent, magnitude within 64 bits
};

class JsonCursor {
 public:
  static constexpr size_t kMaxDepth = 64;

  explicit JsonCursor(std::string_view text);
  JsonCursor(const JsonCursor&) = delete;
  JsonCursor& operator=(const JsonCursor&) = delete;

  // The type of the next value.
  JsonType Peek();

  // Objects: EnterObject, then NextKey until it returns false (having
  // consumed the closing brace); after each key, read or skip its value.
  // REQUIRES: Peek() == JsonType::kObject.
  void EnterObject();
  bool NextKey(std::string_view* key);

  // Arrays: EnterArray, then NextElement until it returns false; after each
  // true, read or skip the element. REQUIRES: Peek() == JsonType::kArray.
  void EnterArray();
  bool NextElement();

  // Scalars. REQUIRES: Peek() returned the matching type.
  JsonString ReadString();
  JsonNumber ReadNumber();
  bool ReadBool();
  void ReadNull();

  // Reads past the next value of any type, checking it just as strictly.
  void Skip();
  // Checks that only white space is left.
  void Finish();

  // Bytes read so far.
  size_t offset() const { return static_cast<size_t>(pos_ - begin_); }

  // The place being read, outermost first: per open container, the key of
  // its current member or the index of its current element (none before
  // the first).
  size_t depth() const { return depth_; }
  bool IsArray(size_t level) const { return frames_[level].array; }
  bool HasMember(size_t level) const { return frames_[level].started; }
  std::string_view Key(size_t level) const { return frames_[level].key; }
  size_t Index(size_t level) const { return frames_[level].index; }
  // The same as a JSON pointer ("/IPv4BasicRules/Rule/2/GroupID"; "" for
  // the top value).
  std::string Pointer() const;

  // Throws JsonError for `what` at the current place.
  [[noreturn]] void Fail(const std::string& what) const;

 private:
  struct Frame {
    bool array = false;
    bool started = false;  // a member or element has begun
    size_t index = 0;
    std::string_view key;
    // Keys seen, to refuse one twice: a list for small objects (behind a
    // 64-bit filter, so most keys need no comparison), a set once it
    // grows. Escaped keys are kept in `decoded`.
    uint64_t filter = 0;
    std::vector<std::string_view> keys;
    std::unordered_set<std::string_view> keySet;
    std::deque<std::string> decoded;
  };

  [[noreturn]] void FailAt(const char* at, const std::string& what) const;
  void SkipSpace();
  void Push(bool array);
  void RememberKey(Frame* frame, const JsonString& key, const char* at);
  const char* CheckUtf8(const char* at);
  void DecodeFrom(const char* quote, const char* at);
  uint32_t Hex4(const char* at);
  void AppendUtf8(uint32_t code);

  const char* const begin_;
  const char* const end_;
  const char* pos_;
  std::vector<Frame> frames_;  // kMaxDepth + 1, never reallocated
  size_t depth_ = 0;
  std::string scratch_;  // decoded strings with escapes
};

// `text` as a JSON string literal, quotes included: '"', '\\' and control
// characters escaped (\b \f \n \r \t, others \u00xx), everything else as
// is. REQUIRES: `text` is valid UTF-8.
void AppendQuoted(std::string_view text, std::string* out);
std::string Quoted(std::string_view text);

}  // namespace devhost

#endif  // ACL_DEVHOST_CONFIG_JSON_H_
