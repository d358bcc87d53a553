// The "serve" verb.
#include "ServeCommand.h"

#include <pthread.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "CommandLine.h"
#include "EmbeddedServer.h"
#include "wirelane/sockets/SocketStartup.h"

namespace corvanetool {

namespace {

constexpr const char* kServeUsage =
    "Usage: corvane serve [options]\n"
    "Serves files and echoes SOAP posts on 127.0.0.1 until interrupted (SIGINT or\n"
    "SIGTERM), one log line per request on standard error.\n"
    "  -p, --port N          port (default 8080; 0 picks a free one)\n"
    "  -r, --root DIR        folder of the served files (default .)\n"
    "  -u, --user USER:PASS  credentials required below /private/ (none: no access)\n"
    "  -h, --help            this text\n"
    "Exit status: 0 after an interrupt, 1 when the port cannot be used, 2 for a bad\n"
    "command line.\n";

const std::vector<OptionSpec> kServeOptions = {
    {'p', "port", true}, {'r', "root", true}, {'u', "user", true}, {'h', "help", false}};

int Fail(const std::string& message, int status) {
  std::cerr << "corvane serve: " << message << "\n";
  return status;
}

// Reads the options into settings; an error message when they are unusable.
std::string ReadSettings(const CommandLine& line, EmbeddedServer::Settings& settings) {
  if (!line.Operands().empty()) return "unexpected operand " + line.Operands()[0];
  const std::string port = line.Value("port").value_or("8080");
  char* end = nullptr;
  const long number = std::strtol(port.c_str(), &end, 10);
  if (port.empty() || *end != '\0' || number < 0 || number > 65535)
    return "--port: expected 0 to 65535, got '" + port + "'";
  settings.port = static_cast<int>(number);
  settings.root = line.Value("root").value_or(".");
  std::error_code ignored;
  if (!std::filesystem::is_directory(settings.root, ignored))
    return "--root: no folder " + settings.root;
  const std::string user = line.Value("user").value_or("");
  const size_t colon = user.find(':');
  settings.user = user.substr(0, colon);
  if (colon != std::string::npos) settings.password = user.substr(colon + 1);
  return {};
}

// Socket start-up held for the life of the verb.
struct SocketLibrary {
  SocketLibrary() { WSAStartup(0x0202, nullptr); }
  ~SocketLibrary() { WSACleanup(); }
};

}  // namespace

int RunServe(int argc, char** argv, int first) {
  CommandLine line;
  if (!line.Parse(argc, argv, first, kServeOptions)) return Fail(line.Error() + " (see --help)", 2);
  if (line.Has("help")) {
    std::cout << kServeUsage;
    return 0;
  }
  EmbeddedServer::Settings settings;
  if (const std::string problem = ReadSettings(line, settings); !problem.empty())
    return Fail(problem + " (see --help)", 2);

  // The stop signals are taken synchronously by this thread: blocked before
  // the serving thread starts (which inherits the mask), then awaited. No
  // handler runs in the middle of the library's calls.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  SocketLibrary sockets;
  EmbeddedServer server(settings, std::cerr);
  if (!server.Listen()) return Fail(server.Error(), 1);
  std::cerr << "corvane serve: listening on http://127.0.0.1:" << server.Port() << "/ (root "
            << settings.root << ")" << std::endl;
  server.ServeInBackground();
  int received = 0;
  sigwait(&stop_signals, &received);
  std::cerr << "corvane serve: stopping on " << (received == SIGINT ? "SIGINT" : "SIGTERM")
            << std::endl;
  server.Stop();
  return 0;
}

}  // namespace corvanetool
