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
    // A lone "-" is an operand (conventionally standard input).
    if (arg.size() < 2 || arg[0] != '-') {
      operands_.push_back(arg);
      continue;
    }
    const bool read =
        arg[1] == '-' ? ReadLong(arg, argc, argv, i, specs) : ReadShort(arg, argc, argv, i, specs);
    if (!read) return false;
  }
  return true;
}

bool CommandLine::ReadLong(const std::string& arg, int argc, char** argv, int& i,
                           const std::vector<OptionSpec>& specs) {
  const size_t equals = arg.find('=');
  const std::string name =
      arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
  const OptionSpec* spec = nullptr;
  for (const OptionSpec& candidate : specs) {
    if (candidate.long_name != nullptr && name == candidate.long_name) spec = &candidate;
  }
  if (spec == nullptr) {
    error_ = "unknown option --" + name;
    return false;
  }
  if (!spec->takes_value) {
    if (equals == std::string::npos) return Note(*spec, {});
    error_ = "option --" + name + " takes no value";
    return false;
  }
  if (equals != std::string::npos) return Note(*spec, arg.substr(equals + 1));
  return TakeNext(*spec, "--" + name, argc, argv, i);
}

bool CommandLine::ReadShort(const std::string& arg, int argc, char** argv, int& i,
                            const std::vector<OptionSpec>& specs) {
  // Letters may be bundled ("-iv"); the first one that takes a value ends the
  // bundle and takes the rest of the word ("-XPOST") or the next word.
  for (size_t at = 1; at < arg.size(); ++at) {
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& candidate : specs) {
      if (candidate.short_name != 0 && candidate.short_name == arg[at]) spec = &candidate;
    }
    if (spec == nullptr) {
      error_ = "unknown option -" + std::string(1, arg[at]);
      return false;
    }
    if (!spec->takes_value) {
      Note(*spec, {});
      continue;
    }
    if (at + 1 < arg.size()) return Note(*spec, arg.substr(at + 1));
    return TakeNext(*spec, "-" + std::string(1, arg[at]), argc, argv, i);
  }
  return true;
}

bool CommandLine::TakeNext(const OptionSpec& spec, const std::string& spelled, int argc,
                           char** argv, int& i) {
  if (i + 1 >= argc) {
    error_ = "option " + spelled + " needs a value";
    return false;
  }
  return Note(spec, argv[++i]);
}

bool CommandLine::Note(const OptionSpec& spec, std::string value) {
  given_.push_back({NameOf(spec), std::move(value)});
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
