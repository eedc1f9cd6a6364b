#include "exporter/token_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace exporter {

TokenFile::TokenFile(std::string path) : path_(std::move(path)) {}

bool TokenFile::Lookup(const std::string& target, std::string* token,
                       std::string* error) {
  token->clear();
  if (path_.empty()) return true;
  std::lock_guard<std::mutex> lock(mu_);
  if (!Refresh(error)) return false;
  if (!everyTarget_.empty()) {
    *token = everyTarget_;
    return true;
  }
  const auto it = perTarget_.find(target);
  if (it == perTarget_.end()) {
    *error = "token file " + path_ + " has no token for " + target;
    return false;
  }
  *token = it->second;
  return true;
}

bool TokenFile::Refresh(std::string* error) {
  struct stat st;
  if (stat(path_.c_str(), &st) != 0) {
    loaded_ = false;
    *error = "cannot read token file " + path_ + ": " + std::strerror(errno);
    return false;
  }
  if (loaded_ && st.st_size == size_ &&
      st.st_mtim.tv_sec == mtime_.tv_sec &&
      st.st_mtim.tv_nsec == mtime_.tv_nsec) {
    return true;
  }
  std::ifstream in(path_);
  if (!in) {
    loaded_ = false;
    *error = "cannot read token file " + path_ + ": " + std::strerror(errno);
    return false;
  }
  everyTarget_.clear();
  perTarget_.clear();
  std::string line;
  int words = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string first, second, extra;
    if (!(fields >> first) || first[0] == '#') continue;
    if (fields >> second) {
      if (fields >> extra) {
        loaded_ = false;
        *error = "token file " + path_ + ": a line has more than two words";
        return false;
      }
      perTarget_[first] = second;
    } else {
      everyTarget_ = first;
    }
    ++words;
  }
  if (!everyTarget_.empty() && words != 1) {
    loaded_ = false;
    *error = "token file " + path_ +
             ": either one token or lines HOST:PORT TOKEN, not both";
    return false;
  }
  loaded_ = true;
  size_ = st.st_size;
  mtime_ = st.st_mtim;
  return true;
}

}  // namespace exporter
