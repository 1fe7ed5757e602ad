// Backups of replaced photos: the file names card numbers become (and back), the extension by content,
// the files written and read back byte for byte, and the folders a backup is refused in.
#include "records/PhotoBackup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

#include "app/UserDataFolder.h"
#include "support/ScratchFolder.h"
#include "support/TestDatabase.h"

namespace {

using importtest::ScratchFolder;
using photoimport::PhotoBackup;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string ReadFile(const std::filesystem::path& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

std::vector<std::string> FileNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A value behind the 8-byte blob header: 16-bit 1, 16-bit 0x0100, 32-bit length of the rest.
Bytes WithBlobHeader(const Bytes& bitmap) {
  const auto n = static_cast<std::uint32_t>(bitmap.size());
  Bytes value(8 + bitmap.size());
  value[0] = 1, value[3] = 1;
  for (int i = 0; i < 4; ++i) value[4 + i] = static_cast<std::uint8_t>(n >> (8 * i));
  std::copy(bitmap.begin(), bitmap.end(), value.begin() + 8);
  return value;
}

TEST(PhotoBackupTest, CardNumbersBecomeFileNamesAndBack) {
  const std::pair<std::string, std::string> cases[] = {
      {"A00001", "A00001"},
      {"张三 01", "张三 01"},
      {"a/b\\c", "a%2Fb%5Cc"},
      {":*?\"<>|", "%3A%2A%3F%22%3C%3E%7C"},
      {"50%", "50%25"},
      {"tab\there\x7F", "tab%09here%7F"},
      {"end.", "end%2E"},
      {"end. .", "end%2E%20%2E"},
      {"a.b", "a.b"},
      {"con", "%63on"},
      {"CON.1", "%43ON.1"},
      {"Aux ", "%41ux%20"},
      {"COM1", "%43OM1"},
      {"lpt9", "%6Cpt9"},
      {"CONOUT$", "%43ONOUT$"},
      {"COM0", "COM0"},
      {"CONSOLE", "CONSOLE"},
  };
  for (const auto& [cardNumber, stem] : cases) {
    SCOPED_TRACE(cardNumber);
    EXPECT_EQ(photoimport::EscapeCardNumber(cardNumber), stem);
    EXPECT_EQ(photoimport::UnescapeCardNumber(stem), cardNumber);
  }
  EXPECT_EQ(photoimport::UnescapeCardNumber("a%2fb"), "a/b") << "either case of hexadecimal digits";
  for (const char* bad : {"%", "A%4", "%G1", "A%zz"}) EXPECT_EQ(photoimport::UnescapeCardNumber(bad), std::nullopt) << bad;
}

TEST(PhotoBackupTest, ExtensionByContent) {
  const Bytes bitmap = testsupport::MakeSamplePhoto();
  Bytes wrongLength = WithBlobHeader(bitmap);
  wrongLength[4] ^= 1;
  const std::pair<Bytes, const char*> cases[] = {
      {bitmap, ".bmp"},
      {WithBlobHeader(bitmap), ".bmp"},
      {ToBytes("BMxx"), ".bmp"},
      {wrongLength, ".bin"},
      {{0xFF, 0xD8, 0xFF, 0xE0, 0, 0}, ".jpg"},
      {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0}, ".png"},
      {ToBytes("GIF89a"), ".bin"},
      {ToBytes("B"), ".bin"},
  };
  for (const auto& [value, extension] : cases) EXPECT_EQ(photoimport::PhotoFileExtension(value), extension);
}

TEST(PhotoBackupTest, SavedValuesReadBackByteForByte) {
  ScratchFolder scratch;
  const std::filesystem::path folder = std::filesystem::path(scratch.path()) / "backup";
  const std::map<std::string, Bytes> values = {
      {"A00001", testsupport::MakeSamplePhoto(3, 2)},
      {"A00002", WithBlobHeader(testsupport::MakeSamplePhoto(5, 1))},
      {"张三", {0xFF, 0xD8, 0xFF, 0xDB, 1, 2, 3}},
      {"con", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 9}},
      {"a/b.", {0, 1, 2, 0, 0xFF}},
  };
  PhotoBackup backup(folder);
  EXPECT_FALSE(std::filesystem::exists(folder)) << "created with the first photo";
  EXPECT_EQ(backup.Save({"A00003", ""}, {}), "") << "an empty value needs no backup";
  EXPECT_FALSE(std::filesystem::exists(folder));
  for (const auto& [cardNumber, value] : values) EXPECT_EQ(backup.Save({cardNumber, ""}, value), "") << cardNumber;
  EXPECT_EQ(backup.saved(), 5);
  const std::vector<std::string> expectedNames = {"%63on.png", "A00001.bmp",   "A00002.bmp",
                                                 "a%2Fb%2E.bin", "manifest.csv", "张三.jpg"};
  EXPECT_EQ(FileNames(folder), expectedNames);

  // A second value for a card number never replaces the first.
  EXPECT_NE(backup.Save({"A00001", ""}, ToBytes("BM other")), "");
  EXPECT_NE(backup.Save({"A00001", ""}, ToBytes("other, as .bin")), "") << "nor beside it under another extension";
  EXPECT_EQ(ReadFile(folder / "A00001.bmp"), std::string(values.at("A00001").begin(), values.at("A00001").end()));

