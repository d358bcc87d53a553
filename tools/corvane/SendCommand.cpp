// The "send" verb: curl-like options mapped onto the transport operations.
#include "SendCommand.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "LibraryLog.h"
#include "transport/Transport.h"

namespace corvanetool {

namespace {

constexpr const char* kSendUsage =
    "Usage: corvane send [options] URL\n"
    "Sends one message and prints the reply body on standard output.\n"
    "  -X, --request METHOD      method (default GET, or POST with -d)\n"
    "  -H, --header 'Name: V'    request header field (repeatable, sent in order)\n"
    "  -d, --data TEXT|@FILE|@-  body: the text, a file's bytes, or standard input;\n"
    "                            several -d are joined with '&'\n"
    "  -i, --include             print the reply status line and fields first\n"
    "  -u, --user USER:PASSWORD  server credentials (Basic or Digest)\n"
    "  -x, --proxy HOST[:PORT]   send through this HTTP proxy (port 1080 when none)\n"
    "  -U, --proxy-user U:P      proxy credentials\n"
    "      --cacert FILE         also trust the CAs of this PEM file for https\n"
    "  -E, --cert FILE           client certificate (PEM; its key beside it)\n"
    "      --kind N              transport kind (default 0, HTTP; 8 the platform HTTP stack)\n"
    "  -v, --verbose             the libraries' debug output on standard error\n"
    "  -h, --help                this text\n"
    "The server's certificate is always verified for https.\n"
    "Exit status: 0 when a reply came back (whatever its status), 1 when none did,\n"
    "2 for a bad command line or an unreadable file.\n";

const std::vector<OptionSpec> kSendOptions = {
    {'X', "request", true},    {'H', "header", true},   {'d', "data", true},
    {'i', "include", false},   {'u', "user", true},     {'x', "proxy", true},
    {'U', "proxy-user", true}, {0, "cacert", true},     {'E', "cert", true},
    {0, "kind", true},         {'v', "verbose", false}, {'h', "help", false},
};

constexpr int kDefaultProxyPort = 1080;  // curl's default for a proxy without port

// Everything the command line asks for, checked.
struct SendSettings {
  std::string url;
  std::string method;
  std::optional<std::string> body;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string user, password;
  std::string proxy;  // "host:port", empty for none
  std::string proxy_user, proxy_password;
  std::optional<std::string> ca_file, certificate;
  int kind = 0;
  bool include = false;
  bool verbose = false;
};

// A usage or input error: its one-line message.
struct Problem {
  std::string message;
  bool usage = true;  // a wrong command line, rather than a file that cannot be read
};

int Fail(const std::string& message, int status) {
  std::cerr << "corvane send: " << message << "\n";
  return status;
}

// Splits "a:b" at its first colon (the second part may hold more colons).
std::pair<std::string, std::string> SplitPair(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return {text, ""};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A whole decimal number within [low, high], or nothing.
std::optional<int> NumberIn(const std::string& text, long low, long high) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<Problem> ReadData(const std::string& data, std::string& body) {
  if (data.empty() || data[0] != '@') {
    body = data;
    return std::nullopt;
  }
  if (data == "@-") {
    body.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return std::nullopt;
  }
  const std::string path = data.substr(1);
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored))
    return Problem{"cannot read " + path + ": it is a folder", false};
  std::ifstream file(path, std::ios::binary);
  if (!file) return Problem{"cannot read " + path + ": " + std::strerror(errno), false};
  body.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) return Problem{"cannot read " + path, false};
  return std::nullopt;
}

std::optional<Problem> CheckReadable(const std::string& option, const std::string& path) {
  if (std::ifstream(path)) return std::nullopt;
  return Problem{option + ": cannot read " + path + ": " + std::strerror(errno), false};
}

std::optional<Problem> ReadProxy(const CommandLine& line, SendSettings& settings) {
  std::string proxy = line.Value("proxy").value_or("");
  if (proxy.empty()) return std::nullopt;
  if (proxy.rfind("http://", 0) == 0) proxy.erase(0, 7);
  if (!proxy.empty() && proxy.back() == '/') proxy.pop_back();
  auto [host, port] = SplitPair(proxy);
  if (proxy.find(':') == std::string::npos) port = std::to_string(kDefaultProxyPort);
  if (host.empty() || !NumberIn(port, 1, 65535))
    return Problem{"-x: expected HOST[:PORT], got '" + proxy + "'"};
  settings.proxy = host + ":" + port;
  std::tie(settings.proxy_user, settings.proxy_password) =
      SplitPair(line.Value("proxy-user").value_or(""));
  return std::nullopt;
}

