#include "exporter/credentials.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "client/host_port.h"
#include "exporter/prober.h"

namespace exporter {

namespace {

constexpr char kPatternForms[] =
    "HOST:PORT, A.B.C.D/N:PORT, [V6ADDR]/N:PORT, *.SUFFIX:PORT or *";
constexpr char kBareWord[] =
    "one word alone, the old form of one token for every target, is no "
    "longer read: write \"* TOKEN\" to send that token to every target, or "
    "\"HOST:PORT TOKEN\" a line";
constexpr mode_t kOtherBits = S_IRWXO;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Splits HOST:PORT; the port 0 when the text is no HOST:PORT.
void SplitTarget(const std::string& target, std::string* host, int* port) {
  if (!acl_client::SplitHostPort(target, host, port)) *port = 0;
}

// The address of an IP literal host ("A.B.C.D" or "[V6]"): its family, or
// 0 when `host` is a name.
int ParseIp(const std::string& host, unsigned char addr[16]) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    const std::string inner = host.substr(1, host.size() - 2);
    return inet_pton(AF_INET6, inner.c_str(), addr) == 1 ? AF_INET6 : 0;
  }
  return inet_pton(AF_INET, host.c_str(), addr) == 1 ? AF_INET : 0;
}

bool IsName(const std::string& text) {
  return !text.empty() && text.front() != '.' && text.back() != '.' &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '.' ||
                  c == '-' || c == '_';
         });
}

bool IsTokenText(const std::string& token) {
  return std::all_of(token.begin(), token.end(),
                     [](char c) { return c > ' ' && c < 0x7f; });
}

}  // namespace

std::string CanonicalTarget(const std::string& target) {
  std::string host;
  int port = 0;
  SplitTarget(target, &host, &port);
  unsigned char addr[16];
  const int family = ParseIp(host, addr);
  if (family != 0) {
    char text[INET6_ADDRSTRLEN];
    inet_ntop(family, addr, text, sizeof text);
    host = family == AF_INET6 ? "[" + std::string(text) + "]" : text;
  }
  return Lower(host) + ":" + std::to_string(port);
}

bool TargetPattern::Parse(const std::string& text, TargetPattern* pattern,
                          std::string* error) {
  *pattern = TargetPattern();
  if (text == "*") return true;
  std::string host;
  SplitTarget(text, &host, &pattern->port_);
  const std::string bad = "\"" + text + "\" is not a target pattern (" +
                          kPatternForms + ")";
  if (pattern->port_ == 0) {
    *error = bad + ": no port from 1 to 65535";
    return false;
  }
  if (host.rfind("*.", 0) == 0) {
    if (!IsName(host.substr(2))) {
      *error = bad;
      return false;
    }
    pattern->kind_ = kSuffix;
    pattern->host_ = Lower(host.substr(1));
    return true;
  }
  const size_t slash = host.find('/');
  if (slash != std::string::npos) {
    const std::string bits = host.substr(slash + 1);
    pattern->family_ = ParseIp(host.substr(0, slash), pattern->addr_);
    const int most = pattern->family_ == AF_INET6 ? 128 : 32;
    char* end = nullptr;
    const long prefix = std::strtol(bits.c_str(), &end, 10);
    if (pattern->family_ == 0 || bits.empty() || *end != '\0' ||
        !std::isdigit(static_cast<unsigned char>(bits[0])) || prefix > most) {
      *error = bad;
      return false;
    }
    pattern->kind_ = kNetwork;
    pattern->prefix_ = static_cast<int>(prefix);
    return true;
  }
  if (!IsHostPort(text)) {
    *error = bad;
    return false;
  }
  pattern->kind_ = kExact;
  pattern->host_ = CanonicalTarget(text);
  return true;
}

bool TargetPattern::Matches(const std::string& target) const {
  if (kind_ == kAny) return true;
  if (kind_ == kExact) return CanonicalTarget(target) == host_;
  std::string host;
  int port = 0;
  SplitTarget(target, &host, &port);
  if (port != port_) return false;
  unsigned char addr[16];
  const int family = ParseIp(host, addr);
  if (kind_ == kSuffix) {
    const std::string name = Lower(host);
    return family == 0 && name.size() > host_.size() &&
           name.compare(name.size() - host_.size(), host_.size(), host_) == 0;
  }
  if (family != family_) return false;
  const int whole = prefix_ / 8;
  const int rest = prefix_ % 8;
  if (std::memcmp(addr, addr_, static_cast<size_t>(whole)) != 0) return false;
  const unsigned mask = (0xff00u >> rest) & 0xffu;
  return rest == 0 || ((addr[whole] ^ addr_[whole]) & mask) == 0;
}

