// WebConfig: TLS and basic authentication of the exporter's HTTP side, read
// from --web.config.file in the standard exporter web configuration format
// (YAML):
//
//   tls_server_config:
//     cert_file, key_file          the server's PEM certificate chain and key
//     client_ca_file               CAs of client certificates
//     client_auth_type             NoClientCert, RequestClientCert,
//                                  RequireAnyClientCert,
//                                  VerifyClientCertIfGiven,
//                                  RequireAndVerifyClientCert
//     min_version, max_version     TLS10..TLS13 (default TLS12..TLS13)
//     prefer_server_cipher_suites  accepted, ignored
//   basic_auth_users: {USER: BCRYPT_HASH}
//   http_server_config: {http2: BOOL}   accepted, ignored (HTTP/1.1 only)
//
// Relative file names are taken from the web config file's directory.
// Every file is read and checked at load (PEM parsed, key against
// certificate, hashes' form), so a bad one fails the load with the key
// and the reason named. The keys cert, key, cipher_suites,
// curve_preferences, client_allowed_sans and http_server_config.headers
// are refused as unsupported; any other key as unknown.
//
// Passwords are checked with libxcrypt's bcrypt; an unknown user is
// checked against a dummy hash of the same cost, so that it takes as long
// to refuse as a wrong password. Successful checks are cached (a bounded
// set of SHA-256 digests of user and password) so bcrypt's cost is paid
// once, not per scrape.
//
// Immutable once loaded but for the cache (behind a mutex): thread-safe.

#ifndef ACL_EXPORTER_WEB_CONFIG_H_
#define ACL_EXPORTER_WEB_CONFIG_H_

#include <gnutls/gnutls.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace exporter {

enum class ClientAuth {
  kNone,               // NoClientCert
  kRequest,            // RequestClientCert: asked for, not checked
  kRequireAny,         // RequireAnyClientCert: needed, not verified
  kVerifyIfGiven,      // VerifyClientCertIfGiven
  kRequireAndVerify,   // RequireAndVerifyClientCert
};

class WebConfig {
 public:
  static constexpr char kRealm[] = "acl-exporter";
  static constexpr size_t kMaxCachedLogins = 256;

  // Reads `path`; an empty path gives plain HTTP without authentication.
  // Returns nullptr with `*error` set when the file or a file it names is
  // bad.
  static std::unique_ptr<const WebConfig> Load(const std::string& path,
                                               std::string* error);

  bool tls() const { return !certPem_.empty(); }
  // The PEM texts and GnuTLS priority string of the TLS settings.
  const std::string& certPem() const { return certPem_; }
  const std::string& keyPem() const { return keyPem_; }
  const std::string& caPem() const { return caPem_; }
  const std::string& priorities() const { return priorities_; }
  ClientAuth clientAuth() const { return clientAuth_; }

  bool authRequired() const { return !users_.empty(); }
  // Whether `user` with `password` is one of basic_auth_users.
  bool CheckUser(const std::string& user, const std::string& password) const;

  // Whether the TLS session's client certificate satisfies
  // client_auth_type (verified against client_ca_file where it must be).
  bool CheckClientCert(gnutls_session_t session) const;

  // The files this configuration was read from (itself and those it names).
  const std::vector<std::string>& files() const { return files_; }

 private:
  WebConfig() = default;

  std::string certPem_, keyPem_, caPem_, priorities_;
  ClientAuth clientAuth_ = ClientAuth::kNone;
  std::map<std::string, std::string> users_;  // user -> bcrypt hash
  std::string dummyHash_;                      // for unknown users
  std::vector<std::string> files_;

  mutable std::mutex mu_;
  mutable std::set<std::string> logins_;  // digests of good user+password
};

}  // namespace exporter

#endif  // ACL_EXPORTER_WEB_CONFIG_H_
