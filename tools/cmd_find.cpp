// card-photo find: the photo file a run would take for one reader identifier.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/Text.h"
#include "import/ImportRun.h"
#include "import/PhotoLookup.h"
#include "tools/Commands.h"
#include "tools/ConsoleText.h"
#include "tools/NamingRuleOption.h"

namespace {

constexpr const char* kUsage =
    "  find FOLDER IDENTIFIER [--rule exact|segment:N|prefix:N]\n"
    "      Prints the path of the photo file that an import run takes for IDENTIFIER (trimmed and\n"
    "      upper-cased as a run does) in FOLDER; exit 1 when there is none. --rule as for import\n"
    "      (default exact).";

int Usage(const char* problem) {
  tools::Fprintf(stderr, "card-photo find: %s\nusage:\n%s\n", problem, kUsage);
  return 2;
}

int FindMain(int argc, char** argv) {
  std::string positional[2];
  int positionals = 0;
  photoimport::NamingRule rule = photoimport::NamingRule::Exact;
  int ruleIndex = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help")) {
      tools::Printf("usage:\n%s\n", kUsage);
      return 0;
    }
    if (!std::strcmp(argv[i], "--rule")) {
      if (i + 1 >= argc || !tools::ParseNamingRule(argv[++i], rule, ruleIndex)) return Usage("bad --rule");
    } else if (positionals < 2 && argv[i][0] != '-') {
      positional[positionals++] = argv[i];
    } else {
      return Usage((std::string("unexpected argument ") + argv[i]).c_str());
    }
  }
  if (positionals != 2) return Usage("FOLDER and IDENTIFIER are required");

  const std::string folderPath = photoimport::RunFolder(positional[0]);
  const std::string identifier = photoimport::FoldName(app::Trim(positional[1]));
  const photoimport::PhotoFolder folder(folderPath);
  const std::string name = folder.FindByRule(identifier, rule, ruleIndex);
  if (name.empty()) return 1;
  tools::Printf("%s\n", photoimport::JoinPath(folderPath, name).c_str());
  return 0;
}

[[maybe_unused]] const bool registered = tools::RegisterCommand("find", kUsage, FindMain);

}  // namespace
