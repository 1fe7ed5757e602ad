// card-photo restore: writes the photos of a backup folder (a run's backup of the photos it replaced, or
// an export) back to the readers the files are named by, byte for byte.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/FilePath.h"
#include "data/Session.h"
#include "records/PhotoBackup.h"
#include "records/PhotoRestore.h"
#include "tools/Commands.h"
#include "tools/ConnectionOptions.h"
#include "tools/ConsoleText.h"
#include "tools/TransferSummary.h"

namespace {

using photoimport::BackupFile;
using photoimport::PhotoBackup;

const std::string kUsage = std::string("  restore DIR [--dry-run] [--backup-folder ROOT] ") + tools::kConnectionSynopsis + "\n" +
    "      Writes each file of the backup folder DIR (as a run's backup or card-photo export wrote them)\n"
    "      unchanged into the pe_photo of the reader it belonged to. Only regular files of DIR (links are\n"
    "      not followed) holding a sound BMP, or a JPEG or PNG the tool's decoders read, are written; an\n"
    "      empty file never. DIR/manifest.csv says whose photo each file is: a file it does not record or\n"
    "      whose SHA-256 differs is refused, and so is a card number that now belongs to a reader of\n"
    "      another name; a photo a run replaced is put back only while the reader still holds the photo\n"
    "      that run stored. A folder without manifest.csv (an earlier version's) goes by the file names,\n"
    "      with a warning. A photo it replaces is backed up first, into a new folder under ROOT (default:\n"
    "      the user's data folder, card-photo/backups), so that a restore can be undone as well.\n"
    "      --dry-run   checks every file and reader, writes nothing\n" +
    tools::kConnectionUsage +
    "      Prints each file that failed and, as its last line, selected=N stored=N failed=N nofile=0\n"
    "      (ready=N with --dry-run). Exit 0 when nothing failed, 1 when some failed, 2 when the restore\n"
    "      could not start (reason on standard error), 130 when interrupted (after the current reader).";

int Usage(const std::string& problem) {
  tools::Fprintf(stderr, "card-photo restore: %s\nusage:\n%s\n", problem.c_str(), kUsage.c_str());
  return 2;
}

int RestoreMain(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (!std::strcmp(argv[i], "--help")) {
      tools::Printf("usage:\n%s\n", kUsage.c_str());
      return 0;
    }
  tools::CommandLine line;
  std::set<std::string> valueOptions = tools::kConnectionOptions;
  valueOptions.insert("--backup-folder");
  if (std::string problem = tools::ReadCommandLine(argc, argv, {"--dry-run"}, valueOptions, line); !problem.empty())
    return Usage(problem);
  if (line.positionals.size() != 1) return Usage("one backup folder DIR is required");
  const tools::ConnectionArguments connection = tools::ConnectionArgumentsOf(line);
  if (std::string problem = tools::CheckConnectionArguments(connection); !problem.empty()) return Usage(problem);
  tools::WarnOfVisiblePassword("restore", connection);

  const std::string& folder = line.positionals[0];
  const photoimport::BackupListing listing = photoimport::ListBackupFolder(app::PathFromUtf8(folder));
  if (!listing.error.empty()) {
    tools::Fprintf(stderr, "card-photo restore: %s\n", listing.error.c_str());
    return 2;
  }
  if (!listing.recorded && !listing.files.empty())
    tools::Fprintf(stderr, "card-photo restore: warning: %s\n", photoimport::kUnrecordedFolderWarning);
  data::Session session;
  try {
    tools::Connect(connection, session);
  } catch (const std::exception& error) {
    tools::Fprintf(stderr, "card-photo restore: cannot connect to the database: %s\n", error.what());
    return 2;
  }

  const std::string* backupFolder = line.Value("--backup-folder");
  photoimport::PhotoRestore restore(session, line.Has("--dry-run"),
                                    backupFolder ? app::PathFromUtf8(*backupFolder) : photoimport::DefaultBackupRoot());
  tools::TransferCounts counts;
  counts.dryRun = line.Has("--dry-run");
  counts.selected = static_cast<int>(listing.files.size() + listing.problems.size());
  for (const std::string& problem : listing.problems) {
    tools::Printf("%s\n", problem.c_str());
    ++counts.failed;
  }
  tools::StopAfterCurrentOnInterrupt();
  int handled = static_cast<int>(listing.problems.size());
  for (const BackupFile& file : listing.files) {
    if (tools::InterruptRequested()) {
      counts.interrupted = true;
      break;
    }
    const std::string path = app::Utf8FromPath(file.path);
    tools::Printf("[%d/%d] %s %s\n", ++handled, counts.selected, file.cardNumber.c_str(), path.c_str());
    if (const std::string failure = restore.File(file); failure.empty()) {
      ++counts.done;
    } else {
      tools::Printf("%s %s\n", path.c_str(), failure.c_str());
      ++counts.failed;
    }
  }
  if (const PhotoBackup* backup = restore.backup(); backup && backup->saved() > 0)
    tools::Printf("photos replaced by the restore are backed up in %s\n", app::Utf8FromPath(backup->folder()).c_str());
  tools::PrintSummary(counts);
  return tools::ExitCodeOf(counts);
}

[[maybe_unused]] const bool registered = tools::RegisterCommand("restore", kUsage, RestoreMain);

}  // namespace
