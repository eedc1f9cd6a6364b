#include "exporter/row_scanner.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace exporter {

namespace {

constexpr size_t kBlock = 64;  // bytes per step of the fast path
constexpr char kFold = 0x20;   // '[' | kFold == '{', ']' | kFold == '}'

// Where in a block of 64 bytes each kind of byte is, one bit per byte.
struct Masks {
  uint64_t quote = 0;
  uint64_t backslash = 0;
  uint64_t open = 0;   // { [
  uint64_t close = 0;  // } ]
  uint64_t comma = 0;
};

#if defined(__x86_64__)
// SSE2, the x86-64 baseline: 16 bytes at a time.
Masks MasksOf(const char* block) {
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i open = _mm_set1_epi8('{');
  const __m128i close = _mm_set1_epi8('}');
  const __m128i comma = _mm_set1_epi8(',');
  const __m128i fold = _mm_set1_epi8(kFold);
  auto bits = [](__m128i equal, int shift) {
    return static_cast<uint64_t>(
               static_cast<uint32_t>(_mm_movemask_epi8(equal)))
           << shift;
  };
  Masks m;
  for (int i = 0; i < 4; ++i) {
    const __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
    const __m128i folded = _mm_or_si128(v, fold);
    m.quote |= bits(_mm_cmpeq_epi8(v, quote), 16 * i);
    m.backslash |= bits(_mm_cmpeq_epi8(v, backslash), 16 * i);
    m.open |= bits(_mm_cmpeq_epi8(folded, open), 16 * i);
    m.close |= bits(_mm_cmpeq_epi8(folded, close), 16 * i);
    m.comma |= bits(_mm_cmpeq_epi8(v, comma), 16 * i);
  }
  return m;
}
#else
Masks MasksOf(const char* block) {
  Masks m;
  for (size_t i = 0; i < kBlock; ++i) {
    const char c = block[i];
    const char folded = static_cast<char>(c | kFold);
    const uint64_t bit = uint64_t{1} << i;
    if (c == '"') m.quote |= bit;
    if (c == '\\') m.backslash |= bit;
    if (folded == '{') m.open |= bit;
    if (folded == '}') m.close |= bit;
    if (c == ',') m.comma |= bit;
  }
  return m;
}
#endif

// Bit i: the parity of the bits 0..i of x (set from an opening quote up to
// the byte before its closing quote).
uint64_t PrefixXor(uint64_t x) {
  x ^= x << 1;
  x ^= x << 2;
  x ^= x << 4;
  x ^= x << 8;
  x ^= x << 16;
  x ^= x << 32;
  return x;
}

}  // namespace

RowScanner::RowScanner(std::string_view table, std::string_view rows,
                       size_t batchBytes, Sink* sink)
    : table_(table), rows_key_(rows), batchBytes_(batchBytes), sink_(sink) {
  if (!rows_.Append("[")) broken_ = true;
}

bool RowScanner::KeyIs(std::string_view name) const {
  return keyLength_ == name.size() && keyLength_ <= kMaxKey &&
         std::memcmp(key_, name.data(), name.size()) == 0;
}

bool RowScanner::Take(const char* to, const char** from) {
  if (!rows_.Append(std::string_view(*from, static_cast<size_t>(to - *from)))) {
    broken_ = true;
    return false;
  }
  *from = to;
  return true;
}

bool RowScanner::Flush(bool last) {
  if (!rows_.Append("]")) {
    broken_ = true;
    return false;
  }
  // Rows on both sides of every comma that separates batches.
  const bool ok = sink_->Rows(rows_.data(), rows_.size(), needRow_ || !last);
  rows_.Truncate(1);  // the "[" of the next batch
  needRow_ = !last;
  if (!ok) broken_ = true;
  return ok;
}

void RowScanner::Comma(const char* at, const char** from) {
  if (rows_.size() + static_cast<size_t>(at - *from) >= batchBytes_ &&
      Take(at, from) && Flush(false)) {
    *from = at + 1;  // the comma separates the batches
  }
}

void RowScanner::EndRows(const char* at, const char** from) {
  // Its bracket goes to the skeleton. A brace there is broken JSON that
  // simdjson's On-Demand parser would not see in the skeleton's "[}".
  if (*at != ']') {
    broken_ = true;
    return;
  }
  if (Take(at, from)) Flush(true);
  inRows_ = false;
}

