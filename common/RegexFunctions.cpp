// Regular-expression match and replace over the platform's regex engine, with failures logged.
#include "common/RegexFunctions.h"

#include <memory>

#include "platform/RegexEngine.h"
#include "sealvault/Debug.h"

namespace {

using corvane::platform::RegexEngine;

// The compiled pattern, or null after logging why it cannot be used.
std::shared_ptr<const RegexEngine> CompileLogged(Debug& debug, const char* pattern) {
  std::string error;
  auto regex = RegexEngine::Compile(pattern, error);
  if (!regex) debug.logerror("Invalid regular expression %s : %s\n", pattern, error.c_str());
  return regex;
}

}  // namespace

bool RegexMatch(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr) return false;
  Debug debug("RegexMatch");
  const auto regex = CompileLogged(debug, pattern);
  if (!regex) return false;
  std::string error;
  const RegexEngine::Result result = regex->Test(text, error);
  if (result == RegexEngine::Result::kError) {
    debug.logerror("Matching %s failed : %s\n", pattern, error.c_str());
  }
  return result == RegexEngine::Result::kMatch;
}

const char* RegexReplace(const char* text, const char* pattern, const char* replacement,
                         std::string& out) {
  if (text == nullptr || pattern == nullptr) return out.c_str();
  Debug debug("RegexReplace");
  const auto regex = CompileLogged(debug, pattern);
  if (!regex) return out.c_str();
  std::string result;
  std::string error;
  if (!regex->Replace(text, replacement != nullptr ? replacement : "", result, error)) {
    debug.logerror("Replacing %s failed : %s\n", pattern, error.c_str());
    return out.c_str();
  }
  out = std::move(result);
  return out.c_str();
}
