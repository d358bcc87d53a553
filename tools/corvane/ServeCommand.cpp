// The "serve" verb.
#include "ServeCommand.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "CommandLine.h"
#include "EmbeddedServer.h"
#include "wirelane/sockets/SocketStartup.h"

namespace corvanetool {

namespace {

constexpr const char* kServeUsage =
    "Usage: corvane serve [options]\n"
    "Serves files and echoes SOAP posts on 127.0.0.1, one log line per request.\n"
    "  -p, --port N         port (default 8080; 0 picks a free one)\n"
    "  -r, --root DIR       folder of the served files (default .)\n"
    "  -u, --user U:P       credentials required below /private/\n"
    "  -h, --help           this text\n";

const std::vector<OptionSpec> kServeOptions = {
    {'p', "port", true}, {'r', "root", true}, {'u', "user", true}, {'h', "help", false}};

volatile std::sig_atomic_t g_interrupted = 0;

void NoteInterrupt(int) { g_interrupted = 1; }

}  // namespace

int RunServe(int argc, char** argv, int first) {
  CommandLine line;
  if (!line.Parse(argc, argv, first, kServeOptions) || !line.Operands().empty()) {
    std::cerr << "corvane serve: " << (line.Error().empty() ? "unexpected operand" : line.Error())
              << " (see --help)\n";
    return 2;
  }
  if (line.Has("help")) {
    std::cout << kServeUsage;
    return 0;
  }
  EmbeddedServer::Settings settings;
  settings.port = std::atoi(line.Value("port").value_or("8080").c_str());
  settings.root = line.Value("root").value_or(".");
  const std::string user = line.Value("user").value_or("");
  settings.user = user.substr(0, user.find(':'));
  if (user.find(':') != std::string::npos) settings.password = user.substr(user.find(':') + 1);

  WSAStartup(0x0202, nullptr);
  EmbeddedServer server(settings, std::cerr);
  if (!server.Listen()) {
    std::cerr << "corvane serve: " << server.Error() << "\n";
    return 1;
  }
  std::cerr << "corvane serve: listening on http://127.0.0.1:" << server.Port() << "/ (root "
            << settings.root << ")\n";
  std::signal(SIGINT, NoteInterrupt);
  std::signal(SIGTERM, NoteInterrupt);
  server.ServeInBackground();
  while (!g_interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.Stop();
  WSACleanup();
  return 0;
}

}  // namespace corvanetool
