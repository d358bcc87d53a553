// NetInput: lifetime, variables, cookies, request and response lines, and message text.
#include "wirelane/http/NetInput.h"

#include <cstring>
#include <string>

#include "common/NoCase.h"
#include "common/TextFunctions.h"
#include "partwright/MultipartParser.h"
#include "sealvault/Debug.h"
#include "wirelane/http/CookieText.h"
#include "wirelane/http/NetInputInternal.h"
#include "wirelane/http/URLDecode.h"

using corvane::netinput::ContentWriter;

NetInput::NetInput(HTTPSock* socket, const char* key) : m_pSocket(socket) {
  if (key != nullptr) m_strKey = key;
}

NetInput::NetInput(const NetInput& other) { Clone(other); }

NetInput& NetInput::operator=(const NetInput& other) {
  if (this != &other) Clone(other);
  return *this;
}

NetInput::~NetInput() { Clear(); }

void NetInput::Clone(const NetInput& other) {
  Clear();
  m_pCookie.reset();
  if (other.m_pBody) m_pBody = std::make_unique<KVMapImp<StringMap>>(*other.m_pBody);
  if (other.m_pHeader) m_pHeader = std::make_unique<KVMapImp<StringMap>>(*other.m_pHeader);
  if (other.m_pMessage) m_pMessage = std::make_unique<MemoryMapIOHandler>(kHolderSize);
  if (!other.m_strKey.empty()) m_strKey = other.m_strKey;
  if (other.m_pContent) {
    // A copy of the bytes, not a second view of the same section.
    m_pContent = std::make_unique<MemoryMapIOHandler>(kHolderSize);
    const unsigned long length = other.m_pContent->GetLength();
    ContentWriter writer(*m_pContent);
    writer.Reserve(length);
    writer.Append(other.m_pContent->GetBuffer(), length);
    writer.Terminate();
  }
  if (other.m_pURL) m_pURL = std::make_unique<URL>(*other.m_pURL);
  m_pSocket = other.m_pSocket;
  m_bClient = other.m_bClient;
}

void NetInput::Clear() {
  m_pBody.reset();
  m_pHeader.reset();
  m_pMessage.reset();
  m_pContent.reset();
  m_pURL.reset();
  m_pMultipart.reset();
  m_pDime.reset();
}

KVMapImp<StringMap>& NetInput::Body() {
  if (!m_pBody) m_pBody = std::make_unique<KVMapImp<StringMap>>();
  return *m_pBody;
}

KVMapImp<StringMap>& NetInput::Header() {
  if (!m_pHeader) m_pHeader = std::make_unique<KVMapImp<StringMap>>();
  return *m_pHeader;
}

KVMapImp<StringMap>& NetInput::Cookies() {
  if (!m_pCookie) m_pCookie = std::make_unique<KVMapImp<StringMap>>();
  return *m_pCookie;
}

MemoryMapIOHandler& NetInput::Content() {
  if (!m_pContent) m_pContent = std::make_unique<MemoryMapIOHandler>(kHolderSize);
  return *m_pContent;
}

void NetInput::ReplaceContent(const char* data, size_t length) {
  // data may point into the current content, so the new holder is filled
  // before the old one goes.
  auto fresh = std::make_unique<MemoryMapIOHandler>(kHolderSize);
  ContentWriter writer(*fresh);
  writer.Reserve(length);
  writer.Append(data, length);
  writer.Terminate();
  m_pContent = std::move(fresh);
  // Callers take GetContentLength() as the length of GetContent().
  Header().Set("Content-Length", std::to_string(length).c_str());
}

char* NetInput::GetContent() { return m_pContent ? m_pContent->GetBuffer() : nullptr; }

