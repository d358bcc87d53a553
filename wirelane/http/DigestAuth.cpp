// DigestAuth: RFC 2617 digest computation over OpenSSL's MD5 and the Authorization field text.
#include "wirelane/http/DigestAuth.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <array>
#include <string_view>

#include "common/NoCase.h"
#include "common/SystemFunctions.h"
#include "sealvault/Debug.h"

namespace {

constexpr const char* kNonceCount = "00000001";
// Longest realm taken from the host name, as the platform's computer names are.
constexpr size_t kComputerNameLength = 15;

using Md5Bytes = std::array<unsigned char, 16>;

// MD5 of the pieces written one after another (no separators added).
Md5Bytes Md5(std::initializer_list<std::string_view> pieces) {
  Md5Bytes digest{};
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  unsigned length = 0;
  bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1;
  for (std::string_view piece : pieces) {
    ok = ok && EVP_DigestUpdate(context, piece.data(), piece.size()) == 1;
  }
  ok = ok && EVP_DigestFinal_ex(context, digest.data(), &length) == 1;
  EVP_MD_CTX_free(context);
  // MD5 is always present in the default provider; a failure here means a
  // broken OpenSSL installation, and a zero digest then fails authentication
  // instead of crashing.
  if (!ok) {
    Debug debug("DigestAuth::Md5");
    debug.logerror("DigestAuth", __LINE__, "MD5 digest could not be computed.\n");
    digest.fill(0);
  }
  return digest;
}

std::string Hex(const Md5Bytes& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (unsigned char byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
  }
  return text;
}

std::string_view Text(const char* text) { return text != nullptr ? text : ""; }

bool Empty(const char* text) { return text == nullptr || *text == '\0'; }

bool BreaksLine(std::string_view text) { return text.find_first_of("\r\n") != text.npos; }

// Appends name="value" with '"' and '\' escaped as RFC 2616 quoted-string asks.
void AppendQuoted(std::string& out, const char* name, std::string_view value) {
  out += name;
  out += "=\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

std::string ComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  std::string text(name);
  if (text.size() > kComputerNameLength) text.resize(kComputerNameLength);
  return text;
}

}  // namespace

DigestAuth::DigestAuth(const char* realm_text, const char* algorithm_text)
    : realm(Empty(realm_text) ? ComputerName() : std::string(realm_text)),
      algorithm(Text(algorithm_text)) {}

DigestAuth::~DigestAuth() = default;

const char* DigestAuth::CalculateHA1(const char* nonce, const char* user, DigestAuth& auth,
                                     const char* algorithm, const char* realm, const char* password,
                                     const char* clientNonce) {
  Md5Bytes digest = Md5({Text(user), ":", Text(realm), ":", Text(password)});
  if (corvane::EqualsNoCase(Text(algorithm), "md5-sess")) {
    // RFC 2617 3.2.2.2: the session key hashes the 16 raw bytes of the first
    // digest, not its hexadecimal text.
    const std::string_view raw(reinterpret_cast<const char*>(digest.data()), digest.size());
    digest = Md5({raw, ":", Text(nonce), ":", Text(clientNonce)});
  }
  auth.HA1 = Hex(digest);
  return auth.HA1.c_str();
}

const char* DigestAuth::CalculateResponse(const char* HA1, const char* nonce, DigestAuth& auth,
                                          const char* clientNonce, const char* method,
                                          const char* uri) {
  const std::string ha2 = Hex(Md5({Text(method), ":", Text(uri)}));
  auth.response = Hex(Md5({Text(HA1), ":", Text(nonce), ":", kNonceCount, ":", Text(clientNonce),
                           ":", auth.qop, ":", ha2}));
  return auth.response.c_str();
}

const char* DigestAuth::BuildDigestHeader(const char* method, DigestAuth& auth, const char* user,
                                          const char* password, const char* nonce,
                                          const char* uri) {
  Debug debug("DigestAuth::BuildDigestHeader");
  if (Empty(method) || Empty(user) || Empty(password) || Empty(nonce)) return nullptr;
  for (std::string_view text : {Text(method), Text(user), Text(nonce), Text(uri),
                                std::string_view(auth.realm), std::string_view(auth.algorithm)}) {
    if (BreaksLine(text)) {
      debug.logerror(
          "DigestAuth", __LINE__,
          "Digest header refused: a credential or challenge value holds a line break.\n");
      return nullptr;
    }
  }

  char clientNonce[16] = {};
  MakeRandomDigits(clientNonce, sizeof clientNonce);
  CalculateHA1(nonce, user, auth, auth.algorithm.c_str(), auth.realm.c_str(), password,
               clientNonce);
  const std::string response =
      CalculateResponse(auth.HA1.c_str(), nonce, auth, clientNonce, method, uri);

  // RFC 2617 3.2.2: qop and nc are tokens, cnonce a quoted string, and the
  // algorithm token repeats the challenge's. Servers refuse other forms.
  std::string header = "Digest ";
  AppendQuoted(header, "username", Text(user));
  header += ", ";
  AppendQuoted(header, "realm", auth.realm);
  header += ", ";
  AppendQuoted(header, "nonce", Text(nonce));
  header += ", ";
  AppendQuoted(header, "uri", Text(uri));
  header += ", ";
  AppendQuoted(header, "response", response);
  if (!auth.algorithm.empty()) header += ", algorithm=" + auth.algorithm;
  header += ", qop=" + auth.qop + ", nc=" + kNonceCount + ", ";
  AppendQuoted(header, "cnonce", clientNonce);
  auth.response = std::move(header);
  return auth.response.c_str();
}
