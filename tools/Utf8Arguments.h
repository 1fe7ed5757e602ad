// The command-line arguments as UTF-8. Windows hands a narrow main() its arguments in the ANSI code page,
// which loses every character outside it (a Chinese file name on most machines): there they are taken
// from the wide command line instead. Elsewhere they are the arguments as given.
#pragma once

#include <string>
#include <vector>

namespace tools {

class Utf8Arguments {
 public:
  Utf8Arguments(int argc, char** argv);
  int argc() const { return static_cast<int>(pointers_.size()) - 1; }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> arguments_;
  std::vector<char*> pointers_;  // into arguments_, ending with nullptr
};

}  // namespace tools
