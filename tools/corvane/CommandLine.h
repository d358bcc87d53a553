// Command-line reading shared by the corvane verbs: options with values, repeated options, operands.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvanetool {

// One option the verb knows: its short and long spellings and whether it
// takes a value ("-H 'Name: value'", "--port 8080", "--port=8080").
struct OptionSpec {
  char short_name;         // 0 when there is none
  const char* long_name;   // without "--"; null when there is none
  bool takes_value;
};

// The parsed command line of one verb.
class CommandLine {
 public:
  // Reads argv[first..argc). Returns false and sets Error() for an unknown
  // option or a missing value.
  bool Parse(int argc, char** argv, int first, const std::vector<OptionSpec>& specs);

  const std::string& Error() const { return error_; }
  // True when the option (by its long name, or its short letter as text)
  // was given.
  bool Has(const std::string& name) const;
  // The last value given for the option.
  std::optional<std::string> Value(const std::string& name) const;
  // Every value given for the option, in order.
  std::vector<std::string> Values(const std::string& name) const;
  const std::vector<std::string>& Operands() const { return operands_; }

 private:
  struct Given {
    std::string name;  // the long name when the option has one
    std::string value;
  };
  std::vector<Given> given_;
  std::vector<std::string> operands_;
  std::string error_;
};

}  // namespace corvanetool
