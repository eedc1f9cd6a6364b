// RowScanner: finds the rows of a table's JSON answer while it arrives in
// pieces cut anywhere, so that they can be parsed as they complete instead
// of once the whole answer is held.
//
// The answer has the shape {"TABLE": {"ROWS": [row, row, ...]}}. The
// scanner tracks strings (quotes, backslash escapes) and the nesting depth;
// the elements of every list at that path (a top-level object's member
// TABLE, an object, its member ROWS, a list) go to the Sink in batches,
// each batch the text "[" row, row, ... "]" with simdjson's padding behind
// it; every other byte of the answer goes to the skeleton, which is the
// answer with those lists' elements taken out (their brackets stay).
//
// The scanner checks nothing beyond what it needs to find rows: the answer
// is valid JSON exactly when the skeleton is and every batch is (a batch
// beside a comma that separates batches must hold a row) and the list
// closes with "]" (simdjson's On-Demand parser would let "[}" through in
// the skeleton). When the text is not JSON the scanner may find rows in
// the wrong places, but then the skeleton or a batch is not JSON either. The keys are compared as they are written,
// escapes and all.
//
// Owns its buffers (a batch of rows and the skeleton); not thread-safe.

#ifndef ACL_EXPORTER_ROW_SCANNER_H_
#define ACL_EXPORTER_ROW_SCANNER_H_

#include <cstddef>
#include <string_view>

#include "exporter/reply_buffer.h"

namespace exporter {

class RowScanner {
 public:
  // Receives the batches of rows.
  class Sink {
   public:
    virtual ~Sink() = default;
    // json[0, size) is "[" rows "]", with ReplyBuffer::kPadding bytes
    // readable past it. `needRow`: a comma that separates batches follows
    // or precedes it, so it must hold at least one row. Returns false when the rows are broken; the
    // scan stops there.
    virtual bool Rows(const char* json, size_t size, bool needRow) = 0;
  };

  // `table`, `rows`: the keys of the path. Rows are handed over once a
  // batch holds `batchBytes` (and at the end of each list). `sink` must
  // outlive the scanner.
  RowScanner(std::string_view table, std::string_view rows,
             size_t batchBytes, Sink* sink);

  RowScanner(const RowScanner&) = delete;
  RowScanner& operator=(const RowScanner&) = delete;

  // Scans the next piece of the answer. False once the sink refused a
  // batch or the text cannot be JSON (a bracket closed at the top level);
  // every later call is false too.
  bool Scan(std::string_view piece);

  // The answer is whole. False when it ended inside a list of rows or the
  // scan failed; else the skeleton is complete.
  bool Finish();

  const ReplyBuffer& skeleton() const { return skeleton_; }

 private:
  // One byte outside the fast path. `at` is its place in the piece,
  // `*from` where the bytes not yet copied begin.
  void Step(const char* at, const char** from);
  // The rows' bytes of the piece up to `to` into rows_.
  bool Take(const char* to, const char** from);
  // A comma between rows at `at`: the batch ends there once it is due.
  void Comma(const char* at, const char** from);
  // The list of rows ends with the bracket at `at`.
  void EndRows(const char* at, const char** from);
  // Hands rows_ to the sink as a batch, and empties it. `last`: the list
  // ends here (else a comma separates this batch from the next).
  bool Flush(bool last);
  bool KeyIs(std::string_view name) const;

  static constexpr size_t kMaxKey = 64;

  const std::string_view table_;
  const std::string_view rows_key_;
  const size_t batchBytes_;
  Sink* const sink_;

  size_t depth_ = 0;       // open brackets
  bool inString_ = false;
  bool escaped_ = false;   // the last byte was a backslash in a string
  bool started_ = false;   // the top-level value began
  bool topObject_ = false;
  bool inTable_ = false;   // depth 2 is the table's object
  bool afterColon_ = false;
  bool inRows_ = false;    // depth 3 is a list of rows
  bool needRow_ = false;   // the batch to come follows a comma
  bool broken_ = false;
  char key_[kMaxKey];      // the last string begun at depth 1 or 2
  size_t keyLength_ = 0;   // past kMaxKey: matches no key
  bool keyLive_ = false;   // the string being read is recorded

  ReplyBuffer rows_;       // "[" and the rows since the last batch
  ReplyBuffer skeleton_;
};

}  // namespace exporter

#endif  // ACL_EXPORTER_ROW_SCANNER_H_