std::optional<Problem> ReadSettings(const CommandLine& line, SendSettings& settings) {
  if (line.Operands().size() != 1)
    return Problem{line.Operands().empty() ? "no URL given" : "more than one URL given"};
  settings.url = line.Operands()[0];
  for (const std::string& field : line.Values("header")) {
    const size_t colon = field.find(':');
    const std::string name = Trimmed(field.substr(0, colon));
    if (colon == std::string::npos || name.empty() ||
        name.find_first_of(" \t\r\n") != std::string::npos)
      return Problem{"-H: expected 'Name: value', got '" + field + "'"};
    settings.fields.emplace_back(name, Trimmed(field.substr(colon + 1)));
  }
  for (const std::string& data : line.Values("data")) {
    std::string piece;
    if (auto problem = ReadData(data, piece)) return problem;
    settings.body = settings.body ? *settings.body + "&" + piece : piece;
  }
  settings.method = line.Value("request").value_or(settings.body ? "POST" : "GET");
  if (settings.method.empty()) return Problem{"-X: empty method"};
  std::tie(settings.user, settings.password) = SplitPair(line.Value("user").value_or(""));
  if (auto problem = ReadProxy(line, settings)) return problem;
  settings.ca_file = line.Value("cacert");
  if (settings.ca_file) {
    if (auto problem = CheckReadable("--cacert", *settings.ca_file)) return problem;
  }
  settings.certificate = line.Value("cert");
  if (settings.certificate) {
    if (auto problem = CheckReadable("-E", *settings.certificate)) return problem;
  }
  if (const auto kind = line.Value("kind")) {
    const auto number = NumberIn(*kind, -2147483647L - 1, 2147483647L);
    if (!number) return Problem{"--kind: expected a number, got '" + *kind + "'"};
    settings.kind = *number;
  }
  settings.include = line.Has("include");
  settings.verbose = line.Has("verbose");
  return std::nullopt;
}

// Releases the transport whatever way the verb ends.
struct TransportHolder {
  Transport* transport;
  ~TransportHolder() { DestroyTransport(transport); }
};

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

void Prepare(Transport& transport, const SendSettings& settings) {
  for (const auto& [name, value] : settings.fields)
    transport.AddHeader(name.c_str(), value.c_str());
  // The port travels inside the host text: the port argument is a signed
  // 16-bit number and cannot carry ports above 32767.
  if (!settings.proxy.empty())
    transport.SetProxy(settings.proxy.c_str(), 0, OrNull(settings.proxy_user),
                       OrNull(settings.proxy_password));
  // Sockets with a client certificate verify the server only when told to;
  // the others always do.
  transport.SetProperty("VerifyMode", "1");
  if (settings.ca_file) transport.SetProperty("CAList", settings.ca_file->c_str());
}

bool IsParsedName(const std::string& name) {
  // Names the reader adds to the reply's fields that did not travel as fields.
  static const char* const kParsed[] = {
      "HTTPVersion",     "HTTPStatus", "HTTPReason", "PeerCertificate",
      "PeerCertExpires", "ALL_ROW",    "_ALL",       "ALL_HTTP"};
  for (const char* parsed : kParsed) {
    if (strcasecmp(name.c_str(), parsed) == 0) return true;
  }
  return false;
}

// The reply's status line and fields, CR LF separated, ending with an empty
// line; empty when there was no reply. The status line is rebuilt from its
// parsed parts: the transport's whole-header text is composed from a request
// line, which a reply does not have.
std::string ReplyHead(Transport& transport) {
  const char* status = transport.GetHeader("header|HTTPStatus");
  if (status == nullptr) return {};
  const char* version = transport.GetHeader("header|HTTPVersion");
  const char* reason = transport.GetHeader("header|HTTPReason");
  std::string head = std::string(version != nullptr ? version : "HTTP/1.0") + " " + status;
  if (reason != nullptr && *reason != '\0') head += std::string(" ") + reason;
  head += "\r\n";
  const char* listing = transport.GetHeader("header|ALL_ROW");  // "Name: value\r\n" per field
  const std::string rows = listing != nullptr ? listing : "";
  for (size_t at = 0; at < rows.size();) {
    size_t end = rows.find("\r\n", at);
    if (end == std::string::npos) end = rows.size();
    const std::string row = rows.substr(at, end - at);
    if (!row.empty() && !IsParsedName(row.substr(0, row.find(':')))) head += row + "\r\n";
    at = end + 2;
  }
  return head + "\r\n";
}

}  // namespace

int RunSend(int argc, char** argv, int first) {
  CommandLine line;
  if (!line.Parse(argc, argv, first, kSendOptions)) return Fail(line.Error() + " (see --help)", 2);
  if (line.Has("help")) {
    std::cout << kSendUsage;
    return 0;
  }
  SendSettings settings;
  if (auto problem = ReadSettings(line, settings))
    return Fail(problem->message + (problem->usage ? " (see --help)" : ""), 2);
  // The secure-channel sockets and the platform stack read their trusted CAs
  // from OpenSSL's default file, before the first connection.
  if (settings.ca_file) setenv("SSL_CERT_FILE", settings.ca_file->c_str(), 1);

  LibraryLog log(!settings.verbose);
  TransportHolder holder{MakeTransport(settings.kind, OrNull(settings.user),
                                       OrNull(settings.password), settings.verbose ? 4 : 0,
                                       nullptr)};
  if (holder.transport == nullptr)
    return Fail("transport kind " + std::to_string(settings.kind) + " is not available", 1);
  Transport& transport = *holder.transport;
  Prepare(transport, settings);
  unsigned long length = settings.body ? settings.body->size() : 0;
  const char* reply =
      transport.Send(settings.url.c_str(), settings.method.c_str(),
                     settings.body ? settings.body->data() : nullptr, &length,
                     settings.certificate ? settings.certificate->c_str() : nullptr);
  const std::string head = ReplyHead(transport);
  if (reply == nullptr && head.empty()) {
    const std::string reason = log.FirstError();
    return Fail("no reply from " + settings.url + (reason.empty() ? "" : ": " + reason), 1);
  }
  if (settings.include) std::fwrite(head.data(), 1, head.size(), stdout);
  if (reply != nullptr) std::fwrite(reply, 1, length, stdout);
  if (std::fflush(stdout) != 0)
    return Fail(std::string("cannot write the reply: ") + std::strerror(errno), 1);
  return 0;
}

}  // namespace corvanetool
