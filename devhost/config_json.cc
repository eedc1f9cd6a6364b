#include "devhost/config_json.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace devhost {
namespace {

// Objects with up to this many keys are checked for a repeated key by
// comparing with each; larger ones through a hash set.
constexpr size_t kSmallObject = 16;

constexpr char kUnclosedString[] = "the string is not closed";
constexpr char kBadUtf8[] = "invalid UTF-8 in a string";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSpace(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// A byte as a message shows it.
std::string Shown(char c) {
  char text[16];
  if (c > ' ' && c < 0x7F) {
    std::snprintf(text, sizeof(text), "'%c'", c);
  } else {
    std::snprintf(text, sizeof(text), "byte 0x%02x",
                  static_cast<unsigned char>(c));
  }
  return text;
}

// The bit of a key in a frame's filter: equal keys have equal bits.
uint64_t FilterBit(std::string_view key) {
  uint64_t h = key.size();
  if (!key.empty()) h = h * 131 + static_cast<unsigned char>(key.front());
  if (key.size() > 1) h = h * 131 + static_cast<unsigned char>(key.back());
  if (key.size() > 2) h = h * 131 + static_cast<unsigned char>(key[key.size() / 2]);
  return uint64_t{1} << (h & 63);
}

void AppendPointerKey(std::string_view key, std::string* out) {
  for (char c : key) {
    if (c == '~') {
      out->append("~0");
    } else if (c == '/') {
      out->append("~1");
    } else {
      out->push_back(c);
    }
  }
}

}  // namespace

JsonCursor::JsonCursor(std::string_view text)
    : begin_(text.data()),
      end_(text.data() + text.size()),
      pos_(begin_),
      frames_(kMaxDepth + 1) {}

// ---- Places and faults ------------------------------------------------------

std::string JsonCursor::Pointer() const {
  std::string out;
  for (size_t level = 0; level < depth_ && frames_[level].started; ++level) {
    out.push_back('/');
    const Frame& f = frames_[level];
    if (f.array) {
      out.append(std::to_string(f.index));
    } else {
      AppendPointerKey(f.key, &out);
    }
  }
  return out;
}

void JsonCursor::Fail(const std::string& what) const { FailAt(pos_, what); }

void JsonCursor::FailAt(const char* at, const std::string& what) const {
  size_t line = 1;
  const char* lineStart = begin_;
  for (const char* p = begin_; p < at;) {
    const void* nl = std::memchr(p, '\n', static_cast<size_t>(at - p));
    if (nl == nullptr) break;
    ++line;
    p = lineStart = static_cast<const char*>(nl) + 1;
  }
  size_t column = 1;
  for (const char* p = lineStart; p < at; ++p) {
    if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) ++column;
  }
  std::string message =
      "line " + std::to_string(line) + ", column " + std::to_string(column);
  const std::string pointer = Pointer();
  if (!pointer.empty()) message += ", at " + pointer;
  throw JsonError(message + ": " + what);
}

// ---- Structure --------------------------------------------------------------

void JsonCursor::SkipSpace() {
  while (pos_ < end_ && IsSpace(*pos_)) ++pos_;
}

JsonType JsonCursor::Peek() {
  SkipSpace();
  if (pos_ == end_) Fail("the text ends where a value should begin");
  switch (*pos_) {
    case '{':
      return JsonType::kObject;
    case '[':
      return JsonType::kArray;
    case '"':
      return JsonType::kString;
    case 't':
    case 'f':
      return JsonType::kBool;
    case 'n':
      return JsonType::kNull;
    default:
      if (*pos_ == '-' || IsDigit(*pos_)) return JsonType::kNumber;
      Fail("expected a value, not " + Shown(*pos_));
  }
}

void JsonCursor::Push(bool array) {
  if (depth_ == kMaxDepth) {
    FailAt(pos_ - 1, "containers nested more than " +
                         std::to_string(kMaxDepth) + " deep");
  }
  Frame& f = frames_[depth_++];
  f.array = array;
  f.started = false;
  f.index = 0;
  f.key = {};
  f.filter = 0;
  f.keys.clear();
  if (!f.keySet.empty()) f.keySet.clear();
  f.decoded.clear();
}

void JsonCursor::EnterObject() {
  ++pos_;
  Push(false);
}

void JsonCursor::EnterArray() {
  ++pos_;
  Push(true);
}

bool JsonCursor::NextKey(std::string_view* key) {
  Frame& f = frames_[depth_ - 1];
  SkipSpace();
  if (pos_ == end_) Fail("the text ends inside an object");
  if (*pos_ == '}') {
    ++pos_;
    --depth_;
    return false;
  }
  if (f.started) {
    if (*pos_ != ',') Fail("expected ',' or '}' after a member");
    ++pos_;
    SkipSpace();
  }
  if (pos_ == end_ || *pos_ != '"') {
    Fail(f.started ? "expected a key after ','" : "expected a key or '}'");
  }
  const char* const at = pos_;
  const JsonString k = ReadString();
  f.started = true;
  RememberKey(&f, k, at);
  SkipSpace();
  if (pos_ == end_ || *pos_ != ':') Fail("expected ':' after the key");
  ++pos_;
  *key = f.key;
  return true;
}

