#include "exporter/reloader.h"

#include <sys/stat.h>

#include <cstdio>

namespace exporter {

bool Reloader::Load(Settings* settings, std::vector<std::string>* errors) {
  std::string error;
  files_.clear();
  if (!paths_.tokenFile.empty()) {
    settings->credentials = Credentials::Load(paths_.tokenFile, &error);
    if (!settings->credentials) errors->push_back(error);
    files_.push_back(paths_.tokenFile);
  }
  settings->config = ExporterConfig::Load(paths_.configFile, &error);
  if (!settings->config) errors->push_back(error);
  if (!paths_.configFile.empty()) files_.push_back(paths_.configFile);
  settings->web = WebConfig::Load(paths_.webConfigFile, &error);
  if (!settings->web) {
    errors->push_back(error);
    if (!paths_.webConfigFile.empty()) files_.push_back(paths_.webConfigFile);
  } else {
    files_.insert(files_.end(), settings->web->files().begin(),
                  settings->web->files().end());
  }
  stamps_ = StampsOf(files_);
  return errors->empty();
}

bool Reloader::Reload(std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  return ReloadLocked(error);
}

void Reloader::ReloadIfChanged() {
  std::lock_guard<std::mutex> lock(mu_);
  std::string error;
  if (StampsOf(files_) != stamps_) ReloadLocked(&error);
}

bool Reloader::ReloadLocked(std::string* error) {
  Settings settings;
  std::vector<std::string> errors;
  bool ok = Load(&settings, &errors) && server_->Apply(settings, error);
  for (const std::string& line : errors) {
    *error += (error->empty() ? "" : "; ") + line;
  }
  if (!ok) {
    std::fprintf(stderr, "acl-exporter: reload failed, the old files stay in "
                 "use: %s\n", error->c_str());
  }
  server_->ReloadDone(ok);
  return ok;
}

std::vector<Reloader::Stamp> Reloader::StampsOf(
    const std::vector<std::string>& files) const {
  std::vector<Stamp> stamps;
  for (const std::string& file : files) {
    struct stat st;
    const bool exists = stat(file.c_str(), &st) == 0;
    stamps.push_back({exists, exists ? st.st_size : 0, exists ? st.st_ino : 0,
                      exists ? st.st_mtim : timespec{}});
  }
  return stamps;
}

}  // namespace exporter
