#include "exporter/web_config.h"

#include <crypt.h>
#include <gnutls/crypto.h>
#include <gnutls/x509.h>

#include <cerrno>
#include <cstring>
#include <regex>

#include "exporter/credentials.h"
#include "exporter/exporter_config.h"

namespace exporter {

namespace {

constexpr const char* kTopKeys[] = {"tls_server_config", "basic_auth_users",
                                    "http_server_config", nullptr};
constexpr const char* kTlsKeys[] = {
    "cert_file",   "key_file",    "client_ca_file",
    "client_auth_type", "min_version", "max_version",
    "prefer_server_cipher_suites",  // ignored: GnuTLS's order
    "cert", "key", "cipher_suites", "curve_preferences",
    "client_allowed_sans", nullptr};
constexpr const char* kUnsupportedTlsKeys[] = {
    "cert", "key", "cipher_suites", "curve_preferences",
    "client_allowed_sans", nullptr};
constexpr const char* kHttpKeys[] = {"http2", "headers", nullptr};

struct ClientAuthName {
  const char* name;
  ClientAuth type;
  bool needsCa;
};
constexpr ClientAuthName kClientAuths[] = {
    {"NoClientCert",               ClientAuth::kNone,             false},
    {"RequestClientCert",          ClientAuth::kRequest,          true},
    {"RequireAnyClientCert",       ClientAuth::kRequireAny,       true},
    {"VerifyClientCertIfGiven",    ClientAuth::kVerifyIfGiven,    true},
    {"RequireAndVerifyClientCert", ClientAuth::kRequireAndVerify, true},
};

// TLS versions in order, with their GnuTLS priority names.
constexpr const char* kVersions[][2] = {
    {"TLS10", "VERS-TLS1.0"},
    {"TLS11", "VERS-TLS1.1"},
    {"TLS12", "VERS-TLS1.2"},
    {"TLS13", "VERS-TLS1.3"},
};
constexpr int kVersionCount = sizeof kVersions / sizeof kVersions[0];
constexpr int kDefaultMinVersion = 2;  // TLS12
constexpr char kPriorityBase[] = "NORMAL:-VERS-ALL";
constexpr char kBcryptPrefix[] = "$2b$";
constexpr char kDummyPassword[] = "acl-exporter-no-such-user";


std::string InDirOf(const std::string& config, const std::string& file) {
  if (file.empty() || file[0] == '/') return file;
  const size_t slash = config.rfind('/');
  return slash == std::string::npos ? file : config.substr(0, slash + 1) + file;
}

gnutls_datum_t Datum(const std::string& text) {
  return {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
          static_cast<unsigned>(text.size())};
}

// The number of PEM certificates in `pem`, or a negative GnuTLS error.
int CountCerts(const std::string& pem) {
  gnutls_x509_crt_t* certs = nullptr;
  unsigned count = 0;
  const gnutls_datum_t data = Datum(pem);
  const int rc = gnutls_x509_crt_list_import2(&certs, &count, &data,
                                              GNUTLS_X509_FMT_PEM, 0);
  if (rc < 0) return rc;
  for (unsigned i = 0; i < count; ++i) gnutls_x509_crt_deinit(certs[i]);
  gnutls_free(certs);
  return static_cast<int>(count);
}

// Checks that `keyPem` is a private key and the key of `certPem`.
std::string CheckKeyPair(const std::string& certPem, const std::string& keyPem) {
  gnutls_x509_privkey_t key;
  gnutls_x509_privkey_init(&key);
  const gnutls_datum_t keyData = Datum(keyPem);
  const int parsed = gnutls_x509_privkey_import2(key, &keyData,
                                                 GNUTLS_X509_FMT_PEM, nullptr, 0);
  gnutls_x509_privkey_deinit(key);
  if (parsed < 0) {
    return std::string("not a PEM private key (") + gnutls_strerror(parsed) +
           ")";
  }
  gnutls_certificate_credentials_t credentials;
  gnutls_certificate_allocate_credentials(&credentials);
  const gnutls_datum_t certData = Datum(certPem);
  const int rc = gnutls_certificate_set_x509_key_mem2(
      credentials, &certData, &keyData, GNUTLS_X509_FMT_PEM, nullptr, 0);
  gnutls_certificate_free_credentials(credentials);
  if (rc == GNUTLS_E_CERTIFICATE_KEY_MISMATCH) {
    return "does not match the certificate of cert_file";
  }
  return rc < 0 ? std::string(gnutls_strerror(rc)) : "";
}

bool IsBcrypt(const std::string& hash) {
  static const std::regex kForm(R"(\$2[aby]\$(0[4-9]|[12][0-9]|3[01])\$[./A-Za-z0-9]{53})");
  return std::regex_match(hash, kForm) && crypt_checksalt(hash.c_str()) !=
                                              CRYPT_SALT_INVALID;
}

// bcrypt of `password` with the setting (or hash) `setting`.
std::string Bcrypt(const std::string& password, const std::string& setting) {
  auto data = std::make_unique<crypt_data>();
  const char* out = crypt_rn(password.c_str(), setting.c_str(), data.get(),
                             sizeof(crypt_data));
  return out == nullptr ? std::string() : std::string(out);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= a[i] ^ b[i];
  return diff == 0;
}

std::string Digest(const std::string& user, const std::string& password) {
  const std::string both = user + '\0' + password;
  unsigned char digest[32];
  gnutls_hash_fast(GNUTLS_DIG_SHA256, both.data(), both.size(), digest);
  return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

int VersionIndex(const std::string& name) {
  for (int i = 0; i < kVersionCount; ++i) {
    if (name == kVersions[i][0]) return i;
  }
  return -1;
}

}  // namespace

std::unique_ptr<const WebConfig> WebConfig::Load(const std::string& path,
                                                 std::string* error) {
  std::unique_ptr<WebConfig> config(new WebConfig());
  if (path.empty()) return config;
  config->files_.push_back(path);
  YAML::Node root;
  if (!LoadYaml("web config", path, &root, error)) return nullptr;
  const std::string file = "web config " + path + ": ";
  auto fail = [&](const std::string& why) {
    *error = file + why;
    return nullptr;
  };
  try {
    if (root.IsNull()) return config;
    if (!KnownKeys(root, "", kTopKeys, error)) return fail(*error);
    if (const YAML::Node http = root["http_server_config"]) {
      if (!KnownKeys(http, "http_server_config", kHttpKeys, error)) {
        return fail(*error);
      }
      if (http["headers"]) {
        return fail(YamlLine(http["headers"]) +
                    "http_server_config.headers is not supported");
      }
    }
    if (const YAML::Node tls = root["tls_server_config"]) {
      if (!KnownKeys(tls, "tls_server_config", kTlsKeys, error)) {
        return fail(*error);
      }
      for (const char* const* key = kUnsupportedTlsKeys; *key; ++key) {
        if (tls[*key]) {
          return fail(YamlLine(tls[*key]) + "tls_server_config." + *key +
                      " is not supported (cert_file and key_file are; the "
                      "ciphers are GnuTLS's for the version range)");
        }
      }
      auto text = [&](const char* key) {
        return tls[key] ? tls[key].as<std::string>() : std::string();
      };
      // Each file: read, its place in files_, and its own check.
      auto pem = [&](const char* key, std::string* out) -> std::string {
        const std::string name = InDirOf(path, text(key));
        config->files_.push_back(name);
        if (!ReadFile(name, out)) {
          return "tls_server_config." + std::string(key) + " " + name +
                 ": " + std::strerror(errno);
        }
        return "";
      };
      if (text("cert_file").empty() || text("key_file").empty()) {
        return fail(YamlLine(tls) +
                    "tls_server_config needs cert_file and key_file");
      }
      std::string why = pem("cert_file", &config->certPem_);
      if (why.empty()) why = pem("key_file", &config->keyPem_);
      if (!why.empty()) return fail(why);
      const int certs = CountCerts(config->certPem_);
      if (certs <= 0) {
        return fail("tls_server_config.cert_file " + text("cert_file") +
                    ": no PEM certificate" +
                    (certs < 0 ? std::string(" (") + gnutls_strerror(certs) + ")"
                               : std::string()));
      }
      why = CheckKeyPair(config->certPem_, config->keyPem_);
      if (!why.empty()) {
        return fail("tls_server_config.key_file " + text("key_file") + ": " +
                    why);
      }
      const std::string authName = text("client_auth_type");
      bool needsCa = false;
      bool known = authName.empty();
      for (const ClientAuthName& auth : kClientAuths) {
        if (authName == auth.name) {
          config->clientAuth_ = auth.type;
          needsCa = auth.needsCa;
          known = true;
        }
      }
      if (!known) {
        return fail(YamlLine(tls["client_auth_type"]) +
                    "tls_server_config.client_auth_type: unknown \"" +
                    authName + "\"");
      }
      if (!text("client_ca_file").empty()) {
        if (!needsCa) {
          return fail("tls_server_config.client_ca_file is set but "
                      "client_auth_type is NoClientCert");
        }
        why = pem("client_ca_file", &config->caPem_);
        if (!why.empty()) return fail(why);
        const int cas = CountCerts(config->caPem_);
        if (cas <= 0) {
          return fail("tls_server_config.client_ca_file " +
                      text("client_ca_file") + ": no PEM certificate");
        }
      } else if (needsCa) {
        return fail("tls_server_config.client_auth_type " + authName +
                    " needs client_ca_file");
      }
      int low = kDefaultMinVersion, high = kVersionCount - 1;
      for (auto [key, index] : {std::pair<const char*, int*>{"min_version", &low},
                                {"max_version", &high}}) {
        if (text(key).empty()) continue;
        *index = VersionIndex(text(key));
        if (*index < 0) {
          return fail(YamlLine(tls[key]) + "tls_server_config." + key +
                      ": unknown \"" + text(key) + "\" (TLS10, TLS11, TLS12, "
                      "TLS13)");
        }
      }
      if (low > high) {
        return fail("tls_server_config.min_version is above max_version");
      }
      config->priorities_ = kPriorityBase;
      for (int i = low; i <= high; ++i) {
        config->priorities_ += std::string(":+") + kVersions[i][1];
      }
    }
    if (const YAML::Node users = root["basic_auth_users"]) {
      if (!users.IsMap() && !users.IsNull()) {
        return fail(YamlLine(users) + "basic_auth_users is not a mapping");
      }
      int cost = 4;
      for (const auto& entry : users) {
        const std::string user = entry.first.as<std::string>();
        const std::string hash = entry.second.as<std::string>();
        if (!IsBcrypt(hash)) {
          return fail(YamlLine(entry.second) + "basic_auth_users." + user +
                      ": not a bcrypt hash ($2y$, $2b$ or $2a$, 60 "
                      "characters)");
        }
        cost = std::max(cost, std::atoi(hash.c_str() + 4));
        config->users_[user] = hash;
      }
      if (!config->users_.empty()) {
        char setting[CRYPT_GENSALT_OUTPUT_SIZE];
        crypt_gensalt_rn(kBcryptPrefix, static_cast<unsigned long>(cost),
                         nullptr, 0, setting, sizeof setting);
        config->dummyHash_ = Bcrypt(kDummyPassword, setting);
      }
    }
  } catch (const YAML::Exception& e) {
    return fail(YamlLine(e.mark) + e.msg);
  }
  return config;
}

bool WebConfig::CheckUser(const std::string& user,
                          const std::string& password) const {
  const std::string digest = Digest(user, password);
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (logins_.count(digest) != 0) return true;
  }
  const auto it = users_.find(user);
  const std::string& hash = it == users_.end() ? dummyHash_ : it->second;
  const bool good = SameText(Bcrypt(password, hash), hash) &&
                    it != users_.end();
  if (good) {
    std::lock_guard<std::mutex> lock(mu_);
    if (logins_.size() >= kMaxCachedLogins) logins_.clear();
    logins_.insert(digest);
  }
  return good;
}

bool WebConfig::CheckClientCert(gnutls_session_t session) const {
  if (clientAuth_ == ClientAuth::kNone || clientAuth_ == ClientAuth::kRequest) {
    return true;
  }
  unsigned count = 0;
  const bool given = gnutls_certificate_get_peers(session, &count) != nullptr &&
                     count > 0;
  if (!given) return clientAuth_ == ClientAuth::kVerifyIfGiven;
  if (clientAuth_ == ClientAuth::kRequireAny) return true;
  unsigned status = 0;
  return gnutls_certificate_verify_peers2(session, &status) == 0 &&
         status == 0;
}

}  // namespace exporter
