// The "demo" verb: a SOAP post, a gzip reply, a redirect, Basic authentication and a DIME
// attachment.
#include "DemoCommand.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "EmbeddedServer.h"
#include "sealvault/Debug.h"
#include "transport/Transport.h"

namespace corvanetool {

namespace {

constexpr const char* kDemoUsage =
    "Usage: corvane demo\n"
    "Starts the embedded server on a free loopback port and sends it the typical\n"
    "requests through MakeTransport, printing each step and its result.\n";

constexpr const char* kUser = "demo";
constexpr const char* kPassword = "s3cret";

// The files the embedded server serves during the demo, in a private folder.
struct DemoFiles {
  std::filesystem::path root;
  std::string hello = "Hello from the Corvane embedded server.\n";
  std::string catalog;
  std::string picture;

  DemoFiles() {
    char pattern[] = "/tmp/corvane-demo-XXXXXX";
    root = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    for (int i = 0; i < 400; ++i)
      catalog += "<item id=\"" + std::to_string(i) + "\"><name>Part " + std::to_string(i) +
                 "</name></item>\n";
    catalog = "<?xml version=\"1.0\"?>\n<catalog>\n" + catalog + "</catalog>\n";
    for (int i = 0; i < 3000; ++i) picture += static_cast<char>((i * 37 + 11) & 0xFF);
    Write("hello.txt", hello);
    std::filesystem::create_directory(root / "private");
    Write("private/hello.txt", hello);
    Write("catalog.xml", catalog);
    Write("picture.gif", picture);
  }
  ~DemoFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  void Write(const char* name, const std::string& bytes) const {
    std::ofstream(root / name, std::ios::binary) << bytes;
  }
  std::string Path(const char* name) const { return (root / name).string(); }
};

struct Step {
  const char* title;
  std::function<std::string(std::string&)> run;  // returns the details; sets the failure text
};

// A transport released whatever way a step ends.
class DemoTransport {
 public:
  DemoTransport(const char* user = nullptr, const char* password = nullptr)
      : transport_(MakeTransport(0, user, password, 0, nullptr)) {}
  ~DemoTransport() { DestroyTransport(transport_); }
  Transport* operator->() { return transport_; }
  explicit operator bool() const { return transport_ != nullptr; }

  std::string Send(const std::string& url, const char* method, const std::string& body = {}) {
    unsigned long length = body.size();
    const char* reply = transport_->Send(url.c_str(), method, body.empty() ? nullptr : body.data(),
                                         &length, nullptr);
    return reply != nullptr ? std::string(reply, length) : std::string();
  }
  std::string Status() {
    const char* status = transport_->GetHeader("header|HTTPStatus");
    return status != nullptr ? status : "none";
  }

