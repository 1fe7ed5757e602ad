// Subcommands of card-photo. Each cmd_*.cpp registers its own with a static RegisterCommand call.
#pragma once

#include <string>

namespace tools {

// argc/argv start at the subcommand's name. Returns the process exit code.
using CommandMain = int (*)(int argc, char** argv);

bool RegisterCommand(const std::string& name, const std::string& usage, CommandMain main);

}  // namespace tools
