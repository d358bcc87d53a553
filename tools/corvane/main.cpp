// corvane: the command-line program through which a person uses the Corvane libraries.
#include <cstring>
#include <iostream>
#include <string>

#include "DemoCommand.h"
#include "SendCommand.h"
#include "ServeCommand.h"

namespace {

constexpr const char* kUsage =
    "Usage: corvane VERB [options]\n"
    "Verbs:\n"
    "  send URL    send one message and print the reply (curl-like options)\n"
    "  serve       run a small HTTP server on 127.0.0.1\n"
    "  demo        run a typical request against the embedded server, step by step\n"
    "Run 'corvane VERB --help' for the options of a verb.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    (argc < 2 ? std::cerr : std::cout) << kUsage;
    return argc < 2 ? 2 : 0;
  }
  const std::string verb = argv[1];
  if (verb == "send") return corvanetool::RunSend(argc, argv, 2);
  if (verb == "serve") return corvanetool::RunServe(argc, argv, 2);
  if (verb == "demo") return corvanetool::RunDemo(argc, argv, 2);
  std::cerr << "corvane: unknown verb '" << verb << "' (see --help)\n";
  return 2;
}