  const photoimport::BackupListing listing = photoimport::ListBackupFolder(folder);
  EXPECT_EQ(listing.error, "");
  EXPECT_TRUE(listing.problems.empty()) << listing.problems.front();
  std::map<std::string, Bytes> readBack;
  for (const auto& file : listing.files) {
    std::string reason;
    ASSERT_TRUE(photoimport::ReadBackupFile(file.path, readBack[file.cardNumber], reason)) << reason;
  }
  EXPECT_EQ(readBack, values);
}

TEST(PhotoBackupTest, FilesThatCannotBeRestoredAreNamed) {
  ScratchFolder folder;
  folder.Write("A1.bmp", "BM");
  folder.Write("A2.BMP", "BM");
  folder.Write("B1.bmp", "BM");
  folder.Write("B1.jpg", "jpeg");  // two files for one card number
  folder.Write("notes.txt");
  folder.Write("A%ZZ.bmp");
  folder.Write(".bmp");
  folder.MakeFolder("sub.bmp");
  const photoimport::BackupListing listing = photoimport::ListBackupFolder(folder.path());
  std::vector<std::string> cards;
  for (const auto& file : listing.files) cards.push_back(file.cardNumber);
  EXPECT_EQ(cards, (std::vector<std::string>{"A1", "A2"}));
  std::vector<std::string> problems = listing.problems;
  std::sort(problems.begin(), problems.end());
  ASSERT_EQ(problems.size(), 5u);
  for (const char* name : {".bmp", "A%ZZ.bmp", "B1.bmp", "B1.jpg", "notes.txt"})
    EXPECT_TRUE(std::any_of(problems.begin(), problems.end(), [&](const std::string& p) { return p.rfind(name + std::string(":"), 0) == 0; }))
        << name;

  EXPECT_NE(photoimport::ListBackupFolder(folder.PathOf("missing")).error, "");
  Bytes bytes;
  std::string reason;
  EXPECT_FALSE(photoimport::ReadBackupFile(folder.PathOf("missing.bmp"), bytes, reason));
  EXPECT_NE(reason.find("missing.bmp"), std::string::npos);
}

TEST(PhotoBackupTest, EachRunGetsAFolderOfItsOwn) {
  ScratchFolder root;
  const auto start = std::chrono::system_clock::now();
  PhotoBackup first = PhotoBackup::ForRun(root.path(), start);
  PhotoBackup second = PhotoBackup::ForRun(root.path(), start);  // started in the same second
  const Bytes value = ToBytes("BM");
  ASSERT_EQ(first.Save({"A1", ""}, value), "");
  ASSERT_EQ(second.Save({"A1", ""}, value), "");
  const std::string name = photoimport::BackupFolderName(start);
  EXPECT_TRUE(std::regex_match(name, std::regex("[0-9]{8}-[0-9]{6}"))) << name;
  EXPECT_EQ(first.folder(), std::filesystem::path(root.path()) / name);
  EXPECT_EQ(second.folder(), std::filesystem::path(root.path()) / (name + "-2"));
  EXPECT_EQ(FileNames(root.path()), (std::vector<std::string>{name, name + "-2"}));
}

TEST(PhotoBackupTest, AFailedWriteIsReported) {
  ScratchFolder scratch;
  scratch.Write("file");
  PhotoBackup underAFile(scratch.PathOf("file/backup"));
  EXPECT_NE(underAFile.Save({"A1", ""}, ToBytes("BM")), "");
  EXPECT_EQ(underAFile.saved(), 0);
  PhotoBackup noCard(scratch.PathOf("backup"));
  EXPECT_NE(noCard.Save({"", ""}, ToBytes("BM")), "");
}

#ifdef _WIN32
// The data folder is the user's LocalAppData, the place Windows sets aside for per-user program data.
TEST(PhotoBackupTest, DefaultRootIsInTheUsersDataFolder) {
  const std::filesystem::path root = photoimport::DefaultBackupRoot();
  ASSERT_TRUE(root.is_absolute()) << root;
  EXPECT_EQ(root.parent_path(), app::UserDataFolder());
  EXPECT_EQ(app::UserDataFolder().filename(), "card-photo");
  EXPECT_EQ(app::UserDataFolder().parent_path().filename(), "Local") << app::UserDataFolder();
}
#else
// The data folder is the XDG one: $XDG_DATA_HOME when it is absolute, else ~/.local/share.
TEST(PhotoBackupTest, DefaultRootIsInTheUsersDataFolder) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
  testsupport::SetEnvironment("XDG_DATA_HOME", "/srv/data home");
  EXPECT_EQ(photoimport::DefaultBackupRoot(), std::filesystem::path("/srv/data home/card-photo/backups"));
  testsupport::SetEnvironment("XDG_DATA_HOME", "relative/ignored");
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') {
    EXPECT_EQ(app::UserDataFolder(), std::filesystem::path(home) / ".local/share/card-photo");
  }
  if (previous) {
    testsupport::SetEnvironment("XDG_DATA_HOME", *previous);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}
#endif

}  // namespace
