// URL parsing and composing.
#include "wirelane/http/URL.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/NoCase.h"
#include "common/TextFunctions.h"
#include "wirelane/http/URLDecode.h"

namespace {

// Searched in this order; "OPTION" (not "OPTIONS") is what the method reads.
constexpr std::array<std::string_view, 6> kMethods = {"GET",    "PUT",    "OPTION",
                                                      "POST",   "DELETE", "TRACE"};

const char* TextOf(const std::optional<std::string>& part) {
  return part ? part->c_str() : nullptr;
}

std::optional<std::string> CopyOf(const char* text) {
  return text != nullptr ? std::optional<std::string>(text) : std::nullopt;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && corvane::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

int DefaultPort(const std::string& scheme) {
  if (corvane::EqualsNoCase(scheme, "http")) return 80;
  if (corvane::EqualsNoCase(scheme, "https")) return 443;
  if (corvane::EqualsNoCase(scheme, "ftp")) return 21;
  return 0;
}

size_t FindFirstOf(const std::string& line, size_t at, const char* stops) {
  const size_t found = line.find_first_of(stops, at);
  return found == std::string::npos ? line.size() : found;
}

}  // namespace

URL::URL(const char* text) : m_pBuffer(std::make_unique<CBuffer>()) {
  if (text != nullptr && *text != '\0') Parse(text);
}

URL::URL(const URL& other) : m_pBuffer(std::make_unique<CBuffer>()) { Clone(other); }

URL& URL::operator=(const URL& other) {
  if (this != &other) Clone(other);
  return *this;
}

URL::~URL() = default;

void URL::Clear() {
  m_szHost.reset();
  m_szParam.reset();
  m_szVersion.reset();
  m_szURL.reset();
  m_szMethod.reset();
  m_szProtocol.reset();
  m_szAction.reset();
  m_szAnchor.reset();
  m_pParams.reset();
  m_pBuffer->Clear();
  m_strFile.clear();
  m_nPort = 0;
}

void URL::Clone(const URL& other) {
  Clear();
  m_strFile = other.m_strFile;
  m_szHost = other.m_szHost;
  m_szParam = other.m_szParam;
  m_szVersion = other.m_szVersion;
  m_szMethod = other.m_szMethod;
  m_szProtocol = other.m_szProtocol;
  *m_pBuffer = *other.m_pBuffer;
  m_szAction = other.m_szAction;
  if (other.m_pParams) m_pParams = std::make_unique<KVMapImp<StringMap>>(*other.m_pParams);
  m_nPort = other.m_nPort;
}

KVMapImp<StringMap>& URL::Params() {
  if (!m_pParams) m_pParams = std::make_unique<KVMapImp<StringMap>>();
  return *m_pParams;
}

int URL::Parse(const char* text) {
  if (text == nullptr || *text == '\0') return -1;
  Clear();
  std::string line(text);

  if (StartsWithNoCase(line, "http/")) {
    ParseStatus(line);
  } else {
    line.resize(ParseVersion(line));
    size_t at = SkipSpaces(line, 0);
    at = SkipSpaces(line, ParseMethod(line, at));
    at = ParseProtocol(line, at);
    ParseFile(line, at);
  }
  m_szURL = line;
  return 0;
}

void URL::ParseStatus(std::string_view line) {
  // "HTTP/1.1" and one separator, then the status number.
  size_t at = line.size() < 9 ? line.size() : 9;
  while (at < line.size() && line[at] == ' ') ++at;
  Params().Set("HTTPStatus", std::atoi(std::string(line.substr(at)).c_str()));
}

// The version is the text from the first "http/" that starts a word to the
// end of the line. Only a word start counts, so a path such as "/proxy/http/x"
// is not mistaken for the version. Returns where the line ends without it.
size_t URL::ParseVersion(std::string& line) {
  for (size_t at = 1; at + 5 <= line.size(); ++at) {
    const char before = line[at - 1];
    if ((before != ' ' && before != '\t') || !StartsWithNoCase(std::string_view(line).substr(at), "http/"))
      continue;
    std::string version = line.substr(at);
    TrimRight(version.data(), "\r\n ");
    m_szVersion = std::string(version.c_str());
    size_t end = at;
    while (end > 0 && line[end - 1] == ' ') --end;
    return end;
  }
  return line.size();
}

size_t URL::ParseMethod(const std::string& line, size_t at) {
  const std::string_view rest = std::string_view(line).substr(at);
  for (std::string_view method : kMethods) {
    if (!StartsWithNoCase(rest, method)) continue;
    m_szMethod = std::string(method);
    // One character after the method is skipped: the blank, or the "S" of "OPTIONS".
    const size_t next = at + method.size();
    return next < line.size() ? next + 1 : next;
  }
  return at;
}

size_t URL::ParseProtocol(std::string& line, size_t at) {
  if (at >= line.size() || line[at] == '/') return at;
  // FindText treats a "://" right after a backslash as escaped (and blanks
  // the backslash); it works on the NUL-terminated line in place.
  char* found = FindText(line.data() + at, "://", true);
  if (found == nullptr) return at;
  const size_t separator = static_cast<size_t>(found - line.data());

  size_t start = at;
  while (start < separator && (line[start] == ' ' || line[start] == '\t')) ++start;
  const size_t colon = line.find(':', start);
  m_szProtocol = line.substr(start, colon - start);
  return ParseHost(line, separator + 3);
}

size_t URL::ParseHost(const std::string& line, size_t at) {
  const size_t end = FindFirstOf(line, at, ":/ ?");
  m_szHost = line.substr(at, end - at);
  if (end < line.size() && line[end] == ':') {
    const size_t port_end = FindFirstOf(line, end + 1, "/ ?");
    m_nPort = std::atoi(line.substr(end + 1, port_end - end - 1).c_str());
    return port_end;
  }
  m_nPort = DefaultPort(*m_szProtocol);
  return end;
}

size_t URL::ParseFile(const std::string& line, size_t at) {
  if (at >= line.size() || line[at] != '/') {
    m_strFile += '/';
  } else {
    size_t segment = at + 1;
    while (segment < line.size() && (line[segment] == ' ' || line[segment] == '\t')) ++segment;
    m_szAction = line.substr(segment, FindFirstOf(line, segment, "/? ") - segment);

    const size_t path_end = FindFirstOf(line, at, "?");
    const size_t hash = line.find('#', at);
    if (hash != std::string::npos && hash < path_end) {
      m_strFile = line.substr(at, hash - at);
      m_szAnchor = line.substr(hash + 1, path_end - hash - 1);
    } else {
      m_strFile = line.substr(at, path_end - at);
    }
    at = path_end;
  }
  if (at < line.size() && line[at] == '?') {
    m_szParam = line.substr(at + 1);
    URLDecode(m_szParam->c_str(), &Params(), false);
    at = line.size();
  }
  return at;
}

size_t URL::SkipSpaces(const std::string& line, size_t at) {
  while (at < line.size() && line[at] == ' ') ++at;
  return at;
}

const char* URL::GetURL() const { return TextOf(m_szURL); }
const char* URL::GetMethod() const { return TextOf(m_szMethod); }
const char* URL::GetProtocol() const { return TextOf(m_szProtocol); }
const char* URL::GetHost() const { return TextOf(m_szHost); }
int URL::GetPort() const { return m_nPort; }
const char* URL::GetParam() const { return TextOf(m_szParam); }
const char* URL::GetVersion() const { return TextOf(m_szVersion); }
const char* URL::GetAction() const { return TextOf(m_szAction); }
const char* URL::GetFile() const { return m_strFile.c_str(); }
const char* URL::GetScriptName() const { return m_strFile.empty() ? nullptr : m_strFile.c_str(); }
const char* URL::GetAnchor() const { return TextOf(m_szAnchor); }

const char* URL::GetParamValue(const char* name) const {
  return m_pParams ? m_pParams->Get(name) : nullptr;
}

KVMapImp<StringMap>* URL::GetParams() const { return m_pParams.get(); }

void URL::SetHost(const char* host) { m_szHost = CopyOf(host); }
void URL::SetMethod(const char* method) { m_szMethod = CopyOf(method); }
void URL::SetProtocol(const char* protocol) { m_szProtocol = CopyOf(protocol); }
void URL::SetParam(const char* query) { m_szParam = CopyOf(query); }
void URL::SetVersion(const char* version) { m_szVersion = CopyOf(version); }
void URL::SetPort(int port) { m_nPort = port; }
void URL::SetPort(const char* port) { m_nPort = port != nullptr ? std::atoi(port) : 0; }

void URL::SetFile(const char* path) { m_strFile = path != nullptr ? path : ""; }

void URL::SetFileName(const char* name) {
  const char* directory = GetDirectory();
  if (directory == nullptr) {
    SetFile(name);
    return;
  }
  std::string path = directory;
  path += '/';
  if (name != nullptr) path += name;
  m_strFile = std::move(path);
}

bool URL::SetDirectory(const char* dir) {
  if (dir == nullptr) return false;
  const char* old_name = GetFileName();
  std::string name = old_name != nullptr ? old_name : "";
  std::string path = dir;
  if (path.empty() || path.back() != '/') path += '/';
  m_strFile = path + name;
  return true;
}

bool URL::SubstituteDirectory(const char* from, const char* to) {
  if (m_strFile.empty() || from == nullptr || *from == '\0' || to == nullptr) return false;
  const size_t found = m_strFile.find(from);
  if (found == std::string::npos) return false;
  std::string rest = m_strFile.substr(found + std::strlen(from));
  const size_t to_length = std::strlen(to);
  if (to_length > 0 && to[to_length - 1] == '/' && !rest.empty() && rest.front() == '/')
    rest.erase(0, 1);
  m_strFile = m_strFile.substr(0, found) + to + rest;
  return true;
}

const char* URL::GetFileName() const {
  if (m_strFile.empty()) return nullptr;
  const size_t slash = m_strFile.rfind('/');
  return m_strFile.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

const char* URL::GetFileExtension() const {
  if (m_strFile.empty()) return nullptr;
  const size_t dot = m_strFile.rfind('.');
  return dot == std::string::npos ? nullptr : m_strFile.c_str() + dot + 1;
}

const char* URL::GetDirectory() {
  if (m_strFile.empty()) return nullptr;
  const size_t slash = m_strFile.rfind('/');
  if (slash == std::string::npos) return nullptr;
  CBuffer& out = Compose();
  if (slash == 0 && m_strFile.find('.') == std::string::npos) {
    out = m_strFile.c_str();
  } else {
    out.Append(m_strFile.data(), static_cast<int>(slash));
  }
  return Composed();
}

const char* URL::GetPathInfo() const {
  if (m_strFile.empty() || m_strFile.front() != '/') return nullptr;
  size_t at = m_strFile.find_first_not_of('/');
  if (at == std::string::npos) return nullptr;
  at = m_strFile.find('/', at);  // end of the first segment
  if (at == std::string::npos) return nullptr;
  at = m_strFile.find_first_not_of('/', at);
  if (at == std::string::npos) return nullptr;
  at = m_strFile.find('/', at);  // end of the second segment
  return at == std::string::npos ? nullptr : m_strFile.c_str() + at;
}

CBuffer& URL::Compose() {
  m_pBuffer->Clear();
  return *m_pBuffer;
}

const char* URL::Composed() const { return m_pBuffer->GetString().c_str(); }

void URL::AppendProtocolHost(CBuffer& out) const {
  if (!m_szProtocol) return;
  out += m_szProtocol->c_str();
  out += "://";
  if (!m_szHost) return;
  out += m_szHost->c_str();
  if (m_nPort > 0) {
    out += ':';
    out += m_nPort;
  }
}

const char* URL::GetProtocolHost() {
  AppendProtocolHost(Compose());
  return Composed();
}

const char* URL::GetBaseURL() {
  CBuffer& out = Compose();
  AppendProtocolHost(out);
  out += m_strFile.c_str();
  return Composed();
}

const char* URL::GetBase() {
  CBuffer& out = Compose();
  if (m_szMethod) {
    out += m_szMethod->c_str();
    out += ' ';
  }
  AppendProtocolHost(out);
  if (!m_strFile.empty()) {
    std::string directory;
    out += GetPathDirectory(directory, m_strFile.c_str());
  }
  return Composed();
}

const char* URL::GetFileAndParam() {
  if (!m_szParam) return m_strFile.c_str();
  CBuffer& out = Compose();
  out += m_strFile.c_str();
  out += '?';
  out += m_szParam->c_str();
  return Composed();
}

const char* URL::ToString() {
  CBuffer& out = Compose();
  if (m_szMethod) {
    out += m_szMethod->c_str();
    out += ' ';
  }
  AppendProtocolHost(out);
  if (!m_strFile.empty() && m_szMethod) {
    out += m_strFile.c_str();
    if (m_szParam) {
      out += '?';
      out += m_szParam->c_str();
    }
    out += ' ';
  }
  if (m_szVersion) {
    out += m_szVersion->c_str();
  } else if (m_szProtocol && corvane::EqualsNoCase(*m_szProtocol, "HTTP")) {
    out += "HTTP/1.1";
  }
  out += "\r\n";
  return Composed();
}
