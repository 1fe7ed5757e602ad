// Running card-photo as a program from a test: standard output and standard error captured apart, the
// exit status as the shell sees it. The command lines go through a POSIX shell: Linux only.
#pragma once

#ifndef _WIN32
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/ScratchFolder.h"

namespace importtest {

inline const std::string kCardPhoto = std::string(CARDPHOTO_BINARY_DIR) + "/tools/card-photo";

struct CommandOutput {
  int exitCode = -1;
  std::string out, err;
  std::string LastLine() const {
    const auto end = out.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    const auto start = out.rfind('\n', end);
    const auto first = start == std::string::npos ? 0 : start + 1;
    return out.substr(first, end - first + 1);
  }
};

// The text as one shell word.
inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A shell command line started with its standard output on a pipe and its standard error in a file of
// the scratch folder.
inline FILE* StartCommandLine(const std::string& commandLine, const ScratchFolder& scratch) {
  return popen((commandLine + " 2>" + ShellQuoted(scratch.PathOf("stderr.txt"))).c_str(), "r");
}

// Reads the rest of the command's output and waits for its end.
inline CommandOutput FinishCommandLine(FILE* pipe, const ScratchFolder& scratch) {
  CommandOutput output;
  if (!pipe) return output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.out.append(buffer, n);
  const int status = pclose(pipe);
  output.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream err;
  err << std::ifstream(scratch.PathOf("stderr.txt")).rdbuf();
  output.err = err.str();
  return output;
}

inline CommandOutput RunCommandLine(const std::string& commandLine, const ScratchFolder& scratch) {
  return FinishCommandLine(StartCommandLine(commandLine, scratch), scratch);
}

}  // namespace importtest

#endif  // !_WIN32
