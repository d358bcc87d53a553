// Command-line reading for the corvane verbs.
#include "CommandLine.h"

#include <cstring>

namespace corvanetool {

namespace {

std::string NameOf(const OptionSpec& spec) {
  return spec.long_name != nullptr ? spec.long_name : std::string(1, spec.short_name);
}

}  // namespace

bool CommandLine::Parse(int argc, char** argv, int first, const std::vector<OptionSpec>& specs) {
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      for (++i; i < argc; ++i) operands_.emplace_back(argv[i]);
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      operands_.push_back(arg);
      continue;
    }
    const OptionSpec* spec = nullptr;
    std::optional<std::string> inline_value;
    if (arg[1] == '-') {
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      if (equals != std::string::npos) inline_value = arg.substr(equals + 1);
      for (const OptionSpec& candidate : specs) {
        if (candidate.long_name != nullptr && name == candidate.long_name) spec = &candidate;
      }
    } else {
      for (const OptionSpec& candidate : specs) {
        if (candidate.short_name == arg[1]) spec = &candidate;
      }
      if (spec != nullptr && arg.size() > 2) inline_value = arg.substr(2);  // "-XPOST"
    }
    if (spec == nullptr) {
      error_ = "unknown option " + arg;
      return false;
    }
    std::string value;
    if (spec->takes_value) {
      if (inline_value) {
        value = *inline_value;
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        error_ = "option " + arg + " needs a value";
        return false;
      }
    } else if (inline_value) {
      error_ = "option " + arg + " takes no value";
      return false;
    }
    given_.push_back({NameOf(*spec), value});
  }
  return true;
}

bool CommandLine::Has(const std::string& name) const {
  for (const Given& option : given_) {
    if (option.name == name) return true;
  }
  return false;
}

std::optional<std::string> CommandLine::Value(const std::string& name) const {
  std::optional<std::string> last;
  for (const Given& option : given_) {
    if (option.name == name) last = option.value;
  }
  return last;
}

std::vector<std::string> CommandLine::Values(const std::string& name) const {
  std::vector<std::string> values;
  for (const Given& option : given_) {
    if (option.name == name) values.push_back(option.value);
  }
  return values;
}

}  // namespace corvanetool
