// Pages opened in a real browser from a test: Debian's Chromium, headless, driven by tests/support/browse.py
// (the DevTools protocol over a pipe). Linux only: the script runs through a POSIX shell.
#pragma once

#ifndef _WIN32
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/CommandRunner.h"

namespace testsupport {

// Whether a test that needs the browser can run. Without Chromium it may skip (why says so), except where
// the test command installed it (scripts/test sets CARDPHOTO_REQUIRE_BROWSER=1): there the test fails.
inline bool BrowserAvailable(std::string& why) {
  if (std::system("command -v chromium >/dev/null 2>&1 && command -v python3 >/dev/null 2>&1") == 0) return true;
  why = "chromium (Debian's package) or python3 is not installed";
  return false;
}

inline bool BrowserRequired() {
  const char* required = std::getenv("CARDPHOTO_REQUIRE_BROWSER");
  return required && std::string(required) == "1";
}

struct BrowsedPage {
  bool ok = false;
  double loadSeconds = 0;
  std::string value;  // the expression's value
  std::string error;  // the script's standard error when it failed
};

// Opens the file, waits for its load event (every picture decoded or failed), evaluates the JavaScript
// expression, and keeps a screenshot of the whole page when a path is given.
inline BrowsedPage OpenInBrowser(const std::filesystem::path& file, const std::string& expression,
                                 const std::filesystem::path& screenshot = {}) {
  importtest::ScratchFolder scratch;
  std::string command = "python3 " + importtest::ShellQuoted(std::string(CARDPHOTO_SOURCE_DIR) + "/tests/support/browse.py") +
                        " " + importtest::ShellQuoted("file://" + std::filesystem::absolute(file).string()) +
                        " --eval " + importtest::ShellQuoted(expression);
  if (!screenshot.empty()) {
    // A fresh build has no folder for screenshots until the first test that keeps one makes it.
    std::filesystem::create_directories(screenshot.parent_path());
    command += " --screenshot " + importtest::ShellQuoted(screenshot.string());
  }
  const importtest::CommandOutput output = importtest::RunCommandLine(command, scratch);
  BrowsedPage page;
  page.error = output.err;
  const std::size_t firstLine = output.out.find('\n');
  if (output.exitCode != 0 || firstLine == std::string::npos) return page;
  page.ok = true;
  page.loadSeconds = std::atof(output.out.substr(0, firstLine).c_str());
  page.value = output.out.substr(firstLine + 1);
  if (!page.value.empty() && page.value.back() == '\n') page.value.pop_back();
  return page;
}

}  // namespace testsupport

// Skips the test when no browser is there, unless the test command installed one.
#define REQUIRE_BROWSER_OR_SKIP()                                                      \
  do {                                                                                 \
    std::string whyNoBrowser;                                                          \
    if (!::testsupport::BrowserAvailable(whyNoBrowser)) {                              \
      if (::testsupport::BrowserRequired()) FAIL() << whyNoBrowser;                   \
      GTEST_SKIP() << whyNoBrowser;                                                    \
    }                                                                                  \
  } while (false)

#endif  // !_WIN32
