// Starting, waiting for and, when it overruns, killing an outside program (used for SPKAC signing).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/SystemError.h"
#include "wirelane/sockets/ProgramRunnerInternal.h"

extern char** environ;

namespace corvane::tls {
namespace {

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// Owns posix_spawn's file-action list for the length of one start.
class SpawnActions {
 public:
  SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool InputFromNull() {
    return ok_ &&
           posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

// Waits for pid until deadline; -2 when the time ran out.
int WaitUntil(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

int RunProgram(const std::vector<std::string>& args, int timeout_ms, std::string* error) {
  if (args.empty()) {
    SetError(error, "no program given");
    return -1;
  }
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  SpawnActions actions;
  if (!actions.InputFromNull()) {
    SetError(error, "cannot prepare the program's input");
    return -1;
  }
  pid_t pid = -1;
  const int started = posix_spawnp(&pid, argv[0], actions.get(), nullptr, argv.data(), environ);
  if (started != 0) {
    SetError(error, "cannot start " + args[0] + ": " + platform::SystemErrorText(started));
    return -1;
  }
  const int status =
      WaitUntil(pid, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms));
  if (status == -2) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    SetError(error, args[0] + " did not finish within " + std::to_string(timeout_ms) + " ms");
    return -1;
  }
  if (status == -1) {
    SetError(error, "lost track of " + args[0] + ": " + platform::SystemErrorText(errno));
    return -1;
  }
  if (!WIFEXITED(status)) {
    SetError(error, args[0] + " was ended by signal " + std::to_string(WTERMSIG(status)));
    return -1;
  }
  return WEXITSTATUS(status);
}

}  // namespace corvane::tls
