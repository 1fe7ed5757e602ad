// card-photo find: the photo file a run would take for one reader identifier.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/Text.h"
#include "import/ImportRun.h"
#include "import/PhotoLookup.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "tools/ConsoleText.h"
#include "tools/NamingRuleOption.h"

namespace {

constexpr const char* kUsage =
    "  find FOLDER IDENTIFIER [--rule exact|segment:N|prefix:N]\n"
    "      Prints the path of the photo file that an import run takes for IDENTIFIER (trimmed and\n"
    "      upper-cased as a run does) in FOLDER; exit 1 when there is none, 2 when FOLDER cannot be\n"
    "      listed. --rule as for import (default exact). After \"--\" every argument is FOLDER or\n"
    "      IDENTIFIER, also one that begins with \"-\".";

int Usage(const char* problem) {
  tools::Fprintf(stderr, "card-photo find: %s\nusage:\n%s\n", problem, kUsage);
  return 2;
}

int FindMain(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (!std::strcmp(argv[i], "--help")) {
      tools::Printf("usage:\n%s\n", kUsage);
      return 0;
    }
  tools::CommandLine line;
  if (const std::string problem = tools::ReadCommandLine(argc, argv, {}, {"--rule"}, line); !problem.empty())
    return Usage(problem.c_str());
  photoimport::NamingRule rule = photoimport::NamingRule::Exact;
  int ruleIndex = 0;
  if (const std::string* text = line.Value("--rule"); text && !tools::ParseNamingRule(*text, rule, ruleIndex))
    return Usage("bad --rule");
  if (line.positionals.size() != 2) return Usage("FOLDER and IDENTIFIER are required");

  const std::string folderPath = photoimport::RunFolder(line.positionals[0]);
  const std::string identifier = photoimport::FoldName(app::Trim(line.positionals[1]));
  if (!photoimport::CanListFolder(folderPath)) {
    photoimport::ImportOptions options;
    options.folder = line.positionals[0];
    tools::Fprintf(stderr, "card-photo find: %s\n",
                 photoimport::CheckMessage(photoimport::ImportCheck::MissingFolder, options).c_str());
    return 2;
  }
  const photoimport::PhotoFolder folder(folderPath);
  const std::string name = folder.FindByRule(identifier, rule, ruleIndex);
  if (name.empty()) return 1;
  tools::Printf("%s\n", photoimport::JoinPath(folderPath, name).c_str());
  return 0;
}

[[maybe_unused]] const bool registered = tools::RegisterCommand("find", kUsage, FindMain);

}  // namespace
