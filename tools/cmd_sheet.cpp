// card-photo sheet: the contact sheet (相片核对表) of the photos the database holds, for a class teacher to
// check the faces against the names of one category or one department.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/FilePath.h"
#include "data/Session.h"
#include "import/ReaderLists.h"
#include "records/ContactSheet.h"
#include "records/StoredPhotoSheet.h"
#include "tools/Commands.h"
#include "tools/ConnectionOptions.h"
#include "tools/ConsoleText.h"
#include "tools/TransferSummary.h"

namespace {

const std::string kUsage = std::string("  sheet FILE.html [--category ID [--department NAME]] ") + tools::kConnectionSynopsis + "\n" +
    "      Writes the contact sheet (相片核对表) of the photos stored in the database: each reader's photo,\n"
    "      as stored, beside the card number, name and department, in card-number order; readers without\n"
    "      a photo listed compactly. One HTML file with the pictures inside, readable in any browser and\n"
    "      printable on A4; more than 1000 readers make linked pages FILE-2.html, FILE-3.html, ...\n"
    "      The readers are those a run could import (a card number, neither expired nor cancelled).\n"
    "      --category  only readers of this category number (pe_dzlx)\n"
    "      --department  with --category: only readers of this department, as stored\n" +
    tools::kConnectionUsage +
    "      Prints a line per reader and, as its last line, selected=N stored=N failed=N nofile=N (stored:\n"
    "      readers with a photo, nofile: readers without one). Exit 0 when nothing failed, 1 when some\n"
    "      photos could not be read, 2 when no sheet was written (reason on standard error), 130 when\n"
    "      interrupted (the sheet then shows the readers before the interruption).";

int Usage(const std::string& problem) {
  tools::Fprintf(stderr, "card-photo sheet: %s\nusage:\n%s\n", problem.c_str(), kUsage.c_str());
  return 2;
}

photoimport::SheetHeading Heading(const photoimport::StoredSheetChoice& choice, const tools::ConnectionArguments& connection,
                                  const tools::TransferCounts& counts) {
  photoimport::SheetHeading heading;
  heading.title = "相片核对表（数据库中的相片）";
  heading.date = photoimport::HeadingDateNow();
  heading.source = "数据库，ODBC 数据源 " + connection.dsn.value_or("（保存的连接设置）");
  heading.options.push_back(choice.category ? "读者类型 " + std::to_string(*choice.category) : "全部读者类型");
  if (choice.department) heading.options.push_back("单位 " + *choice.department);
  heading.options.push_back("只含正常读者");
  std::string summary = "共 " + std::to_string(counts.selected) + " 位读者，有相片 " + std::to_string(counts.done) +
                        " 人，没有相片 " + std::to_string(counts.noFile) + " 人";
  if (counts.failed > 0) summary += "，相片无法读取 " + std::to_string(counts.failed) + " 人";
  heading.summary.push_back(summary);
  if (counts.interrupted) heading.summary.push_back("已中断：只含中断前的读者");
  return heading;
}

int SheetMain(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (!std::strcmp(argv[i], "--help")) {
      tools::Printf("usage:\n%s\n", kUsage.c_str());
      return 0;
    }
  tools::CommandLine line;
  std::set<std::string> valueOptions = tools::kConnectionOptions;
  valueOptions.insert({"--category", "--department"});
  if (std::string problem = tools::ReadCommandLine(argc, argv, {}, valueOptions, line); !problem.empty())
    return Usage(problem);
  if (line.positionals.size() != 1) return Usage("one sheet file FILE.html is required");
  photoimport::StoredSheetChoice choice;
  if (const std::string* category = line.Value("--category")) {
    try {
      choice.category = photoimport::ParseCategoryNumber(*category);
    } catch (const std::exception&) {
      return Usage("bad --category " + *category + " (a category number)");
    }
  }
  if (const std::string* department = line.Value("--department")) {
    if (!choice.category) return Usage("--department needs --category ID");
    choice.department = *department;
  }
  const tools::ConnectionArguments connection = tools::ConnectionArgumentsOf(line);
  if (std::string problem = tools::CheckConnectionArguments(connection); !problem.empty()) return Usage(problem);
  tools::WarnOfVisiblePassword("sheet", connection);

  const std::filesystem::path target = std::filesystem::absolute(app::PathFromUtf8(line.positionals[0]));
  std::error_code error;
  if (!std::filesystem::is_directory(target.parent_path(), error)) {
    tools::Fprintf(stderr, "card-photo sheet: the folder of %s does not exist\n", line.positionals[0].c_str());
    return 2;
  }

  data::Session session;
  std::vector<photoimport::SheetReader> readers;
  try {
    tools::Connect(connection, session);
    readers = photoimport::ReadersForStoredSheet(session, choice);
  } catch (const std::exception& failure) {
    tools::Fprintf(stderr, "card-photo sheet: cannot read the readers: %s\n", failure.what());
    return 2;
  }

  photoimport::ContactSheet sheet(photoimport::SheetWorkFolderBeside(target));
  tools::TransferCounts counts;
  counts.selected = static_cast<int>(readers.size());
  tools::StopAfterCurrentOnInterrupt();
  int handled = 0;
  for (photoimport::SheetReader& reader : readers) {
    if (tools::InterruptRequested()) {
      counts.interrupted = true;
      break;
    }
    tools::Printf("[%d/%d] %s %s\n", ++handled, counts.selected, reader.cardNumber.c_str(), reader.name.c_str());
    const std::string cardNumber = reader.cardNumber;
    std::string reason;
    switch (photoimport::AddStoredPhoto(session, std::move(reader), sheet, reason)) {
      case photoimport::SheetOutcome::OnFile: ++counts.done; break;
      case photoimport::SheetOutcome::NoPhoto: ++counts.noFile; break;
      default:
        tools::Printf("%s %s\n", cardNumber.c_str(), reason.c_str());
        ++counts.failed;
    }
  }
  if (const std::string problem = sheet.Publish(target, Heading(choice, connection, counts)); !problem.empty()) {
    tools::Fprintf(stderr, "card-photo sheet: the sheet was not written: %s\n", problem.c_str());
    return 2;
  }
  tools::Fprintf(stderr, "card-photo sheet: %d %s written: %s\n", sheet.pages(), sheet.pages() == 1 ? "page" : "pages",
                 app::Utf8FromPath(target).c_str());
  tools::PrintSummary(counts);
  return tools::ExitCodeOf(counts);
}

[[maybe_unused]] const bool registered = tools::RegisterCommand("sheet", kUsage, SheetMain);

}  // namespace
