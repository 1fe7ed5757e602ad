// card-photo: the command-line companion of the photo import tool.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "tools/Commands.h"
#include "tools/ConsoleText.h"
#include "tools/Utf8Arguments.h"

namespace tools {
namespace {

struct Command {
  std::string usage;
  CommandMain main;
};

std::map<std::string, Command>& Registry() {
  static std::map<std::string, Command> commands;
  return commands;
}

void PrintHelp(std::FILE* out) {
  tools::Fprintf(out, "usage: card-photo COMMAND [ARGUMENTS]\n\nCommands:\n");
  for (const auto& [name, command] : Registry()) tools::Fprintf(out, "%s\n", command.usage.c_str());
}

}  // namespace

bool RegisterCommand(const std::string& name, const std::string& usage, CommandMain main) {
  Registry()[name] = Command{usage, main};
  return true;
}

}  // namespace tools

int main(int argc, char** argv) {
  tools::Utf8Arguments utf8(argc, argv);
  argc = utf8.argc();
  argv = utf8.argv();
  // Line by line also into a pipe or a file, so that whoever follows a long run sees each reader as it
  // ends and a killed run leaves every finished line behind. The Windows C runtime has no line buffering
  // (it treats _IOLBF as full buffering), so there the output is not buffered at all.
#ifdef _WIN32
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    tools::PrintHelp(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  auto it = tools::Registry().find(argv[1]);
  if (it == tools::Registry().end()) {
    tools::Fprintf(stderr, "card-photo: unknown command '%s' (see card-photo --help)\n", argv[1]);
    return 2;
  }
  return it->second.main(argc - 1, argv + 1);
}
