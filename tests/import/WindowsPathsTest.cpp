// Windows paths end to end: Chinese file and folder names through card-photo normalize and import (the
// narrow C library would read them in the ANSI code page), an output file replaced where it exists, and a
// drive root as photo folder ("C:\" is the root, "C:" only the drive's current folder).
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/FilePath.h"
#include "app/Text.h"
#include "imaging/PhotoStream.h"
#include "import/PhotoLookup.h"
#include "support/ScratchFolder.h"
#include "support/TestDatabase.h"
#include "support/TestPlatform.h"

namespace photoimport {
namespace {

namespace fs = std::filesystem;
using importtest::ScratchFolder;

const std::string kColourJpeg = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testorig.jpg";
const std::string kAlphaPng = std::string(CARDPHOTO_TESTDATA_DIR) + "/pngsuite/basn6a08.png";

std::wstring Wide(const std::string& utf8) {
  const std::u16string utf16 = app::Utf8ToUtf16(utf8);
  return std::wstring(utf16.begin(), utf16.end());
}

// One argument as CommandLineToArgvW splits it back: quoted, with the backslashes before a quote doubled.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

struct ProgramRun {
  DWORD exitCode = 255;
  std::string output;  // standard output and standard error, as the program wrote them
};

// Runs card-photo (built beside this test program) with UTF-8 arguments; its output goes to a file.
ProgramRun RunCardPhoto(const std::vector<std::string>& arguments, const ScratchFolder& scratch) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = Quoted((fs::path(self).parent_path() / L"card-photo.exe").native());
  for (const std::string& argument : arguments) commandLine += L" " + Quoted(Wide(argument));

