// The "send" verb: curl-like options mapped onto the transport operations.
#include "SendCommand.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "CommandLine.h"
#include "transport/Transport.h"

namespace corvanetool {

namespace {

constexpr const char* kSendUsage =
    "Usage: corvane send [options] URL\n"
    "Sends one message and prints the reply body.\n"
    "  -X, --request METHOD     method (default GET, or POST with -d)\n"
    "  -H, --header 'N: V'      request header field (repeatable, sent in order)\n"
    "  -d, --data TEXT|@FILE|@- body text, a file's content, or standard input\n"
    "  -i, --include            print the reply status line and fields first\n"
    "  -u, --user USER:PASS     server credentials (Basic or Digest)\n"
    "  -x, --proxy HOST:PORT    send through this proxy\n"
    "  -U, --proxy-user U:P     proxy credentials\n"
    "      --cacert FILE        verify the server against this CA only\n"
    "  -E, --cert FILE          client certificate (PEM with its key)\n"
    "      --kind N             transport kind (default 0, HTTP)\n"
    "  -v, --verbose            debug output on standard error\n"
    "  -h, --help               this text\n";

const std::vector<OptionSpec> kSendOptions = {
    {'X', "request", true}, {'H', "header", true},   {'d', "data", true},
    {'i', "include", false}, {'u', "user", true},    {'x', "proxy", true},
    {'U', "proxy-user", true}, {0, "cacert", true},   {'E', "cert", true},
    {0, "kind", true},      {'v', "verbose", false}, {'h', "help", false},
};

int Fail(const std::string& message, int status = 1) {
  std::cerr << "corvane send: " << message << "\n";
  return status;
}

// Splits "a:b" at its first colon.
std::pair<std::string, std::string> SplitPair(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return {text, ""};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

bool ReadBody(const std::string& data, std::string& body, std::string& error) {
  if (data.empty() || data[0] != '@') {
    body = data;
    return true;
  }
  if (data == "@-") {
    body.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream file(data.substr(1), std::ios::binary);
  if (!file) {
    error = "cannot read " + data.substr(1);
    return false;
  }
  body.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

// Releases the transport whatever way the verb ends.
struct TransportHolder {
  Transport* transport;
  ~TransportHolder() { DestroyTransport(transport); }
};

}  // namespace

int RunSend(int argc, char** argv, int first) {
  CommandLine line;
  if (!line.Parse(argc, argv, first, kSendOptions)) return Fail(line.Error() + " (see --help)", 2);
  if (line.Has("help")) {
    std::cout << kSendUsage;
    return 0;
  }
  if (line.Operands().size() != 1) return Fail("exactly one URL is needed (see --help)", 2);
  const std::string url = line.Operands()[0];

  std::string body;
  std::string error;
  const auto data = line.Value("data");
  if (data && !ReadBody(*data, body, error)) return Fail(error, 2);
  const std::string method = line.Value("request").value_or(data ? "POST" : "GET");
  // The CA file must be in place before the first TLS connection is made.
  if (const auto ca = line.Value("cacert")) setenv("SSL_CERT_FILE", ca->c_str(), 1);

  const int kind = line.Value("kind") ? std::atoi(line.Value("kind")->c_str()) : 0;
  const auto [user, password] = SplitPair(line.Value("user").value_or(""));
  TransportHolder holder{MakeTransport(kind, user.empty() ? nullptr : user.c_str(),
                                       password.empty() ? nullptr : password.c_str(),
                                       line.Has("verbose") ? 4 : 0, nullptr)};
  Transport* transport = holder.transport;
  if (transport == nullptr) return Fail("transport kind " + std::to_string(kind) + " is not available");

  for (const std::string& field : line.Values("header")) {
    const auto [name, value] = SplitPair(field);
    const size_t start = value.find_first_not_of(' ');
    transport->AddHeader(name.c_str(), start == std::string::npos ? "" : value.c_str() + start);
  }
  if (const auto proxy = line.Value("proxy")) {
    const auto [host, port] = SplitPair(*proxy);
    const auto [proxy_user, proxy_password] = SplitPair(line.Value("proxy-user").value_or(""));
    transport->SetProxy(host.c_str(), static_cast<short>(std::atoi(port.c_str())),
                        proxy_user.empty() ? nullptr : proxy_user.c_str(),
                        proxy_password.empty() ? nullptr : proxy_password.c_str());
  }
  const auto certificate = line.Value("cert");

  unsigned long length = body.size();
  const char* reply = transport->Send(url.c_str(), method.c_str(), data ? body.data() : nullptr,
                                      &length, certificate ? certificate->c_str() : nullptr);
  const char* status = transport->GetHeader("header|HTTPStatus");
  if (reply == nullptr && status == nullptr) return Fail("no reply from " + url);
  if (line.Has("include")) {
    if (const char* header = transport->GetHeader("ResponseHeader")) std::fwrite(header, 1, std::strlen(header), stdout);
  }
  if (reply != nullptr) std::fwrite(reply, 1, length, stdout);
  std::fflush(stdout);
  return 0;
}

}  // namespace corvanetool
