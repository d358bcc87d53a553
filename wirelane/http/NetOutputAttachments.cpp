// NetOutput: MIME, XOP and DIME attachments, certificates, and signing SPKAC requests.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/FileFunctions.h"
#include "common/MediaTypes.h"
#include "partwright/MimeProcessor.h"
#include "sealvault/Debug.h"
#include "wirelane/http/DimeMsg.h"
#include "wirelane/http/NetOutput.h"
#include "wirelane/http/NetOutputInternal.h"
#include "wirelane/sockets/ProgramRunnerInternal.h"

using corvane::netoutput::kTag;

namespace {

constexpr const char* kMimeBoundary = "--corvane-msg-boundary";
constexpr const char* kDefaultMimeType = "Multipart/Related; type=text/xml";
constexpr long kDimeChunkSize = 10485760;
constexpr size_t kMaxRequestName = 128;
constexpr int kSigningLimitMs = 60000;

bool Contains(const char* text, const char* part) {
  return text != nullptr && std::strstr(text, part) != nullptr;
}

// The request name reaches the certificate tool as an argument and names the
// output file, so it is held to plain file-name characters: no path
// separators (the file must stay in ../certs), no leading "-" (no option) and
// nothing a shell or the tool could read as anything but a name.
bool IsPlainRequestName(const char* name) {
  if (name == nullptr) return false;
  const size_t length = std::strlen(name);
  if (length == 0 || length > kMaxRequestName || name[0] == '.' || name[0] == '-') return false;
  for (const char* at = name; *at != '\0'; ++at) {
    const char c = *at;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (!plain) return false;
  }
  return true;
}

}  // namespace

bool NetOutput::AddAttachment(const char* path, const char* id, const char* type,
                              const char* container) {
  Debug debug("NetOutput::AddAttachment");
  if (type == nullptr || *type == '\0') type = GetContentType(path);
  const char* shown = path != nullptr ? path : "(null)";
  if (Contains(container, "/dime")) {
    debug.tracing("Adding %s as a DIME attachment.\n", shown);
    if (!m_pDime) m_pDime = std::make_unique<DimeMsg>(kDimeChunkSize);
    unsigned long size = 0;
    std::unique_ptr<char[]> bytes(ReadWholeFile(path, &size));
    if (!bytes) {
      debug.logerror(kTag, __LINE__, "Error opening attachment file : %s\n", shown);
      return false;
    }
    return m_pDime->AddRecord(id, type, bytes.get(), size, -1);
  }
  if (Contains(container, "/xop")) {
    debug.tracing("Adding %s as a XOP attachment.\n", shown);
  } else {
    debug.tracing("Adding %s as a MIME attachment.\n", shown);
    if (container == nullptr) container = kDefaultMimeType;
  }
  if (!m_pMime) m_pMime = std::make_unique<MimeProcessor>(container, kMimeBoundary);
  return m_pMime->AddMIMEPart(path, type, id, -1) > 0;
}

bool NetOutput::SendCertificate(const char* path, bool ca) {
  unsigned long size = 0;
  std::unique_ptr<char[]> bytes(ReadWholeFile(path, &size));
  if (!bytes) return false;
  HeaderMap().Set("Content-Type",
                  ca ? "application/x-x509-ca-cert" : "application/x-x509-user-cert");
  Content().WriteStream(bytes.get(), size);
  return true;
}

bool NetOutput::ProcessSPKAC(const char* spkac) {
  Debug debug("NetOutput::ProcessSPKAC");
  if (!IsPlainRequestName(spkac)) {
    debug.logerror(kTag, __LINE__,
                   "Refused an SPKAC request name that is not 1 to %zu letters, digits, '.', '-' "
                   "or '_' (not starting with '.' or '-').\n",
                   kMaxRequestName);
    return false;
  }
  const std::string certificate = std::string("../certs/") + spkac + ".tmp";
  // No shell: each text is one argument of the tool, whatever it holds.
  const std::vector<std::string> command = {
      "openssl", "ca",  "-batch", "-config",  "../ca/portico.conf",
      "-spkac",  spkac, "-out",   certificate};
  std::string error;
  const int status = corvane::tls::RunProgram(command, kSigningLimitMs, &error);
  if (status != 0) {
    debug.logerror(kTag, __LINE__, "Signing the SPKAC request %s failed (%s).\n", spkac,
                   status < 0 ? error.c_str() : ("exit status " + std::to_string(status)).c_str());
    return false;
  }
  return SendCertificate(certificate.c_str(), false);
}
