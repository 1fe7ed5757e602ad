// card-photo export: every stored photo written as a file named by its reader's card number, byte for
// byte: a full photo backup that card-photo restore writes back.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/FilePath.h"
#include "data/Session.h"
#include "records/PhotoBackup.h"
#include "records/PhotoExport.h"
#include "tools/Commands.h"
#include "tools/ConnectionOptions.h"
#include "tools/ConsoleText.h"
#include "tools/TransferSummary.h"

namespace {

const std::string kUsage = std::string("  export --folder DIR ") + tools::kConnectionSynopsis + "\n" +
    "      Writes the stored photo of every reader into DIR (a new or empty folder), one file per reader\n"
    "      named by the card number (CARDNUMBER.bmp, .jpg, .png or .bin by content), byte for byte as\n"
    "      stored, and records in DIR/manifest.csv whose photo each file is (card number, name, SHA-256);\n"
    "      a card number too long for a file name gets the name %~DIGEST instead, which the output and the\n"
    "      manifest name. card-photo restore DIR writes them back to the same readers.\n" +
    tools::kConnectionUsage +
    "      Prints each reader that failed and, as its last line, selected=N stored=N failed=N nofile=N\n"
    "      (nofile: readers whose photo value is empty). Exit 0 when nothing failed, 1 when some failed,\n"
    "      2 when the export could not start (reason on standard error), 130 when interrupted.";

int Usage(const std::string& problem) {
  tools::Fprintf(stderr, "card-photo export: %s\nusage:\n%s\n", problem.c_str(), kUsage.c_str());
  return 2;
}

int ExportMain(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (!std::strcmp(argv[i], "--help")) {
      tools::Printf("usage:\n%s\n", kUsage.c_str());
      return 0;
    }
  tools::CommandLine line;
  std::set<std::string> valueOptions = tools::kConnectionOptions;
  valueOptions.insert("--folder");
  if (std::string problem = tools::ReadCommandLine(argc, argv, {}, valueOptions, line); !problem.empty())
    return Usage(problem);
  if (!line.positionals.empty()) return Usage("unexpected argument " + line.positionals[0]);
  if (!line.Has("--folder")) return Usage("--folder is required");
  const tools::ConnectionArguments connection = tools::ConnectionArgumentsOf(line);
  if (std::string problem = tools::CheckConnectionArguments(connection); !problem.empty()) return Usage(problem);
  tools::WarnOfVisiblePassword("export", connection);
  const std::filesystem::path folder = app::PathFromUtf8(*line.Value("--folder"));
  if (!photoimport::IsNewOrEmptyFolder(folder)) {
    tools::Fprintf(stderr, "card-photo export: %s is not a new or empty folder\n", line.Value("--folder")->c_str());
    return 2;
  }

  data::Session session;
  std::vector<photoimport::PhotoOwner> readers;
  try {
    tools::Connect(connection, session);
    readers = photoimport::ReadersWithPhoto(session);
  } catch (const std::exception& error) {
    tools::Fprintf(stderr, "card-photo export: cannot read the readers with a photo: %s\n", error.what());
    return 2;
  }

  photoimport::PhotoBackup files(folder);
  tools::TransferCounts counts;
  counts.selected = static_cast<int>(readers.size());
  tools::StopAfterCurrentOnInterrupt();
  int handled = 0;
  for (const photoimport::PhotoOwner& reader : readers) {
    const std::string& cardNumber = reader.cardNumber;
    if (tools::InterruptRequested()) {
      counts.interrupted = true;
      break;
    }
    tools::Printf("[%d/%d] %s\n", ++handled, counts.selected, cardNumber.c_str());
    std::string reason;
    switch (photoimport::ExportReader(session, files, reader, reason)) {
      case photoimport::Exported::Written: ++counts.done; break;
      case photoimport::Exported::WrittenUnderOtherName:
        tools::Printf("%s saved as %s (the card number is too long for a file name; see %s)\n", cardNumber.c_str(),
                      app::Utf8FromPath(files.SavedFile(cardNumber).filename()).c_str(), photoimport::kManifestFileName);
        ++counts.done;
        break;
      case photoimport::Exported::EmptyValue: ++counts.noFile; break;
      case photoimport::Exported::Failed:
        tools::Printf("%s %s\n", cardNumber.c_str(), reason.c_str());
        ++counts.failed;
        break;
    }
  }
  tools::PrintSummary(counts);
  return tools::ExitCodeOf(counts);
}

[[maybe_unused]] const bool registered = tools::RegisterCommand("export", kUsage, ExportMain);

}  // namespace
