// Command-line reading shared by the corvane verbs: options with values, repeated options,
// operands.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvanetool {

// One option the verb knows: its short and long spellings and whether it
// takes a value ("-H 'Name: value'", "--port 8080", "--port=8080").
struct OptionSpec {
  char short_name;        // 0 when there is none
  const char* long_name;  // without "--"; null when there is none
  bool takes_value;
};

// The parsed command line of one verb.
class CommandLine {
 public:
  // Reads argv[first..argc): "--name value", "--name=value", "-x value",
  // "-xvalue", bundled letters ("-iv"), "--" ending the options. Returns false
  // and sets Error() (one line, naming the option) for an unknown option, a
  // missing value or a value given to an option that takes none.
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
  // Each reads one word of argv at index i (advanced past a value taken from
  // the next word). False with error_ set when the word is not acceptable.
  bool ReadLong(const std::string& arg, int argc, char** argv, int& i,
                const std::vector<OptionSpec>& specs);
  bool ReadShort(const std::string& arg, int argc, char** argv, int& i,
                 const std::vector<OptionSpec>& specs);
  bool TakeNext(const OptionSpec& spec, const std::string& spelled, int argc, char** argv, int& i);
  // Records one option given; always true.
  bool Note(const OptionSpec& spec, std::string value);

  struct Given {
    std::string name;  // the long name when the option has one
    std::string value;
  };
  std::vector<Given> given_;
  std::vector<std::string> operands_;
  std::string error_;
};

}  // namespace corvanetool
