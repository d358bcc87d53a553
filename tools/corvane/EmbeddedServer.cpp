// The embedded HTTP server of the corvane program.
#include "EmbeddedServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/FileFunctions.h"
#include "common/MediaTypes.h"
#include "sealvault/Encoder.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/http/NetOutput.h"

namespace corvanetool {

namespace {

constexpr int kMaxPostSize = 64 << 20;
constexpr int kConnectionWaitMs = 10000;  // a silent client does not hold the server longer

std::string EscapeXml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '&':
        escaped += "&amp;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// The decoded request path with empty and "." segments dropped ("/a//./b/"
// gives "/a/b"), or nothing when a ".." segment would climb out of the root
// or the path is not absolute. Checks such as the one for /private/ are made
// on this form, so "//private/x" cannot slip past them.
std::optional<std::string> CleanPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return std::nullopt;
  std::string clean;
  for (size_t at = 1; at <= path.size();) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(at, end - at);
    if (segment == "..") return std::nullopt;
    if (!segment.empty() && segment != ".") clean += "/" + segment;
    at = end + 1;
  }
  return clean.empty() ? "/" : clean;
}

// True when text holds a control character (a line break would split a log
// line or a header field).
bool HasControl(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// The text with control characters, backslashes and double quotes written as
// "\xNN", so a log line stays one line and its quoted part unambiguous.
std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\' || c == '"') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return shown;
}

bool Contains(const char* text, const char* part) {
  return text != nullptr && std::strstr(text, part) != nullptr;
}

// Temporary files that hold attachments sent back, removed with the holder.
struct TemporaryFiles {
  std::vector<std::string> paths;
  ~TemporaryFiles() {
    for (const std::string& path : paths) std::remove(path.c_str());
  }
  std::string Write(const unsigned char* bytes, unsigned long length) {
    char name[] = "/tmp/corvane-attachment-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return {};
    const bool written = ::write(fd, bytes, length) == static_cast<ssize_t>(length);
    ::close(fd);
    paths.push_back(name);
    return written ? std::string(name) : std::string();
  }
};

}  // namespace

EmbeddedServer::EmbeddedServer(Settings settings, std::ostream& log)
    : settings_(std::move(settings)),
      log_(log),
      listener_(CSocket::kNoDescriptor, nullptr, kMaxPostSize, HTTPSock::Plain) {}

EmbeddedServer::~EmbeddedServer() { Stop(); }

bool EmbeddedServer::Listen() {
  if (listener_.Listen(settings_.address.c_str(), settings_.port) != 0) {
    error_ = "cannot listen on " + settings_.address + ":" + std::to_string(settings_.port) + ": " +
             listener_.GetErrString();
    return false;
  }
  return true;
}

int EmbeddedServer::Port() const {
  return const_cast<HTTPSock&>(listener_).GetConnection()->GetLocalPort();
}

void EmbeddedServer::Serve() {
  while (!stopping_) {
    std::unique_ptr<HTTPSock> connection(listener_.Accept());
    if (stopping_) break;
    if (!connection) continue;
    connection->SetTimeOut(SO_RCVTIMEO, kConnectionWaitMs);
    connection->SetTimeOut(SO_SNDTIMEO, kConnectionWaitMs);
    HandleConnection(*connection);
  }
}

void EmbeddedServer::ServeInBackground() {
  background_ = std::thread([this] { Serve(); });
}

void EmbeddedServer::Stop() {
  if (stopping_.exchange(true)) return;
  // accept() does not end when another thread closes the socket; a last
  // connection wakes it.
  CSocket wake;
  wake.Connect("127.0.0.1", Port());
  wake.Close();
  if (background_.joinable()) background_.join();
  listener_.Close();
}

void EmbeddedServer::HandleConnection(HTTPSock& connection) {
  NetInput request(&connection);
  // Nothing readable (a port probe, the wake-up of Stop, a silent client):
  // no answer and no log line.
  if (request.Receive() < 0) return;
  std::string line = "-";
  if (URL* url = request.GetURL()) {
    line = std::string(url->GetMethod() != nullptr ? url->GetMethod() : "?") + " " +
           url->GetFileAndParam() + " " + (url->GetVersion() != nullptr ? url->GetVersion() : "");
  }
  unsigned long sent = 0;
  const int status = Answer(request, connection, &sent);
  LogLine(connection.GetIPAddr(), line, status, sent);
  connection.Close();
}

int EmbeddedServer::AnswerStatus(NetOutput& reply, int status, const char* text) {
  reply.SetStatus(status, text);
  reply.Send(1, false, nullptr, nullptr);
  return status;
}

