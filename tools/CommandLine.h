// Reading a subcommand's arguments: options with a value ("--folder DIR"), options without one
// ("--dry-run"), and positional arguments. "--" ends the options: every argument after it is positional,
// so that an identifier or a folder may begin with "-".
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace tools {

struct CommandLine {
  std::map<std::string, std::string> values;  // options with a value (the last one given counts)
  std::set<std::string> flags;                // options without a value that were given
  std::vector<std::string> positionals;

  bool Has(const std::string& option) const { return flags.contains(option) || values.contains(option); }
  const std::string* Value(const std::string& option) const {
    const auto it = values.find(option);
    return it == values.end() ? nullptr : &it->second;
  }
};

// The empty string when the arguments are sound, else the problem: an option neither set names ("unknown
// option --x"), or an option with a value at the end ("missing value for --folder"). argv[0] is the
// subcommand's name.
inline std::string ReadCommandLine(int argc, char** argv, const std::set<std::string>& flagNames,
                                   const std::set<std::string>& valueNames, CommandLine& out) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      out.positionals.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (flagNames.contains(argument)) {
      out.flags.insert(argument);
    } else if (!valueNames.contains(argument)) {
      return "unknown option " + argument;
    } else if (i + 1 >= argc) {
      return "missing value for " + argument;
    } else {
      out.values[argument] = argv[++i];
    }
  }
  return {};
}

}  // namespace tools