  const fs::path outputFile = app::PathFromUtf8(scratch.PathOf("output.txt"));
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE output = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(output, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process{};
  ProgramRun run;
  if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    ADD_FAILURE() << "card-photo did not start";
  }
  CloseHandle(output);
  std::ifstream in(outputFile, std::ios::binary);
  run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

std::vector<std::uint8_t> FileBytes(const std::string& utf8Path) {
  std::ifstream in(app::PathFromUtf8(utf8Path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> Normalized(const std::string& utf8Path) {
  imaging::MemoryStream stream;
  EXPECT_TRUE(imaging::MakePhotoStream(utf8Path, stream)) << utf8Path;
  return stream.bytes;
}

void CopyInto(const std::string& source, const std::string& utf8Target) {
  fs::copy_file(source, app::PathFromUtf8(utf8Target));
  fs::permissions(app::PathFromUtf8(utf8Target), fs::perms::owner_write, fs::perm_options::add);
}

TEST(WindowsPathsTest, FolderFieldKeepsADriveRootAndDropsOtherTrailingSeparators) {
  const struct {
    std::string field, folder, joined;
  } cases[] = {
      {"C:\\photos\\", "C:\\photos", "C:\\photos\\A00001.jpg"},
      {"C:\\photos", "C:\\photos", "C:\\photos\\A00001.jpg"},
      {"C:\\photos\\\\", "C:\\photos\\", "C:\\photos\\\\A00001.jpg"},
      {"C:\\", "C:\\", "C:\\A00001.jpg"},
      {"d:\\", "d:\\", "d:\\A00001.jpg"},
      {"\\", "", "\\A00001.jpg"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StripTrailingSeparator(c.field), c.folder) << c.field;
    EXPECT_EQ(JoinPath(StripTrailingSeparator(c.field), "A00001.jpg"), c.joined) << c.field;
  }
}

TEST(WindowsPathsTest, ADriveRootIsListedAsAPhotoFolder) {
  const std::string stem = "cardphoto-root-" + std::to_string(testsupport::ProcessId());
  const std::string root = StripTrailingSeparator("C:\\");
  CopyInto(kColourJpeg, JoinPath(root, stem + ".jpg"));
  const PhotoFolder folder(root);
  EXPECT_TRUE(folder.Listed());
  const std::string name = folder.FindExact(stem);
  EXPECT_EQ(name, stem + ".jpg");
  EXPECT_EQ(JoinPath(root, name), "C:\\" + stem + ".jpg");
  imaging::MemoryStream stream;
  EXPECT_TRUE(imaging::MakePhotoStream(JoinPath(root, name), stream));
  fs::remove(app::PathFromUtf8("C:\\" + stem + ".jpg"));
}

TEST(WindowsPathsTest, NormalizeReadsAndWritesChineseNamesAndReplacesAnExistingOutput) {
  ScratchFolder scratch;
  scratch.MakeFolder("照片 二班");
  const std::string input = scratch.PathOf("照片 二班\\张三.jpg");
  const std::string output = scratch.PathOf("照片 二班\\张三.bmp");
  CopyInto(kColourJpeg, input);
  const std::vector<std::uint8_t> expected = Normalized(input);
  ASSERT_FALSE(expected.empty());

  const ProgramRun first = RunCardPhoto({"normalize", input, output}, scratch);
  EXPECT_EQ(first.exitCode, 0u) << first.output;
  EXPECT_EQ(FileBytes(output), expected);

  std::ofstream(app::PathFromUtf8(output), std::ios::binary) << "an older file of the same name";
  const ProgramRun again = RunCardPhoto({"normalize", input, output}, scratch);
  EXPECT_EQ(again.exitCode, 0u) << again.output;
  EXPECT_EQ(FileBytes(output), expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(app::PathFromUtf8(scratch.PathOf("照片 二班"))),
                          fs::directory_iterator()),
            2)
      << "a temporary file was left behind";

  const ProgramRun missing = RunCardPhoto({"normalize", scratch.PathOf("李四.jpg"), output}, scratch);
  EXPECT_EQ(missing.exitCode, 1u);
  EXPECT_NE(missing.output.find("李四.jpg: no such file"), std::string::npos) << missing.output;
}

TEST(WindowsPathsTest, ImportMatchesChineseNamesInAChineseFolder) {
  CREATE_DB_OR_SKIP(db, testsupport::Backend::Sqlite);
  db->Exec("insert into lib_duzhe (dz_id, dz_dzlx) values (1, '学生')");
  db->Exec("insert into lib_people (pe_id, pe_name, pe_mark, pe_dzlx) values ('A00001', '张三', '正常', 1)");
  db->Exec("insert into lib_people (pe_id, pe_name, pe_mark, pe_dzlx) values ('A00002', '李玥', '正常', 1)");
  const auto dsn = db->RegisterDataSource("CardPhotoWindowsPaths");

  ScratchFolder scratch;
  scratch.MakeFolder("照片");
  const std::string folder = scratch.PathOf("照片");
  CopyInto(kColourJpeg, JoinPath(folder, "张三.jpg"));
  CopyInto(kAlphaPng, JoinPath(folder, "李玥.png"));

  const ProgramRun found = RunCardPhoto({"find", folder + "\\", "李玥"}, scratch);
  EXPECT_EQ(found.exitCode, 0u);
  EXPECT_EQ(found.output, JoinPath(folder, "李玥.png") + "\r\n");

  const ProgramRun run = RunCardPhoto(
      {"import", "--folder", folder, "--by", "name", "--category", "all", "--dsn", dsn.name, "--user", dsn.user},
      scratch);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("selected=2 stored=2 failed=0 nofile=0"), std::string::npos) << run.output;
  EXPECT_EQ(db->AdminSession().ReadPhoto("A00001"), Normalized(JoinPath(folder, "张三.jpg")));
  EXPECT_EQ(db->AdminSession().ReadPhoto("A00002"), Normalized(JoinPath(folder, "李玥.png")));
}

// card-photo export writes one file per photo into a Chinese folder and card-photo restore reads them back
// from it, byte for byte; what the restore replaces is backed up into a Chinese folder too.
TEST(WindowsPathsTest, ExportAndRestoreThroughChineseFolders) {
  CREATE_DB_OR_SKIP(db, testsupport::Backend::Sqlite, {.withDemoData = true});
  const auto dsn = db->RegisterDataSource("CardPhotoWindowsTransfer");
  const std::optional<data::Bytes> original = db->AdminSession().ReadPhoto("A00002");
  ASSERT_TRUE(original.has_value() && !original->empty()) << "the demo data has a photo for A00002";

  ScratchFolder scratch;
  const std::string exported = scratch.PathOf("导出的相片");
  const std::vector<std::string> connection = {"--dsn", dsn.name, "--user", dsn.user};
  std::vector<std::string> exportCommand = {"export", "--folder", exported};
  exportCommand.insert(exportCommand.end(), connection.begin(), connection.end());
  const ProgramRun exportRun = RunCardPhoto(exportCommand, scratch);
  EXPECT_EQ(exportRun.exitCode, 0u) << exportRun.output;
  EXPECT_EQ(FileBytes(JoinPath(exported, "A00002.bmp")), *original);

  db->AdminSession().WritePhoto("A00002", testsupport::MakeSamplePhoto(3, 3));
  const std::string backups = scratch.PathOf("被替换的相片");
  std::vector<std::string> restoreCommand = {"restore", exported, "--backup-folder", backups};
  restoreCommand.insert(restoreCommand.end(), connection.begin(), connection.end());
  const ProgramRun restoreRun = RunCardPhoto(restoreCommand, scratch);
  EXPECT_EQ(restoreRun.exitCode, 0u) << restoreRun.output;
  EXPECT_EQ(db->AdminSession().ReadPhoto("A00002"), original);
  std::size_t backedUp = 0;
  for (const auto& run : fs::directory_iterator(app::PathFromUtf8(backups)))
    backedUp += fs::exists(run.path() / "A00002.bmp");
  EXPECT_EQ(backedUp, 1u) << "the replaced photo is kept in a run folder under the Chinese backup folder";
}

}  // namespace
}  // namespace photoimport

#endif  // _WIN32