unsigned NetInput::GetContentLength() {
  const char* field = m_pHeader ? m_pHeader->Get("Content-Length") : nullptr;
  if (field != nullptr) {
    // 0xFFFFFFFF means "not given", so larger numbers stop just below it.
    constexpr unsigned long long kLargest = 0xFFFFFFFEull;
    unsigned long long value = 0;
    for (const char* at = field; *at >= '0' && *at <= '9'; ++at) {
      value = value * 10 + static_cast<unsigned>(*at - '0');
      if (value > kLargest) return static_cast<unsigned>(kLargest);
    }
    return static_cast<unsigned>(value);
  }
  if (m_pContent && m_pContent->GetLength() > 0)
    return static_cast<unsigned>(m_pContent->GetLength());
  if (m_pHeader && m_pHeader->Get("HTTPStatus") != nullptr) return 0xFFFFFFFFu;
  return 0;
}

void NetInput::Set(const char* name, const char* value, int mode) {
  switch (mode) {
    case 1:
      Body().Add(name, value);
      break;
    case 2:
      Body().Append(name, value);
      break;
    default:
      Body().Set(name, value);
      break;
  }
}

void NetInput::remove(const char* name) {
  if (m_pBody) m_pBody->remove(name);
}

int NetInput::Append(const char* name, const char* value) {
  return m_pBody ? m_pBody->Append(name, value) : -1;
}

void NetInput::SetHeader(const char* name, const char* value) {
  if (name != nullptr && corvane::EqualsNoCase(name, "Set-Cookie"))
    Header().Add(name, value);
  else
    Header().Set(name, value);
}

void NetInput::Parse(const char* text, const char* nameEnd, const char* pairEnd) {
  if (text == nullptr) return;
  const char* name_end = nameEnd != nullptr ? nameEnd : "";
  const char* pair_end = pairEnd != nullptr ? pairEnd : "";
  std::string name;
  std::string value;
  const char* at = text + std::strspn(text, pair_end);
  while (*at != '\0') {
    at += std::strspn(at, " \t");
    const size_t name_length = std::strcspn(at, name_end);
    name.assign(at, name_length);
    at += name_length;
    at += std::strspn(at, name_end);
    at += std::strspn(at, " \t");
    const size_t value_length = std::strcspn(at, pair_end);
    value.assign(at, value_length);
    at += value_length;
    at += std::strspn(at, pair_end);
    if (!value.empty()) Body().Set(name.c_str(), value.c_str());
  }
}

void NetInput::URLDecode(char* text) { ::URLDecode(text, &Body(), false); }

int NetInput::ParseCookie(const char* text) {
  if (text == nullptr) return -1;
  ParseCookieText(text, &Cookies());
  return 0;
}

void NetInput::ReadSetCookies() {
  // One cookie per field: the first name=value pair; attributes after it
  // (Path, Expires, ...) are not cookies.
  for (unsigned slot = 0; slot < m_pHeader->GetCount(); ++slot) {
    const char* key = m_pHeader->GetKey(slot);
    const char* text = m_pHeader->Get(slot);
    if (key == nullptr || text == nullptr ||
        !(corvane::EqualsNoCase(key, "Set-Cookie") || corvane::EqualsNoCase(key, "Set-Cookie2")))
      continue;
    text += std::strspn(text, " ,;");
    const char* equals = std::strchr(text, '=');
    if (equals == nullptr) continue;
    std::string name(text, equals);
    if (!name.empty() && name.front() == '$') name.erase(0, 1);
    std::string value(std::strlen(equals), '\0');
    GetToken(equals + 1, value.data(), ";");
    Cookies().Set(name.c_str(), value.c_str());
  }
}

const char* NetInput::GetCookie(const char* name) {
  if (!m_pCookie || name == nullptr) return nullptr;
  // Hosts written against this interface read the whole map through "all".
  if (corvane::EqualsNoCase(name, "all")) return reinterpret_cast<const char*>(m_pCookie.get());
  return m_pCookie->Get(name);
}

void NetInput::ClearCookie() {
  if (m_pCookie) m_pCookie->RemoveAll();
}

bool NetInput::IsCookieClient() {
  if (m_pCookie && m_pCookie->GetItemCount() > 0) return true;
  const char* agent = m_pHeader ? m_pHeader->Get("User-Agent") : nullptr;
  return agent != nullptr && std::strstr(agent, "Corvane") == nullptr;
}

