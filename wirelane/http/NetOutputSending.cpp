// NetOutput: sending a whole message or chunks, and turning the body into its sent form.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/MemoryMapIOHandler.h"
#include "common/SystemFunctions.h"
#include "partwright/MimeProcessor.h"
#include "sealvault/Crypto.h"
#include "sealvault/Debug.h"
#include "wirelane/http/ContentCodingInternal.h"
#include "wirelane/http/DimeMsg.h"
#include "wirelane/http/FormEncoding.h"
#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/NetOutput.h"
#include "wirelane/http/NetOutputInternal.h"

using corvane::netoutput::HasLineBreak;
using corvane::netoutput::IsMethod;
using corvane::netoutput::kTag;

namespace {

constexpr const char* kSoapEnvelopeType = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kXopRootType =
    "application/xop+xml; charset=\"UTF-8\";type=\"application/soap+xml\"";
constexpr const char* kDefaultRootType = "text/xml; charset=\"UTF-8\"";
constexpr const char* kLastChunk = "0\r\n\r\n";
constexpr unsigned kMimeHandlerSize = 1048576;

struct FreeDeleter {
  void operator()(unsigned char* bytes) const { std::free(bytes); }
};

// "uuid:" and a new UUID; empty when none can be made.
std::string NewContentId() {
  std::string id;
  if (!MakeUuidText(id)) id.clear();
  return id;
}

}  // namespace

int NetOutput::Send(int type, bool keepAlive, const char* method, const char* path) {
  Debug debug("NetOutput::Send");
  if (type == 2 && (method == nullptr || *method == '\0' || path == nullptr)) {
    debug.logerror(kTag, __LINE__, "A request needs a method and a path.\n");
    return -1;
  }
  if (HasLineBreak(method) || HasLineBreak(path)) {
    debug.logerror(kTag, __LINE__, "Refused a request line with a line break in it.\n");
    return -1;
  }
  if (IsMethod(method, "POST") && !PrepareFormBody()) return -1;

  debug.tracing("Encoding contents...\n");
  EncodeContent();
  const bool success = m_nStatus >= 200 && m_nStatus <= 300;
  // Written before the header is formatted, so that Content-Length counts it.
  if (!success && m_nStatus != 401 && BodyLength() == 0) WriteErrorPage();
  if (type == 1)
    FormatHeader(keepAlive);
  else if (type == 2)
    FormatClientHeader(method, path);
  const int result = SendFormatted(debug, success && m_pMime);
  if (m_pHeaderBuffer) m_pHeaderBuffer->Reset();
  return result;
}

int NetOutput::SendFormatted(Debug& debug, bool mime) {
  const char* header = nullptr;
  int headerLength = 0;
  if (m_pHeaderBuffer && m_pHeaderBuffer->GetLength() == 0) {
    debug.logerror(kTag, __LINE__, "Missing HTTP header information in the request message.\n");
  } else if (m_pHeaderBuffer) {
    m_pHeaderBuffer->WriteStream("\r\n");
    header = m_pHeaderBuffer->GetBuffer();
    debug.tracing("\n-----------------------------------\nSending HTTP header: \n%s", header);
    headerLength = static_cast<int>(std::min<unsigned long>(m_pHeaderBuffer->GetLength(), INT_MAX));
  }

  MemoryMapIOHandler mimeMessage(kMimeHandlerSize);
  const char* body = GetBuffer();
  unsigned long bodyLength = BodyLength();
  if (mime) {
    debug.tracing("********** Sending MIME message ***********\n");
    unsigned length = 0;
    m_pMime->FormatMessageA(0, &length, &mimeMessage);
    debug.tracing("********** End of MIME message (%d bytes)***********\n",
                  static_cast<int>(length));
    if (length == 0) {
      // The header already announces the MIME length; an empty body would
      // leave the peer waiting for it.
      debug.logerror(kTag, __LINE__, "The MIME message could not be formatted; nothing sent.\n");
      return -1;
    }
    body = mimeMessage.GetBuffer();
    bodyLength = length;
  } else if (bodyLength > 0) {
    debug.tracing("Sending message body...\n");
    debug.tracing("%.*s\n", static_cast<int>(std::min<unsigned long>(bodyLength, INT_MAX)), body);
  }
  if (bodyLength > INT_MAX) {
    debug.logerror(kTag, __LINE__, "The message body of %lu bytes is too long to send.\n",
                   bodyLength);
    return -1;
  }
  // A null body makes the result that of the header write.
  return InternalSend(header, headerLength, bodyLength > 0 ? body : nullptr,
                      static_cast<int>(bodyLength));
}

int NetOutput::InternalSend(const char* header, int headerLength, const char* body,
                            int bodyLength) {
  if (m_pSocket == nullptr) return 0;
  return m_pSocket->SendHttpMessage(header, headerLength,
                                    reinterpret_cast<const unsigned char*>(body), bodyLength);
}

bool NetOutput::PrepareFormBody() {
  KVMapImp<StringMap>& header = HeaderMap();
  if (header.GetIndex("Content-Type") < 0)
    header.Set("Content-Type", "application/x-www-form-urlencoded");
  if (!m_pBody) return true;
  const std::string form = EncodeFormData(m_pBody.get());
  if (m_strKey.empty()) {
    Write(form.c_str());
    return true;
  }
  Crypto crypto(nullptr, nullptr, 1);
  int length = static_cast<int>(std::min<size_t>(form.size(), INT_MAX));
  std::unique_ptr<unsigned char, FreeDeleter> sealed(crypto.Encrypt(
      m_strKey.c_str(), reinterpret_cast<const unsigned char*>(form.data()), &length, nullptr));
  if (!sealed) {
    // Sending the form in clear text would expose what the key should hide.
    Debug debug("NetOutput::Send");
    debug.logerror(kTag, __LINE__, "Encrypting the form body failed; nothing sent.\n");
    return false;
  }
  Write(reinterpret_cast<const char*>(sealed.get()), length);
  header.Set("Content-Encoding", "Encryption");
  return true;
}

