// CertificateStore: certificate name resolution over the file system and the environment.
#include "platform/CertificateStore.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace corvane::platform {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

bool IsRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

bool HoldsPrivateKey(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Matches "PRIVATE KEY", "RSA PRIVATE KEY", "EC PRIVATE KEY", "ENCRYPTED PRIVATE KEY".
  return text.find("PRIVATE KEY-----") != std::string::npos;
}

}  // namespace

std::string CertificateStore::Directory() {
  if (std::string dir = Environment("CORVANE_CERTS"); !dir.empty()) return dir;
  if (std::string config = Environment("XDG_CONFIG_HOME"); !config.empty())
    return config + "/corvane/certs";
  if (std::string home = Environment("HOME"); !home.empty()) return home + "/.config/corvane/certs";
  return {};
}

std::optional<CertificateFiles> CertificateStore::Resolve(std::string_view name) {
  if (name.empty()) return std::nullopt;
  std::filesystem::path certificate(name);
  if (!IsRegularFile(certificate)) {
    const std::string dir = Directory();
    if (dir.empty()) return std::nullopt;
    certificate = std::filesystem::path(dir) / (std::string(name) + ".pem");
    if (!IsRegularFile(certificate)) return std::nullopt;
  }
  if (HoldsPrivateKey(certificate))
    return CertificateFiles{certificate.string(), certificate.string()};
  std::filesystem::path key = certificate;
  if (key.extension() == ".pem")
    key.replace_extension(".key");
  else
    key += ".key";
  if (!IsRegularFile(key)) return std::nullopt;
  return CertificateFiles{certificate.string(), key.string()};
}

}  // namespace corvane::platform