void JsonCursor::RememberKey(Frame* f, const JsonString& k, const char* at) {
  std::string_view key = k.text;
  if (k.escaped) key = f->decoded.emplace_back(k.text);
  f->key = key;
  bool seen;
  if (f->keySet.empty() && f->keys.size() < kSmallObject) {
    const uint64_t bit = FilterBit(key);
    seen = (f->filter & bit) != 0 &&
           std::find(f->keys.begin(), f->keys.end(), key) != f->keys.end();
    f->filter |= bit;
    f->keys.push_back(key);
  } else {
    if (f->keySet.empty()) f->keySet.insert(f->keys.begin(), f->keys.end());
    seen = !f->keySet.insert(key).second;
  }
  if (seen) FailAt(at, "the key " + Quoted(key) + " appears twice in one object");
}

bool JsonCursor::NextElement() {
  Frame& f = frames_[depth_ - 1];
  SkipSpace();
  if (pos_ == end_) Fail("the text ends inside an array");
  if (*pos_ == ']') {
    ++pos_;
    --depth_;
    return false;
  }
  if (f.started) {
    if (*pos_ != ',') Fail("expected ',' or ']' after an element");
    ++pos_;
    ++f.index;
  }
  f.started = true;
  return true;
}

void JsonCursor::Skip() {
  switch (Peek()) {
    case JsonType::kObject: {
      EnterObject();
      std::string_view key;
      while (NextKey(&key)) Skip();
      return;
    }
    case JsonType::kArray:
      EnterArray();
      while (NextElement()) Skip();
      return;
    case JsonType::kString:
      ReadString();
      return;
    case JsonType::kNumber:
      ReadNumber();
      return;
    case JsonType::kBool:
      ReadBool();
      return;
    case JsonType::kNull:
      ReadNull();
      return;
  }
}

void JsonCursor::Finish() {
  SkipSpace();
  if (pos_ != end_) Fail("more text after the top value");
}

// ---- Scalars ----------------------------------------------------------------

JsonString JsonCursor::ReadString() {
  const char* const start = ++pos_;
  const char* p = start;
  for (;;) {
    if (p == end_) FailAt(start - 1, kUnclosedString);
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"') {
      pos_ = p + 1;
      return JsonString{std::string_view(start, static_cast<size_t>(p - start)),
                        false};
    }
    if (c == '\\') break;
    if (c < 0x20) FailAt(p, "a control character in a string must be escaped");
    p = c < 0x80 ? p + 1 : CheckUtf8(p);
  }
  scratch_.assign(start, p);
  DecodeFrom(start - 1, p);
  return JsonString{scratch_, true};
}

// Decodes the rest of the string that opens at `quote` from `at` onto
// scratch_.
void JsonCursor::DecodeFrom(const char* quote, const char* at) {
  const char* p = at;
  for (;;) {
    if (p == end_) FailAt(quote, kUnclosedString);
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"') {
      pos_ = p + 1;
      return;
    }
    if (c < 0x20) FailAt(p, "a control character in a string must be escaped");
    if (c >= 0x80) {
      const char* next = CheckUtf8(p);
      scratch_.append(p, next);
      p = next;
      continue;
    }
    if (c != '\\') {
      scratch_.push_back(static_cast<char>(c));
      ++p;
      continue;
    }
    if (p + 1 == end_) FailAt(quote, kUnclosedString);
    const char* escape = p;
    p += 2;
    switch (escape[1]) {
      case '"':
      case '\\':
      case '/':
        scratch_.push_back(escape[1]);
        break;
      case 'b':
        scratch_.push_back('\b');
        break;
      case 'f':
        scratch_.push_back('\f');
        break;
      case 'n':
        scratch_.push_back('\n');
        break;
      case 'r':
        scratch_.push_back('\r');
        break;
      case 't':
        scratch_.push_back('\t');
        break;
      case 'u': {
        uint32_t code = Hex4(escape);
        p = escape + 6;
        if (code >= 0xDC00 && code <= 0xDFFF) {
          FailAt(escape, "a low surrogate without a high one before it");
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
          const bool paired = end_ - p >= 2 && p[0] == '\\' && p[1] == 'u';
          const uint32_t low = paired ? Hex4(p) : 0;
          if (low < 0xDC00 || low > 0xDFFF) {
            FailAt(escape, "a high surrogate without a low one after it");
          }
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          p += 6;
        }
        AppendUtf8(code);
        break;
      }
      default:
        FailAt(escape, "unknown escape \\" + std::string(1, escape[1]));
    }
  }
}

// The value of the four hex digits after the "\u" at `at`.
uint32_t JsonCursor::Hex4(const char* at) {
  if (end_ - at < 6) FailAt(at, "\\u needs four hex digits");
  uint32_t code = 0;
  for (int i = 2; i < 6; ++i) {
    const char c = at[i];
    uint32_t digit;
    if (IsDigit(c)) {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      FailAt(at, "\\u needs four hex digits");
    }
    code = code * 16 + digit;
  }
  return code;
}