void NetOutput::WriteErrorPage() {
  std::string page = "<html>";
  page += m_szErrorMsg ? *m_szErrorMsg : "Unknown Server Error.";
  page += "</html>";
  ReplaceBody(page);
  // A length set earlier (by the caller or for a MIME message) no longer
  // matches the body.
  if (m_pHeader && m_pHeader->GetIndex("Content-Length") >= 0)
    m_pHeader->Set("Content-Length", std::to_string(page.size()).c_str());
}

void NetOutput::EncodeContent() {
  if (m_pDime)
    EncodeDime();
  else if (m_pMime)
    EncodeMime();
  CompressBody();
}

void NetOutput::EncodeDime() {
  const std::string id = NewContentId();
  const char* body = GetBuffer();
  m_pDime->AddRecord(id.c_str(), kSoapEnvelopeType, body != nullptr ? body : "", BodyLength(), 0);
  Content().Reset();
  HeaderMap().Set("Content-Type", "application/dime");
  m_pDime->SendMessage(m_pContent.get());
}

void NetOutput::EncodeMime() {
  Debug debug("NetOutput::EncodeContent");
  const char* full = m_pMime->GetFullContentType();
  const char* partType = kDefaultRootType;
  if (full != nullptr && std::strstr(full, "application/xop") != nullptr)
    partType = kXopRootType;
  else if (m_pHeader)
    partType = m_pHeader->Get("Content-Type");
  // A message of attachments only has no root text to add.
  if (BodyLength() > 0) {
    if (std::memchr(GetBuffer(), '\0', BodyLength()) != nullptr)
      debug.logerror(kTag, __LINE__,
                     "The message body holds a NUL byte; its MIME part ends there.\n");
    const std::string id = NewContentId();
    m_pMime->AddMIMEPart(GetBuffer(), partType, id.c_str(), 0);
  }
  KVMapImp<StringMap>& header = HeaderMap();
  header.Set("MIME-Version", "1.0");
  // Asked again after the last part: the boundary may have changed.
  if (const char* type = m_pMime->GetFullContentType()) header.Set("Content-Type", type);
  if (m_pContent) m_pContent->Reset();
  const unsigned length = m_pMime->GetMessageLength(0);
  header.Set("Content-Length", std::to_string(length).c_str());
  debug.tracing("Calculated MIME content length = %u\n", length);
}

void NetOutput::CompressBody() {
  const char* field = GetHeader("Content-Encoding");
  if (field == nullptr) return;
  const std::string coding = field;
  const bool deflate = corvane::EqualsNoCase(coding, "deflate");
  if (!deflate && !corvane::EqualsNoCase(coding, "gzip")) return;
  Debug debug("NetOutput::EncodeContent");
  if (m_pMime) {
    // The MIME message is formatted at sending time, after this step, and
    // would go out uncompressed under a header that says otherwise.
    debug.logerror(kTag, __LINE__,
                   "Content-Encoding %s is not applied to a MIME message; the field is removed.\n",
                   coding.c_str());
    m_pHeader->remove("Content-Encoding");
    return;
  }
  const char* body = GetBuffer();
  const std::string_view plain(body != nullptr ? body : "", BodyLength());
  std::string packed;
  const bool packedOk =
      deflate ? corvane::DeflateZlib(plain, packed) : corvane::CompressGzip(plain, packed);
  if (!packedOk) {
    debug.logerror(kTag, __LINE__, "Compressing the body with %s failed; it is sent as it is.\n",
                   coding.c_str());
    m_pHeader->remove("Content-Encoding");
    return;
  }
  ReplaceBody(packed);
}

int NetOutput::SendChuck(const char* data, int length, bool last) {
  if (length <= 0) {
    InternalSend(nullptr, 0, kLastChunk, 5);
    return 0;
  }
  if (data == nullptr) {
    Debug debug("NetOutput::SendChuck");
    debug.logerror(kTag, __LINE__, "A chunk of %d bytes without data; nothing sent.\n", length);
    return -1;
  }
  char sizeLine[16];
  const int sizeLength = std::snprintf(sizeLine, sizeof sizeLine, "%x\r\n", length);
  if (InternalSend(nullptr, 0, sizeLine, sizeLength) <= 0) return 0;
  const int result = InternalSend(nullptr, 0, data, length);
  // After a failed data write the connection is unusable; a terminator would
  // only be read as part of the missing data.
  if (result <= 0) return result;
  InternalSend(nullptr, 0, "\r\n", 2);
  if (last) InternalSend(nullptr, 0, kLastChunk, 5);
  return result;
}

void NetOutput::SendMessage(KVMapImp<StringMap>* map) {
  if (map == nullptr) return;
  std::string text;
  for (unsigned slot = 0; slot < map->GetCount(); ++slot) {
    const char* name = map->GetKey(slot);
    if (name == nullptr) continue;
    if (!text.empty()) text += '&';
    text += URLEncode(name);
    text += '=';
    text += URLEncode(map->Get(slot));
  }
  Write(text.c_str());
}