 private:
  Transport* transport_;
};

std::string Envelope(const std::string& payload) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
         "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>" +
         payload + "</soap:Body></soap:Envelope>";
}

std::vector<Step> Steps(const std::string& base, const DemoFiles& files) {
  return {
      {"SOAP POST with a SOAPAction",
       [base](std::string& failure) -> std::string {
         DemoTransport transport;
         transport->AddHeader("SOAPAction", "urn:corvane:ping");
         const std::string reply =
             transport.Send(base + "/soap", "POST", Envelope("<Ping>42</Ping>"));
         if (transport.Status() != "200" ||
             reply.find("&lt;Ping&gt;42&lt;/Ping&gt;") == std::string::npos ||
             reply.find("urn:corvane:ping") == std::string::npos)
           failure = "status " + transport.Status() + ", reply did not echo the request";
         return "status " + transport.Status() + ", " + std::to_string(reply.size()) +
                "-byte envelope echoed";
       }},
      {"gzip reply",
       [base, &files](std::string& failure) -> std::string {
         DemoTransport transport;
         transport->AddHeader("Accept-Encoding", "gzip");
         const std::string reply = transport.Send(base + "/catalog.xml", "GET");
         const char* coding = transport->GetHeader("header|Content-Encoding");
         if (reply != files.catalog || coding == nullptr || std::strcmp(coding, "gzip") != 0)
           failure = "the reply was not the gzip-coded catalog";
         return std::to_string(reply.size()) + " bytes after gunzip, Content-Encoding " +
                (coding != nullptr ? coding : "none");
       }},
      {"redirect",
       [base, &files](std::string& failure) -> std::string {
         DemoTransport transport;
         const std::string reply = transport.Send(base + "/redirect?to=/hello.txt", "GET");
         if (reply != files.hello)
           failure = "status " + transport.Status() + " instead of the redirected file";
         return "302 followed to /hello.txt, status " + transport.Status();
       }},
      {"Basic authentication",
       [base, &files](std::string& failure) -> std::string {
         DemoTransport anonymous;
         anonymous.Send(base + "/private/hello.txt", "GET");
         DemoTransport signed_in(kUser, kPassword);
         const std::string reply = signed_in.Send(base + "/private/hello.txt", "GET");
         if (anonymous.Status() != "401" || reply != files.hello)
           failure =
               "without credentials " + anonymous.Status() + ", with them " + signed_in.Status();
         return "without credentials " + anonymous.Status() + ", with them " + signed_in.Status();
       }},
      {"DIME attachment",
       [base, &files](std::string& failure) -> std::string {
         DemoTransport transport;
         transport->AddAttachment(files.Path("picture.gif").c_str(), "urn:corvane:picture",
                                  "image/gif", "application/dime");
         const std::string reply = transport.Send(base + "/soap", "POST", Envelope("<Store/>"));
         unsigned long size = 0;
         const unsigned char* back = transport->GetAttachment(1, size);
         const bool same = back != nullptr &&
                           std::string(reinterpret_cast<const char*>(back), size) == files.picture;
         if (!same || reply.find("size=\"3000\"") == std::string::npos)
           failure = "the attachment did not travel both ways intact";
         return "3000-byte picture sent and returned intact";
       }},
  };
}

}  // namespace

int RunDemo(int argc, char** argv, int first) {
  CommandLine line;
  if (!line.Parse(argc, argv, first, {{'h', "help", false}}) || !line.Operands().empty()) {
    std::cerr << "corvane demo: "
              << (line.Error().empty() ? "unexpected operand " + line.Operands()[0] : line.Error())
              << " (see --help)\n";
    return 2;
  }
  if (line.Has("help")) {
    std::cout << kDemoUsage;
    return 0;
  }
  DemoFiles files;
  // The library's own log lines (an expected 401 among them) go to a file,
  // shown only when a step fails.
  const std::string library_log = files.Path("library.log");
  Debug::SetLogFile(library_log.c_str());
  std::ostringstream server_log;
  EmbeddedServer::Settings settings;
  settings.root = files.root.string();
  settings.user = kUser;
  settings.password = kPassword;
  EmbeddedServer server(settings, server_log);
  if (!server.Listen()) {
    std::cerr << "corvane demo: " << server.Error() << "\n";
    return 1;
  }
  server.ServeInBackground();
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
  std::cout << "corvane demo: embedded server on " << base << "/\n";

  int passed = 0;
  const std::vector<Step> steps = Steps(base, files);
  for (size_t i = 0; i < steps.size(); ++i) {
    std::string failure;
    const std::string details = steps[i].run(failure);
    std::printf("step %zu  %-28s %s  (%s)\n", i + 1, steps[i].title,
                failure.empty() ? "ok    " : "FAILED",
                failure.empty() ? details.c_str() : failure.c_str());
    if (failure.empty()) ++passed;
  }
  server.Stop();
  Debug::SetLogFile(nullptr);
  std::cout << "server log:\n" << server_log.str();
  const bool all = passed == static_cast<int>(steps.size());
  if (!all) {
    std::ifstream log(library_log);
    std::cout << "library log:\n" << log.rdbuf();
  }
  std::printf("%d of %zu steps passed\n", passed, steps.size());
  std::fflush(stdout);
  return all ? 0 : 1;
}

}  // namespace corvanetool