int EmbeddedServer::Answer(NetInput& request, HTTPSock& connection, unsigned long* sent) {
  NetOutput reply(&connection);
  URL* url = request.GetURL();
  if (url == nullptr || url->GetMethod() == nullptr)
    return AnswerStatus(reply, 501, "Method not supported.");
  const std::string method = url->GetMethod();
  if (method == "POST") return AnswerSoap(request, reply, sent);
  if (method != "GET") {
    reply.AddHeader("Allow", "GET, POST");
    return AnswerStatus(reply, 405, "Only GET and POST are served.");
  }
  const std::optional<std::string> path =
      CleanPath(url->GetFile() != nullptr ? url->GetFile() : "");
  if (!path) return AnswerStatus(reply, 403, "The path leaves the served folder.");
  if (*path == "/redirect") {
    const char* target = url->GetParamValue("to");
    // The target becomes a header field: a line break in it would add fields.
    if (target != nullptr && HasControl(target))
      return AnswerStatus(reply, 400, "Bad redirect target.");
    connection.Redirect(target != nullptr ? target : "/");
    return 302;
  }
  if ((*path == "/private" || path->rfind("/private/", 0) == 0) && !Authorized(request)) {
    reply.AddHeader("WWW-Authenticate", "Basic realm=\"corvane\"");
    return AnswerStatus(reply, 401, "Credentials are needed below /private/.");
  }
  return AnswerFile(request, reply, *path, sent);
}

int EmbeddedServer::AnswerFile(NetInput& request, NetOutput& reply, const std::string& path,
                               unsigned long* sent) {
  std::string file = settings_.root + path;
  std::error_code ignored;
  if (std::filesystem::is_directory(file, ignored)) file += "/index.html";
  unsigned long size = 0;
  std::unique_ptr<char[]> bytes(std::filesystem::is_regular_file(file, ignored)
                                    ? ReadWholeFile(file.c_str(), &size)
                                    : nullptr);
  if (!bytes) return AnswerStatus(reply, 404, "No such file.");
  reply.AddHeader("Content-Type", GetContentType(file.c_str()));
  if (Contains(request.GetHeader("Accept-Encoding"), "gzip"))
    reply.AddHeader("Content-Encoding", "gzip");
  reply.Write(bytes.get(), static_cast<int>(size));
  reply.Send(1, false, nullptr, nullptr);
  *sent = size;
  return 200;
}

int EmbeddedServer::AnswerSoap(NetInput& request, NetOutput& reply, unsigned long* sent) {
  // With parts (MIME or DIME) the first one is the envelope, the rest are attachments.
  std::vector<int> attachments;
  unsigned long length = 0;
  const char* envelope = nullptr;
  unsigned long envelope_length = 0;
  for (int i = 0; request.GetAttachment(i, length) != nullptr; ++i) {
    if (i == 0) {
      envelope = reinterpret_cast<const char*>(request.GetAttachment(0, envelope_length));
    } else {
      attachments.push_back(i);
    }
  }
  if (envelope == nullptr) {
    envelope = request.GetContent();
    envelope_length = request.GetContentLength();
  }
  const char* action = request.GetHeader("SOAPAction");
  std::string text =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
      "<EchoResponse soapAction=\"" +
      EscapeXml(action != nullptr ? action : "") + "\">" + EchoFields(request) + "<Request>" +
      EscapeXml(std::string_view(envelope != nullptr ? envelope : "",
                                 envelope != nullptr ? envelope_length : 0)) +
      "</Request>";
  TemporaryFiles files;
  for (int index : attachments) {
    const unsigned char* bytes = request.GetAttachment(index, length);
    const char* id = request.GetAttachmentProperty(index, "id");
    const char* type = request.GetAttachmentProperty(index, "type");
    text += "<Attachment id=\"" + EscapeXml(id != nullptr ? id : "") + "\" type=\"" +
            EscapeXml(type != nullptr ? type : "") + "\" size=\"" + std::to_string(length) + "\"/>";
    const std::string copy = files.Write(bytes, length);
    if (!copy.empty()) reply.AddAttachment(copy.c_str(), id, type, "application/dime");
  }
  text += "</EchoResponse></soap:Body></soap:Envelope>";
  reply.AddHeader("Content-Type", "text/xml; charset=utf-8");
  reply.Write(text.data(), static_cast<int>(text.size()));
  reply.Send(1, false, nullptr, nullptr);
  *sent = text.size();
  return 200;
}

std::string EmbeddedServer::EchoFields(NetInput& request) {
  // The request's header fields as received, in order, so a client can see
  // what reached the server.
  std::string fields = "<Fields>";
  KVMapImp<StringMap>* header = request.GetHeader();
  for (unsigned slot = 0; header != nullptr && slot < header->GetCount(); ++slot) {
    const char* name = header->GetKey(slot);
    const char* value = header->Get(slot);
    if (name == nullptr) continue;
    fields += "<Field name=\"" + EscapeXml(name) + "\">" +
              EscapeXml(value != nullptr ? value : "") + "</Field>";
  }
  return fields + "</Fields>";
}

bool EmbeddedServer::Authorized(NetInput& request) const {
  const char* field = request.GetHeader("Authorization");
  if (settings_.user.empty() || field == nullptr || std::strncmp(field, "Basic ", 6) != 0)
    return false;
  Encoder encoder("base64");
  int length = static_cast<int>(std::strlen(field + 6));
  const unsigned char* decoded = encoder.Decode(field + 6, &length);
  return decoded != nullptr &&
         std::string(reinterpret_cast<const char*>(decoded), static_cast<size_t>(length)) ==
             settings_.user + ":" + settings_.password;
}

void EmbeddedServer::LogLine(const std::string& peer, const std::string& line, int status,
                             unsigned long bytes) {
  std::lock_guard<std::mutex> guard(log_lock_);
  log_ << peer << " \"" << Printable(line) << "\" " << status << " " << bytes << std::endl;
}

}  // namespace corvanetool