void RowScanner::Step(const char* at, const char** from) {
  const char c = *at;
  if (inString_) {
    if (escaped_) {
      escaped_ = false;
    } else if (c == '\\') {
      escaped_ = true;
    } else if (c == '"') {
      inString_ = false;
      keyLive_ = false;
      return;
    }
    if (keyLive_) {
      if (keyLength_ < kMaxKey) key_[keyLength_] = c;
      ++keyLength_;
    }
    return;
  }
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\r':
      return;
    case ':':
      afterColon_ = true;
      return;
    case '"':
      inString_ = true;
      afterColon_ = false;
      started_ = true;
      keyLive_ = !inRows_ && (depth_ == 1 || depth_ == 2);
      keyLength_ = 0;
      return;
    case '{':
    case '[': {
      bool enter = false;
      if (!inRows_) {
        if (depth_ == 0 && started_) {  // a second top-level value
          broken_ = true;
          return;
        }
        if (!started_) {
          started_ = true;
          topObject_ = c == '{';
        }
        if (c == '{' && depth_ == 1 && topObject_ && afterColon_ &&
            KeyIs(table_)) {
          inTable_ = true;
        }
        enter = c == '[' && depth_ == 2 && inTable_ && afterColon_ &&
                KeyIs(rows_key_);
      }
      afterColon_ = false;
      ++depth_;
      if (enter) {
        if (!skeleton_.Append(
                std::string_view(*from, static_cast<size_t>(at + 1 - *from)))) {
          broken_ = true;
          return;
        }
        *from = at + 1;
        inRows_ = true;
        needRow_ = false;
      }
      return;
    }
    case '}':
    case ']':
      afterColon_ = false;
      if (depth_ == 0) {
        broken_ = true;
        return;
      }
      --depth_;
      if (inRows_) {
        if (depth_ == 2) {
          EndRows(at, from);
        }
      } else if (depth_ <= 1) {
        inTable_ = false;
      }
      return;
    case ',':
      afterColon_ = false;
      if (inRows_ && depth_ == 3) Comma(at, from);
      return;
    default:
      afterColon_ = false;
      started_ = true;
      return;
  }
}

bool RowScanner::Scan(std::string_view piece) {
  const char* at = piece.data();
  const char* const end = at + piece.size();
  const char* from = at;  // the bytes from here on are not copied yet
  while (at < end && !broken_) {
    if (!inRows_ || end - at < static_cast<ptrdiff_t>(kBlock)) {
      Step(at, &from);
      ++at;
      continue;
    }
    const Masks m = escaped_ ? Masks() : MasksOf(at);
    if (escaped_ || m.backslash != 0) {
      // Escapes are rare in rows: a block that has them goes byte by byte.
      for (const char* stop = at + kBlock; at < stop && !broken_; ++at) {
        Step(at, &from);
      }
      continue;
    }
    const uint64_t inside =
        PrefixXor(m.quote) ^ (inString_ ? ~uint64_t{0} : 0);
    // Commas matter only where a batch may end: in a block that can bring
    // the batch to its size.
    const bool batchDue =
        rows_.size() + static_cast<size_t>(at - from) + kBlock >= batchBytes_;
    uint64_t structural =
        (m.open | m.close | (batchDue ? m.comma : 0)) & ~inside;
    const char* next = at + kBlock;
    while (structural != 0) {
      const int i = __builtin_ctzll(structural);
      structural &= structural - 1;
      const uint64_t bit = uint64_t{1} << i;
      if ((m.open & bit) != 0) {
        ++depth_;
      } else if ((m.close & bit) == 0) {  // a comma
        if (depth_ == 3) Comma(at + i, &from);
        if (broken_) return false;
      } else if (--depth_ == 2) {  // the list ends
        EndRows(at + i, &from);
        if (broken_) return false;
        inString_ = false;
        next = at + i + 1;
        break;
      }
    }
    if (inRows_) inString_ = (inside >> 63) != 0;
    at = next;
  }
  if (!broken_) {
    const std::string_view rest(from, static_cast<size_t>(end - from));
    if (!(inRows_ ? rows_.Append(rest) : skeleton_.Append(rest))) {
      broken_ = true;
    }
  }
  return !broken_;
}

bool RowScanner::Finish() { return !broken_ && !inRows_; }

}  // namespace exporter
