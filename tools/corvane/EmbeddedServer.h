// A small HTTP server made only of the family's server-side classes, for "serve" and "demo".
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "wirelane/http/HTTPSock.h"

class NetInput;
class NetOutput;

namespace corvanetool {

// Serves, one connection at a time, on 127.0.0.1 (or the given address):
//   POST any path      echoes the body inside a SOAP reply envelope with the
//                      request's header fields in order, lists the
//                      attachments received and sends them back (DIME)
//   GET /redirect?to=X answers 302 with Location X
//   GET /private/...   root/private/..., after Basic authentication
//   GET other paths    the file below root (a folder's index.html; gzip when
//                      the client accepts it)
//   other methods      405
// Paths are decoded and cleaned of empty and "." segments first; a path with
// a ".." segment is refused with 403. Logs one line per request:
// <peer> "<method> <path> <version>" <status> <body bytes>, control
// characters, backslashes and double quotes written as \xNN.
class EmbeddedServer {
 public:
  struct Settings {
    std::string address = "127.0.0.1";
    int port = 0;            // 0: a free port
    std::string root = ".";  // folder of the served files
    std::string user;        // credentials of /private/ (empty: no access)
    std::string password;
  };

  EmbeddedServer(Settings settings, std::ostream& log);
  ~EmbeddedServer();
  EmbeddedServer(const EmbeddedServer&) = delete;
  EmbeddedServer& operator=(const EmbeddedServer&) = delete;

  // Starts listening. False (with the reason in Error()) when the address
  // cannot be used.
  bool Listen();
  // The port listened on.
  int Port() const;
  const std::string& Error() const { return error_; }
  // Answers connections until Stop (blocking).
  void Serve();
  // Serves on a thread of its own until Stop.
  void ServeInBackground();
  // Stops serving and waits for the current connection to end.
  void Stop();

 private:
  void HandleConnection(HTTPSock& connection);
  // Each answers the request and returns the status sent; *sent gets the
  // body bytes sent (before any content coding).
  int Answer(NetInput& request, HTTPSock& connection, unsigned long* sent);
  int AnswerSoap(NetInput& request, NetOutput& reply, unsigned long* sent);
  // Sends a reply without body of its own (the library's error page with
  // text) and returns status.
  static int AnswerStatus(NetOutput& reply, int status, const char* text);
  // The request's header fields as <Field name="N">V</Field> elements, in
  // the order received, inside <Fields>.
  static std::string EchoFields(NetInput& request);
  int AnswerFile(NetInput& request, NetOutput& reply, const std::string& path, unsigned long* sent);
  bool Authorized(NetInput& request) const;
  void LogLine(const std::string& peer, const std::string& line, int status, unsigned long bytes);

  Settings settings_;
  std::ostream& log_;
  std::mutex log_lock_;
  HTTPSock listener_;
  std::atomic<bool> stopping_{false};
  std::thread background_;
  std::string error_;
};

}  // namespace corvanetool
