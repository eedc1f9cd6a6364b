#include "hostcheck/probe.h"

#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

// Present only when the program runs under AddressSanitizer.
extern "C" size_t __sanitizer_get_current_allocated_bytes()
    __attribute__((weak));

namespace hostcheck {
namespace {

constexpr char kNoteTag = 'N';
constexpr char kVerdictTag = 'V';

int g_pipe = -1;  // the child's end of the pipe; -1 in the parent

// One line on the pipe: a tag and a text without newlines.
void SendLine(char tag, std::string text) {
  if (g_pipe < 0) return;
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  std::string line = std::string(1, tag) + text + "\n";
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t n = write(g_pipe, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

[[noreturn]] void RunChild(const std::function<Verdict()>& check, int fd) {
  g_pipe = fd;
  Verdict verdict;
  try {
    verdict = check();
  } catch (const std::exception& e) {
    verdict = Broken(std::string("an exception left the host: ") + e.what());
  } catch (...) {
    verdict = Broken("an exception left the host");
  }
  SendLine(kVerdictTag, std::to_string(static_cast<int>(verdict.outcome)) +
                            verdict.detail);
  std::fflush(nullptr);
  _exit(0);
}

// What the parent read from the child: its last note and its verdict.
struct Transcript {
  std::string lastNote;
  bool haveVerdict = false;
  Verdict verdict;
  bool timedOut = false;
};

void TakeLine(const std::string& line, Transcript* t) {
  if (line.empty()) return;
  if (line[0] == kNoteTag) {
    t->lastNote = line.substr(1);
  } else if (line[0] == kVerdictTag && line.size() >= 2) {
    t->haveVerdict = true;
    t->verdict.outcome = static_cast<Outcome>(line[1] - '0');
    t->verdict.detail = line.substr(2);
  }
}

// Reads the child's lines until it closes the pipe or the time runs out.
Transcript Read(int fd, int timeoutSeconds) {
  Transcript t;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(timeoutSeconds);
  std::string pending;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      t.timedOut = true;
      return t;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return t;
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      TakeLine(pending.substr(0, end), &t);
      pending.erase(0, end + 1);
    }
  }
}

std::string While(const Transcript& t) {
  return t.lastNote.empty() ? "" : " while " + t.lastNote;
}

}  // namespace

Verdict Kept() { return {}; }
Verdict Broken(std::string detail) {
  return {Outcome::kBroken, std::move(detail)};
}
Verdict NotChecked(std::string detail) {
  return {Outcome::kNotChecked, std::move(detail)};
}

void Note(const std::string& doing) { SendLine(kNoteTag, doing); }

Verdict RunInChild(const std::function<Verdict()>& check, int timeoutSeconds) {
  int fds[2];
  if (pipe(fds) != 0) return Broken("the checker cannot make a pipe");
  std::fflush(nullptr);  // nothing buffered is written twice
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return Broken("the checker cannot fork");
  }
  if (pid == 0) {
    close(fds[0]);
    RunChild(check, fds[1]);
  }
  close(fds[1]);
  const Transcript t = Read(fds[0], timeoutSeconds);
  close(fds[0]);
  if (t.timedOut) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (t.timedOut) {
    return Broken("no answer within " + std::to_string(timeoutSeconds) +
                  " s" + While(t));
  }
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return Broken(std::string("the host crashed with ") + sigabbrev_np(sig) +
                  " (" + strsignal(sig) + ")" + While(t));
  }
  if (!t.haveVerdict) {
    return Broken("the check ended with status " +
                  std::to_string(WEXITSTATUS(status)) + While(t) +
                  " (see any report above)");
  }
  return t.verdict;
}

size_t HeapInUse() {
  if (__sanitizer_get_current_allocated_bytes != nullptr) {
    return __sanitizer_get_current_allocated_bytes();
  }
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

GuardedBytes::GuardedBytes() : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
  void* map = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) throw std::bad_alloc();
  base_ = static_cast<char*>(map);
  mprotect(base_ + page_, page_, PROT_NONE);
}

GuardedBytes::~GuardedBytes() { munmap(base_, 2 * page_); }

const char* GuardedBytes::Place(const std::string& text) {
  char* start = base_ + page_ - text.size();
  std::memcpy(start, text.data(), text.size());
  return start;
}

}  // namespace hostcheck
