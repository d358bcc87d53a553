// NetOutput: construction, copying, header fields, cookies, form fields and body bytes.
#include "wirelane/http/NetOutput.h"

#include <climits>
#include <cstring>

#include "common/FileFunctions.h"
#include "partwright/MimeProcessor.h"
#include "sealvault/Debug.h"
#include "wirelane/http/DimeMsg.h"
#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/NetOutputInternal.h"

using corvane::netoutput::kTag;

namespace {

std::unique_ptr<KVMapImp<StringMap>> CopyMap(const std::unique_ptr<KVMapImp<StringMap>>& map) {
  return map ? std::make_unique<KVMapImp<StringMap>>(*map) : nullptr;
}

}  // namespace

NetOutput::NetOutput(HTTPSock* socket, const char* key, const char* version)
    : m_szVersion(version != nullptr ? version : "HTTP/1.0"),
      m_pSocket(socket),
      m_strKey(key != nullptr ? key : "") {}

NetOutput::~NetOutput() = default;

NetOutput& NetOutput::operator=(const NetOutput& other) { return Clone(other); }

NetOutput& NetOutput::Clone(const NetOutput& other) {
  if (this == &other) return *this;
  Clear();
  m_pHeader = CopyMap(other.m_pHeader);
  m_pCookie = CopyMap(other.m_pCookie);
  m_pBody = CopyMap(other.m_pBody);
  m_szErrorMsg = other.m_szErrorMsg;
  if (!other.m_strKey.empty()) m_strKey = other.m_strKey;
  m_nStatus = other.m_nStatus;
  m_pHeaderBuffer = std::make_unique<BufferIOHandler>();
  m_pContent = std::make_unique<BufferIOHandler>();
  return *this;
}

void NetOutput::Clear() {
  if (m_pHeaderBuffer) m_pHeaderBuffer->Reset();
  if (m_pContent) m_pContent->Reset();
  if (m_pHeader) m_pHeader->RemoveAll();
  if (m_pBody) m_pBody->RemoveAll();
  m_szErrorMsg.reset();
  m_pDime.reset();
  m_pMime.reset();
}

void NetOutput::ClearBody() {
  if (m_pContent) m_pContent->Reset();
  if (m_pBody) m_pBody->RemoveAll();
}

KVMapImp<StringMap>& NetOutput::HeaderMap() {
  if (!m_pHeader) m_pHeader = std::make_unique<KVMapImp<StringMap>>();
  return *m_pHeader;
}

KVMapImp<StringMap>& NetOutput::BodyMap() {
  if (!m_pBody) m_pBody = std::make_unique<KVMapImp<StringMap>>();
  return *m_pBody;
}

BufferIOHandler& NetOutput::Content() {
  if (!m_pContent) m_pContent = std::make_unique<BufferIOHandler>();
  return *m_pContent;
}

unsigned long NetOutput::BodyLength() const { return m_pContent ? m_pContent->GetLength() : 0; }

void NetOutput::ReplaceBody(const std::string& bytes) {
  Content().Reset();
  m_pContent->WriteStream(bytes.data(), bytes.size());
}

void NetOutput::AddHeader(const char* name, const char* value) {
  if (name == nullptr) return;
  if (std::strlen(name) >= 7 && corvane::EqualsNoCase(std::string_view(name, 7), "cookie|")) {
    SetCookie(name + 7, value);
    return;
  }
  HeaderMap().Set(name, value);
}

void NetOutput::AddHeader(const char* name, int value) { HeaderMap().Set(name, value); }

const char* NetOutput::GetHeader(const char* name) {
  return m_pHeader ? m_pHeader->Get(name) : nullptr;
}

KVMapImp<StringMap>* NetOutput::GetHeader() { return m_pHeader.get(); }

void NetOutput::SetCookie(const char* name, const char* value) {
  if (!m_pCookie) m_pCookie = std::make_unique<KVMapImp<StringMap>>();
  m_pCookie->Set(name, value);
}

const char* NetOutput::GetCookie(const char* name) {
  return m_pCookie ? m_pCookie->Get(name) : nullptr;
}

void NetOutput::ClearCookie() {
  if (m_pCookie) m_pCookie->RemoveAll();
}

unsigned NetOutput::Add(const char* name, const char* value) {
  return static_cast<unsigned>(BodyMap().Add(name, value));
}

unsigned NetOutput::Add(const char* name, int value) {
  return static_cast<unsigned>(BodyMap().Set(name, value));
}

KVMapImp<StringMap>* NetOutput::GetBody() { return m_pBody.get(); }

int NetOutput::Write(const char* data, int length) {
  // The buffer reports a null source as written; report it as nothing.
  if (data == nullptr || length <= 0) return 0;
  return static_cast<int>(Content().WriteStream(data, static_cast<unsigned long>(length)));
}

int NetOutput::Write(const char* text) {
  if (text == nullptr) return 0;
  const size_t length = std::strlen(text);
  if (length == 0) {
    Content();  // an empty text still makes the body exist
    return 0;
  }
  return length > INT_MAX ? 0 : Write(text, static_cast<int>(length));
}

int NetOutput::Write(const unsigned short* wide) {
  if (wide == nullptr) return 0;
  size_t units = 0;
  while (wide[units] != 0) ++units;
  if (units > INT_MAX / 2) return 0;
  return Write(reinterpret_cast<const char*>(wide), static_cast<int>(units * 2));
}

char* NetOutput::GetBuffer() { return m_pContent ? m_pContent->GetBuffer() : nullptr; }

BufferIOHandler* NetOutput::GetOutputStream() { return m_pContent.get(); }

bool NetOutput::WriteFile(const char* path) {
  BufferIOHandler* collected = m_pSocket != nullptr ? m_pSocket->GetIOHandler() : nullptr;
  if (collected == nullptr || collected->GetLength() == 0) return false;
  return WriteWholeFile(path, collected->GetBuffer(),
                        static_cast<long long>(collected->GetLength())) != 0;
}

void NetOutput::WriteHeader(const char* text) {
  if (text == nullptr) return;
  WriteHeader(text, static_cast<int>(std::strlen(text)));
}

void NetOutput::WriteHeader(const char* text, int length) {
  if (text == nullptr || length <= 0) return;
  if (!m_pHeaderBuffer) m_pHeaderBuffer = std::make_unique<BufferIOHandler>();
  m_pHeaderBuffer->WriteStream(text, static_cast<unsigned long>(length));
}

void NetOutput::SetStatus(int status, const char* message) {
  m_nStatus = status;
  SetErrorMsg(message);
}

int NetOutput::GetStatus() { return m_nStatus; }

void NetOutput::SetErrorMsg(const char* message) {
  if (message != nullptr) m_szErrorMsg = message;
}

void NetOutput::Redirect(const char* url) {
  if (m_pSocket == nullptr) {
    Debug debug("NetOutput::Redirect");
    debug.logerror(kTag, __LINE__, "No socket for sending a redirect.\n");
    return;
  }
  m_pSocket->Redirect(url);
}