bool NetInput::ParseRequestLine() {
  if (!m_pURL) return false;
  const char* path = m_pURL->GetFile();
  if (path == nullptr || path[0] != '/') return false;
  static constexpr const char* kSegmentNames[] = {"_Action", "DataSource", "SQLStatement", "RowId"};
  const char* at = path;
  for (const char* segment_name : kSegmentNames) {
    at += std::strspn(at, "/");
    const size_t length = std::strcspn(at, "/");
    if (length == 0) break;
    Set(segment_name, std::string(at, length).c_str(), 0);
    at += length;
  }
  const char* query = m_pURL->GetParam();
  if (query != nullptr) ::URLDecode(query, &Body(), false);
  return true;
}

bool NetInput::ParseResponseHeader(const char* line) {
  if (line == nullptr) {
    if (!m_pURL) return false;
    line = m_pURL->GetURL();
    if (line == nullptr) return true;
  }
  const std::string_view text(line);
  constexpr const char* kSeparators = " \r\n\t";
  size_t at = text.find_first_not_of(kSeparators);
  for (int token = 0; token < 2 && at != std::string_view::npos; ++token) {
    size_t end;
    if (text[at] == '"') {
      end = text.find('"', at + 1);
      end = end == std::string_view::npos ? text.size() : end + 1;
    } else {
      end = std::min(text.find_first_of(kSeparators, at), text.size());
    }
    std::string word(text.substr(at, end - at));
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"')
      word = word.substr(1, word.size() - 2);
    if (token == 0 && word.size() >= 5 && corvane::EqualsNoCase(word.substr(0, 5), "http/"))
      SetHeader("HTTPVersion", word.c_str());
    if (token == 1) SetHeader("HTTPStatus", word.c_str());
    at = text.find_first_not_of(kSeparators, end);
  }
  if (at != std::string_view::npos) {
    std::string reason(text.substr(at));
    TrimRight(reason.data(), "\r\n \t");
    SetHeader("HTTPReason", reason.c_str());
  }
  return true;
}

char* NetInput::GetRequestLine() {
  // The line is composed in the URL's scratch buffer; the interface hands it
  // out as char* for hosts written against it.
  return m_pURL ? const_cast<char*>(m_pURL->ToString()) : nullptr;
}

char* NetInput::ReconstructRequestHeader() {
  if (!m_pURL) return nullptr;
  const unsigned content_length = m_pContent ? static_cast<unsigned>(m_pContent->GetLength()) : 0;
  m_pMessage = std::make_unique<MemoryMapIOHandler>(content_length + kHolderSize);
  ContentWriter writer(*m_pMessage);
  const char* line = m_pURL->ToString();
  writer.Append(line, std::strlen(line));
  if (m_pHeader) {
    std::string fields;
    m_pHeader->ToString(fields, ": ", "\r\n", nullptr);
    fields += "\r\n";
    writer.Append(fields.data(), fields.size());
  }
  writer.Terminate();
  return m_pMessage->GetBuffer();
}

char* NetInput::GetMessageString() {
  if (ReconstructRequestHeader() == nullptr) return nullptr;
  ContentWriter writer(*m_pMessage);
  if (m_pContent) {
    writer.Append(m_pContent->GetBuffer(), m_pContent->GetLength());
    writer.Append("\r\n\r\n", 4);
  } else {
    writer.Append("\r\n", 2);
  }
  writer.Terminate();
  return m_pMessage->GetBuffer();
}

void NetInput::SetMsg(const char* line, KVMapImp<StringMap>* header, KVMapImp<StringMap>* body,
                      const char* content) {
  if (line != nullptr) m_pURL = std::make_unique<URL>(line);
  m_pHeader.reset(header);
  m_pBody.reset(body);
  if (content != nullptr) {
    ContentWriter writer(Content());
    writer.Append(content, std::strlen(content));
    writer.Terminate();
  }
}
