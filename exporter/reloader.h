// Reloader: reads the exporter's files (token file, --config.file,
// --web.config.file and the certificates it names) into Settings, and
// reads them again on SIGHUP, POST /-/reload, or when one of them changes
// (size, modification time or inode, checked every second by main), so
// tokens and certificates rotate without a restart. A bad new file is not
// applied: the old settings stay, the failure is logged (once per change)
// and acl_exporter_config_last_reload_successful turns 0.
//
// Thread-safe: one reload at a time.

#ifndef ACL_EXPORTER_RELOADER_H_
#define ACL_EXPORTER_RELOADER_H_

#include <sys/types.h>

#include <ctime>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "exporter/http_server.h"

namespace exporter {

struct Paths {
  std::string tokenFile;      // "" for none
  std::string configFile;
  std::string webConfigFile;
};

class Reloader {
 public:
  explicit Reloader(Paths paths) : paths_(std::move(paths)) {}

  // Reads every file into `*settings`; false with `*errors` (one line per
  // bad file) when any is bad.
  bool Load(Settings* settings, std::vector<std::string>* errors);

  // REQUIRES: Load() worked. Later reloads go to `server`.
  void Attach(HttpServer* server) { server_ = server; }

  // Reads every file again and applies them; false with `*error` set.
  bool Reload(std::string* error);
  // Reload() when a file changed since the last (good or bad) read.
  void ReloadIfChanged();

 private:
  struct Stamp {
    bool exists;
    off_t size;
    ino_t inode;
    timespec mtime;

    bool operator==(const Stamp& o) const {
      return std::tie(exists, size, inode, mtime.tv_sec, mtime.tv_nsec) ==
             std::tie(o.exists, o.size, o.inode, o.mtime.tv_sec,
                      o.mtime.tv_nsec);
    }
  };
  std::vector<Stamp> StampsOf(const std::vector<std::string>& files) const;
  bool ReloadLocked(std::string* error);

  const Paths paths_;
  HttpServer* server_ = nullptr;
  std::mutex mu_;
  std::vector<std::string> files_;  // those read last
  std::vector<Stamp> stamps_;       // theirs then
};

}  // namespace exporter

#endif  // ACL_EXPORTER_RELOADER_H_
