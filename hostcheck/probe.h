// The means of checking a promise: a child process per check, notes on what
// the child is doing, the heap's size, and memory that faults when a host
// reads past the end of a text.
//
// RunInChild forks; the child runs the check and sends its verdict through
// a pipe. Before each call into the host that may go wrong the check leaves
// a Note ("calling ZORM_SetMorValue with a 5-byte text"), so that a child
// that dies is reported with what it was doing. A child killed by a signal,
// ending without a verdict (a sanitizer's report) or running past the
// time-out gives a broken verdict.
//
// Thread-safety: RunInChild is called from one thread at a time; Note may be
// called from any thread of the child.

#ifndef ACL_HOSTCHECK_PROBE_H_
#define ACL_HOSTCHECK_PROBE_H_

#include <cstddef>
#include <functional>
#include <string>

#include "hostcheck/hostcheck.h"

namespace hostcheck {

struct Verdict {
  Outcome outcome = Outcome::kKept;
  std::string detail;
};

Verdict Kept();
Verdict Broken(std::string detail);
Verdict NotChecked(std::string detail);

// Tells the parent what the child is about to do. Does nothing outside a
// child of RunInChild.
void Note(const std::string& doing);

// Runs `check` in a child process and returns its verdict.
Verdict RunInChild(const std::function<Verdict()>& check, int timeoutSeconds);

// Bytes of heap in use: the sanitizer's count when the program runs under
// AddressSanitizer, else the C library's.
size_t HeapInUse();

// Two pages, the second inaccessible: Place() copies a text so that it ends
// exactly where the inaccessible page begins, so reading one byte past it
// faults. Owns its mapping; one thread.
class GuardedBytes {
 public:
  GuardedBytes();
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  // The copy of `text`, without a NUL after it.
  // REQUIRES: text.size() <= one page.
  const char* Place(const std::string& text);

 private:
  char* base_;
  size_t page_;
};

}  // namespace hostcheck

#endif  // ACL_HOSTCHECK_PROBE_H_
