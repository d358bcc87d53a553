// DigestAuth: builds the value of an HTTP Digest "Authorization" field (RFC 2617, qop "auth").
#pragma once

#include <string>

#include "wirelane/WirelaneExport.h"

// Answers a "WWW-Authenticate: Digest ..." challenge. The HTTP client makes
// one DigestAuth from the challenge's realm and algorithm and asks
// BuildDigestHeader for the field value; the object holds every text it hands
// out, which stays valid while the object lives and until the next call that
// writes the same member.
//
// The response is computed as RFC 2617 section 3.2.2 describes for qop "auth"
// with MD5 or MD5-sess, a fresh 15-digit client nonce per header and the nonce
// count "00000001". The field is written the RFC 2617 way:
//   Digest username="u", realm="r", nonce="n", uri="/p", response="...",
//   algorithm=MD5, qop=auth, nc=00000001, cnonce="123456789012345"
// (algorithm as the challenge named it, left out when it named none).
//
// Not thread-safe per object; separate objects may be used concurrently.
class WIRELANE_API DigestAuth {
 public:
  // realm: the challenge's realm; null or empty means the local host name (at
  // most 15 characters). algorithm: the challenge's "algorithm" parameter;
  // null or empty means plain MD5. Both are copied.
  DigestAuth(const char* realm, const char* algorithm);
  virtual ~DigestAuth();

  // Builds the Authorization value for a request of method on uri (the
  // request target that was sent: a path, or the absolute URL for a proxy).
  // Returns the text, owned by auth (its response member), or null when
  // method, user, password or nonce is null or empty, or when a text holds a
  // CR or LF, which would break the field out of its line (logged). A '"' or
  // '\' inside a quoted value is escaped with '\' (RFC 2616 quoted-string).
  static const char* BuildDigestHeader(const char* method, DigestAuth& auth, const char* user,
                                       const char* password, const char* nonce, const char* uri);

  // First step: HA1 = MD5(user ":" realm ":" password), or for algorithm
  // "md5-sess" (any case) MD5 of the 16 raw bytes of that digest ":" nonce ":"
  // clientNonce. Returns 32 lower-case hexadecimal characters held in auth
  // (its HA1 member). Null texts count as empty.
  static const char* CalculateHA1(const char* nonce, const char* user, DigestAuth& auth,
                                  const char* algorithm, const char* realm, const char* password,
                                  const char* clientNonce);

  // Second step: MD5(HA1 ":" nonce ":" "00000001" ":" clientNonce ":" qop ":"
  // HA2) with HA2 = MD5(method ":" uri) and qop "auth". Returns 32 lower-case
  // hexadecimal characters held in auth (its response member). Null texts
  // count as empty.
  static const char* CalculateResponse(const char* HA1, const char* nonce, DigestAuth& auth,
                                       const char* clientNonce, const char* method,
                                       const char* uri);

  const std::string& GetRealm() const { return realm; }
  const std::string& GetAlgorithm() const { return algorithm; }

 protected:
  std::string realm;
  std::string algorithm;
  std::string qop = "auth";
  std::string response;
  std::string HA1;
};