void JsonCursor::AppendUtf8(uint32_t code) {
  if (code < 0x80) {
    scratch_.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    scratch_.push_back(static_cast<char>(0xC0 | (code >> 6)));
    scratch_.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    scratch_.push_back(static_cast<char>(0xE0 | (code >> 12)));
    scratch_.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    scratch_.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    scratch_.push_back(static_cast<char>(0xF0 | (code >> 18)));
    scratch_.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    scratch_.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    scratch_.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The end of the UTF-8 sequence that starts at `at` (a byte of 0x80 or
// more): well-formed sequences only, no overlong forms, no surrogates,
// nothing above U+10FFFF.
const char* JsonCursor::CheckUtf8(const char* at) {
  const auto* u = reinterpret_cast<const unsigned char*>(at);
  const size_t left = static_cast<size_t>(end_ - at);
  auto in = [&](size_t i, unsigned lo, unsigned hi) {
    return i < left && u[i] >= lo && u[i] <= hi;
  };
  auto tail = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      if (!in(i, 0x80, 0xBF)) return false;
    }
    return true;
  };
  const unsigned c = u[0];
  size_t size = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    size = tail(1, 2) ? 2 : 0;
  } else if (c == 0xE0) {
    size = in(1, 0xA0, 0xBF) && tail(2, 3) ? 3 : 0;
  } else if (c == 0xED) {
    size = in(1, 0x80, 0x9F) && tail(2, 3) ? 3 : 0;
  } else if (c >= 0xE1 && c <= 0xEF) {
    size = tail(1, 3) ? 3 : 0;
  } else if (c == 0xF0) {
    size = in(1, 0x90, 0xBF) && tail(2, 4) ? 4 : 0;
  } else if (c >= 0xF1 && c <= 0xF3) {
    size = tail(1, 4) ? 4 : 0;
  } else if (c == 0xF4) {
    size = in(1, 0x80, 0x8F) && tail(2, 4) ? 4 : 0;
  }
  if (size == 0) FailAt(at, kBadUtf8);
  return at + size;
}

JsonNumber JsonCursor::ReadNumber() {
  const char* const start = pos_;
  const char* p = pos_;
  JsonNumber n;
  if (*p == '-') {
    n.negative = true;
    ++p;
  }
  if (p == end_ || !IsDigit(*p)) FailAt(p, "expected a digit");
  bool fits = true;
  uint64_t value = 0;
  if (*p == '0') {
    ++p;
    if (p < end_ && IsDigit(*p)) FailAt(p, "a number must not begin with 0");
  } else {
    for (; p < end_ && IsDigit(*p); ++p) {
      const auto digit = static_cast<uint64_t>(*p - '0');
      if (value > (UINT64_MAX - digit) / 10) fits = false;
      if (fits) value = value * 10 + digit;
    }
  }
  n.whole = fits;
  if (p < end_ && *p == '.') {
    ++p;
    if (p == end_ || !IsDigit(*p)) FailAt(p, "expected a digit after '.'");
    while (p < end_ && IsDigit(*p)) ++p;
    n.whole = false;
  }
  if (p < end_ && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < end_ && (*p == '+' || *p == '-')) ++p;
    if (p == end_ || !IsDigit(*p)) FailAt(p, "expected a digit in the exponent");
    while (p < end_ && IsDigit(*p)) ++p;
    n.whole = false;
  }
  if (n.whole) n.magnitude = value;
  n.written = std::string_view(start, static_cast<size_t>(p - start));
  pos_ = p;
  return n;
}

bool JsonCursor::ReadBool() {
  const size_t left = static_cast<size_t>(end_ - pos_);
  if (left >= 4 && std::memcmp(pos_, "true", 4) == 0) {
    pos_ += 4;
    return true;
  }
  if (left >= 5 && std::memcmp(pos_, "false", 5) == 0) {
    pos_ += 5;
    return false;
  }
  Fail("expected true or false");
}

void JsonCursor::ReadNull() {
  const size_t left = static_cast<size_t>(end_ - pos_);
  if (left < 4 || std::memcmp(pos_, "null", 4) != 0) Fail("expected null");
  pos_ += 4;
}

// ---- Writing ----------------------------------------------------------------

void AppendQuoted(std::string_view text, std::string* out) {
  out->push_back('"');
  size_t run = 0;  // start of the bytes not yet copied
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out->append(text, run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out->append("\\\"");
        break;
      case '\\':
        out->append("\\\\");
        break;
      case '\b':
        out->append("\\b");
        break;
      case '\f':
        out->append("\\f");
        break;
      case '\n':
        out->append("\\n");
        break;
      case '\r':
        out->append("\\r");
        break;
      case '\t':
        out->append("\\t");
        break;
      default: {
        char escaped[8];
        std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
        out->append(escaped);
      }
    }
  }
  out->append(text, run, text.size() - run);
  out->push_back('"');
}

std::string Quoted(std::string_view text) {
  std::string out;
  AppendQuoted(text, &out);
  return out;
}

}  // namespace devhost