bool TargetPatterns::Add(const TargetPattern& pattern, size_t value) {
  if (pattern.exact()) return exact_.emplace(pattern.key(), value).second;
  others_.emplace_back(pattern, value);
  return true;
}

long TargetPatterns::Find(const std::string& target) const {
  const auto it = exact_.find(CanonicalTarget(target));
  if (it != exact_.end()) return static_cast<long>(it->second);
  for (const auto& [pattern, value] : others_) {
    if (pattern.Matches(target)) return static_cast<long>(value);
  }
  return -1;
}

namespace {

bool ReadAll(int fd, std::string* text) {
  text->clear();
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text->append(buffer, static_cast<size_t>(n));
    if (text->size() > Credentials::kMaxFileBytes) {
      errno = EFBIG;
      return false;
    }
  }
}

// ReadFile, and with `info` ReadPrivateFile.
bool ReadChecked(const std::string& path, std::string* text,
                 struct stat* info) {
  if (info != nullptr) *info = {};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok;
  if (info != nullptr && fstat(fd, info) != 0) {
    *info = {};
    ok = false;
  } else if (info != nullptr &&
             (!S_ISREG(info->st_mode) || (info->st_mode & kOtherBits) != 0)) {
    errno = 0;
    ok = false;
  } else {
    ok = ReadAll(fd, text);
  }
  const int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

}  // namespace

bool ReadFile(const std::string& path, std::string* text) {
  return ReadChecked(path, text, nullptr);
}

bool ReadPrivateFile(const std::string& path, std::string* text,
                     struct stat* info) {
  return ReadChecked(path, text, info);
}

std::unique_ptr<const Credentials> Credentials::Load(const std::string& path,
                                                     std::string* error) {
  const std::string file = "token file " + path;
  struct stat st;
  std::string text;
  const bool ok = ReadPrivateFile(path, &text, &st);
  const int readErrno = errno;
  if (S_ISREG(st.st_mode) && (st.st_mode & kOtherBits) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "0%03o",
                  static_cast<unsigned>(st.st_mode & 0777));
    *error = file + " is " +
             ((st.st_mode & S_IROTH) ? "readable" : "writable") +
             " by other users (mode " + mode + "): chmod 600 " + path +
             ", or 640 with the exporter's group";
    return nullptr;
  }
  if (!ok) {
    *error = "cannot read " + file + ": " +
             (st.st_mode != 0 && !S_ISREG(st.st_mode)
                  ? "not a regular file"
                  : std::strerror(readErrno));
    return nullptr;
  }
  std::unique_ptr<Credentials> credentials(new Credentials());
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    std::istringstream fields(line);
    std::string pattern, token, extra;
    if (!(fields >> pattern) || pattern[0] == '#') continue;
    const std::string where = file + " line " + std::to_string(number) + ": ";
    if (!(fields >> token)) {
      *error = where + kBareWord;
      return nullptr;
    }
    if (fields >> extra) {
      *error = where + "more words than PATTERN TOKEN";
      return nullptr;
    }
    if (!IsTokenText(token)) {
      *error = where + "the token has a character gRPC metadata cannot carry";
      return nullptr;
    }
    TargetPattern parsed;
    std::string why;
    if (!TargetPattern::Parse(pattern, &parsed, &why)) {
      *error = where + why;
      return nullptr;
    }
    if (!credentials->patterns_.Add(parsed, credentials->tokens_.size())) {
      *error = where + pattern + " repeats an earlier line";
      return nullptr;
    }
    credentials->tokens_.push_back(token);
  }
  return credentials;
}

const std::string* Credentials::Find(const std::string& target) const {
  const long i = patterns_.Find(target);
  return i < 0 ? nullptr : &tokens_[static_cast<size_t>(i)];
}

}  // namespace exporter
