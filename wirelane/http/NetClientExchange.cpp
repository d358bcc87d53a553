// NetClient: the whole exchange for a URL, with redirects and Basic/Digest authentication.
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "common/NoCase.h"
#include "sealvault/Debug.h"
#include "wirelane/http/DigestAuth.h"
#include "wirelane/http/NetClient.h"

namespace {

constexpr int kMaxRequests = 5;     // redirects: five requests in all
constexpr int kMaxAuthRetries = 3;  // a server that keeps answering 401 is not asked forever

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         corvane::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// Only a real scheme makes a URL absolute: "httpbin.test/x" is a host name.
bool IsAbsolute(std::string_view url) {
  return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

std::string OriginOf(const URL& url) {
  return std::string(url.GetHost() != nullptr ? url.GetHost() : "") + ":" +
         std::to_string(url.GetPort());
}

// "name=value" pairs of a challenge; a quoted value runs to its closing quote,
// so realms such as "Restricted Area" keep their blanks and commas.
std::map<std::string, std::string, corvane::NoCaseLess> ChallengeParameters(std::string_view text) {
  std::map<std::string, std::string, corvane::NoCaseLess> parameters;
  size_t at = 0;
  while (at < text.size()) {
    at = text.find_first_not_of(" ,\t", at);
    if (at == std::string_view::npos) break;
    const size_t equals = text.find('=', at);
    if (equals == std::string_view::npos) break;
    std::string name(text.substr(at, equals - at));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    at = equals + 1;
    std::string value;
    if (at < text.size() && text[at] == '"') {
      const size_t close = text.find('"', at + 1);
      value = std::string(
          text.substr(at + 1, (close == std::string_view::npos ? text.size() : close) - at - 1));
      at = close == std::string_view::npos ? text.size() : close + 1;
    } else {
      const size_t end = std::min(text.find_first_of(", \t", at), text.size());
      value = std::string(text.substr(at, end - at));
      at = end;
    }
    parameters[name] = value;
  }
  return parameters;
}

}  // namespace

std::string NetClient::RequestPath(const char* url, URL& target, bool first_pass) {
  const std::string_view text(url);
  if (IsAbsolute(text)) {
    target.Parse(url);
    return m_szProxyHost ? std::string(url) : std::string(target.GetFileAndParam());
  }
  if (first_pass) {
    target.Parse(("http://" + std::string(text)).c_str());
    return m_szProxyHost ? std::string("http://") + url : std::string(target.GetFileAndParam());
  }
  // A relative target left over: resolved against the current URL's directory.
  if (!text.empty() && text.front() == '/') return std::string(text);
  const char* directory = target.GetDirectory();
  return std::string(directory != nullptr ? directory : "") + "/" + std::string(text);
}

// The next URL of a redirect response, resolved against the current one
// (its scheme, host and port), or empty without a usable Location.
std::string NetClient::RedirectTarget(URL& current) {
  const char* location = m_pResponse->GetHeader("Location");
  if (location == nullptr || *location == '\0') return {};
  std::string target = location;
  const size_t comma = target.find(", ");
  if (comma != std::string::npos && comma + 2 < target.size()) {
    target = target.substr(target.find_first_not_of(" ,", comma));
    const size_t escaped = target.find("%2C");
    if (escaped != std::string::npos) target.resize(escaped);
    return IsAbsolute(target) ? target : "http://" + target;
  }
  const size_t first = target.find_first_not_of('.');
  target = first == std::string::npos ? std::string() : target.substr(first);
  if (IsAbsolute(target)) return target;
  std::string resolved = current.GetProtocolHost();
  if (target.empty() || target.front() != '/') {
    const char* directory = current.GetDirectory();
    resolved += directory != nullptr ? directory : "";
    resolved += '/';
  }
  return resolved + target;
}

void NetClient::TakeRedirectCookies() {
  KVMapImp<StringMap>* fields = m_pResponse->GetHeader();
  if (fields == nullptr) return;
  for (unsigned i = 0; i < fields->GetCount(); ++i) {
    const char* name = fields->GetKey(i);
    const char* value = fields->Get(i);
    if (name == nullptr || value == nullptr || !corvane::EqualsNoCase(name, "Set-Cookie")) continue;
    const std::string field = value;
    const size_t equals = field.find('=');
    if (equals == std::string::npos) continue;
    const size_t end = field.find(';', equals);
    SetCookie(
        field.substr(0, equals).c_str(),
        field.substr(equals + 1, end == std::string::npos ? std::string::npos : end - equals - 1)
            .c_str());
  }
}

// Credentials and cookies belong to the server that asked for them; they
// are not carried to another host or port.
void NetClient::ForgetCredentialsFor(const URL& from, const URL& to) {
  if (OriginOf(from) == OriginOf(to) &&
      corvane::EqualsNoCase(from.GetProtocol() ? from.GetProtocol() : "",
                            to.GetProtocol() ? to.GetProtocol() : ""))
    return;
  AddHeader("Authorization", static_cast<const char*>(nullptr));
  AddHeader("Cookie", static_cast<const char*>(nullptr));
  GetRequest()->ClearCookie();
}

int NetClient::SendRequest(const char* method, const char* url) {
  if (method == nullptr || url == nullptr || *url == '\0') return -1;
  URL target;
  std::string current_method = method;
  std::string next = url;
  int result = -1;
  int requests = 0;
  int auth_retries = 0;
  std::string first_origin;
  for (;;) {
    const URL previous = target;
    // Until a redirect is followed, url is the caller's (a bare "host/x" too,
    // also when a challenge sends it again).
    const std::string path = RequestPath(next.c_str(), target, requests == 0);
    if (requests == 0)
      first_origin = OriginOf(target);
    else
      ForgetCredentialsFor(previous, target);
    const bool secure =
        target.GetProtocol() != nullptr && corvane::EqualsNoCase(target.GetProtocol(), "https");
    result = SendRequest(current_method.c_str(), path.c_str(), target.GetHost(), target.GetPort(),
                         secure);
    if (result < 0 || !m_pResponse) break;
    const char* status_text = m_pResponse->GetHeader("HTTPStatus");
    const int status = status_text != nullptr ? std::atoi(status_text) : 0;
    if (status == 401) {
      // The user's credentials answer only the server the caller named.
      if (++auth_retries > kMaxAuthRetries || OriginOf(target) != first_origin ||
          !AddAuthHeader(m_pResponse->GetHeader("WWW-Authenticate"), current_method.c_str(),
                         path.c_str()))
        break;
      continue;  // an answered challenge is not a redirect
    }
    ++requests;
    if (status < 300 || status > 399 || status == 304 || requests >= kMaxRequests) break;
    next = RedirectTarget(target);
    if (next.empty()) break;
    m_szRedirectURL = next;
    current_method = "GET";
    TakeRedirectCookies();
    AddHeader("Content-type", static_cast<const char*>(nullptr));
    AddHeader("Content-length", static_cast<const char*>(nullptr));
    GetRequest()->ClearBody();
  }
  GetRequest()->Clear();
  return result;
}

bool NetClient::AddAuthHeader(const char* challenge, const char* method, const char* path) {
  Debug debug("NetClient::AddAuthHeader");
  if (challenge == nullptr) return false;
  const std::string_view text(challenge);
  if (StartsWithNoCase(text, "Basic ")) {
    if (m_strUser.empty()) {
      debug.logerror("NetClient", __LINE__,
                     "NetClient::AddAuthHeader - Auth required but no credential is available.\n");
      return false;
    }
    AddHeader("Authorization", BasicCredentials(m_strUser, m_strPassword).c_str());
    return true;
  }
  if (StartsWithNoCase(text, "Digest ")) {
    const auto parameters = ChallengeParameters(text.substr(7));
    auto parameter = [&](const char* name) -> const char* {
      const auto found = parameters.find(name);
      return found != parameters.end() ? found->second.c_str() : nullptr;
    };
    DigestAuth auth(parameter("realm"), parameter("algorithm"));
    const char* header = DigestAuth::BuildDigestHeader(
        method, auth, m_strUser.empty() ? nullptr : m_strUser.c_str(),
        m_strPassword.empty() ? nullptr : m_strPassword.c_str(), parameter("nonce"), path);
    if (header == nullptr) {
      debug.logerror("NetClient", __LINE__,
                     "Error building digest header, possibly missing credential info. "
                     "Authentication failed.\n");
      return false;
    }
    AddHeader("Authorization", header);
    return true;
  }
  debug.print("Unknown auth scheme : %s\n", challenge);
  return false;
}
