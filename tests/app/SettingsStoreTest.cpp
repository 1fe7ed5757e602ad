#include "app/SettingsStore.h"

#include <gtest/gtest.h>
#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/FileHive.h"
#include "support/TestPlatform.h"

namespace {

namespace fs = std::filesystem;

const char* const kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testsupport::MakeTempFolder("settings-store-");
    hiveFile_ = folder_ / "korvanel" / "registry.reg";
  }
  void TearDown() override { fs::remove_all(folder_); }

  void WriteHive(const std::string& text) {
    fs::create_directories(hiveFile_.parent_path());
    std::ofstream(hiveFile_, std::ios::binary) << text;
  }
  std::string HiveText() const {
    std::ifstream in(hiveFile_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::optional<app::ConnectionSettings> Read() {
    app::FileHive hive(hiveFile_);
    return app::SettingsStore(hive).Read();
  }
  bool Write(const app::ConnectionSettings& settings) {
    app::FileHive hive(hiveFile_);
    return app::SettingsStore(hive).Write(settings);
  }

  fs::path folder_;
  fs::path hiveFile_;
};

TEST_F(SettingsStoreTest, NoProductKeyMeansNoSettings) {
  EXPECT_FALSE(Read().has_value());  // no file at all
  WriteHive(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel]\r\n\"ODBCNAME\"=\"x\"\r\n\r\n" +
            "[HKEY_CURRENT_USER\\SOFTWARE\\Korvanel\\Lib]\r\n\"ODBCNAME\"=\"y\"\r\n");
  EXPECT_FALSE(Read().has_value());
}

TEST_F(SettingsStoreTest, ReadsTrimmedAndDecodedValues) {
  WriteHive(std::string(kHeader) +
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel\\Lib]\r\n"
            "\"ODBCNAME\"=\"  LibODBC \t\"\r\n"
            "\"USERNAME\"=\" 340334043407 \"\r\n");
  const auto settings = Read();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->odbcName, "LibODBC");
  EXPECT_EQ(settings->userName, "abc");
  EXPECT_EQ(settings->password, "");  // a missing value reads as empty
}

TEST_F(SettingsStoreTest, ProductKeyWithoutValuesGivesEmptySettings) {
  WriteHive(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel\\Lib]\r\n");
  const auto settings = Read();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->odbcName, "");
  EXPECT_EQ(settings->userName, "");
}

TEST_F(SettingsStoreTest, AcceptsExpandableStringsUnexpandedUpToTheirFirstNul) {
  // "%L%" then NUL then "x", as UTF-16LE over two lines; names in another letter case.
  WriteHive(std::string(kHeader) +
            "[hkey_local_machine\\software\\KORVANEL\\lib]\r\n"
            "\"odbcname\"=hex(2):25,00,4c,00,25,00,\\\r\n  00,00,78,00,00,00\r\n");
  const auto settings = Read();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->odbcName, "%L%");
}

TEST_F(SettingsStoreTest, ValuesOfOtherKindsFailTheRead) {
  const struct {
    const char* line;
    const char* message;
  } cases[] = {
      {"\"ODBCNAME\"=dword:00000001", "Invalid data type for 'ODBCNAME'"},
      {"\"USERNAME\"=hex:34,30", "Invalid data type for 'USERNAME'"},
      {"\"PASSWORD\"=hex(7):41,00,00,00,00,00", "Invalid data type for 'PASSWORD'"},
      {"\"USERNAME\"=\"34a0\"", "'a' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    WriteHive(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel\\Lib]\r\n" + c.line + "\r\n");
    try {
      Read();
      ADD_FAILURE() << "no failure for " << c.line;
    } catch (const app::SettingsError& error) {
      EXPECT_EQ(error.what(), std::string(c.message));
    }
  }
}

TEST_F(SettingsStoreTest, WriteCreatesMakerAndProductKeysWithEncodedValues) {
  ASSERT_TRUE(Write({" LibODBC ", " abc ", "\t"}));
  EXPECT_EQ(HiveText(), std::string(kHeader) +
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel]\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel\\Lib]\r\n"
                            "\"ODBCNAME\"=\"LibODBC\"\r\n"
                            "\"USERNAME\"=\"340334043407\"\r\n"
                            "\"PASSWORD\"=\"\"\r\n\r\n");
#ifndef _WIN32  // POSIX permission bits; Windows grants access by the folder's ACL
  EXPECT_EQ(fs::status(hiveFile_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
#endif
  EXPECT_EQ(std::distance(fs::directory_iterator(hiveFile_.parent_path()), fs::directory_iterator()), 1)
      << "a temporary file was left behind";
}

TEST_F(SettingsStoreTest, WrittenSettingsReadBackAsGbkDigits) {
  ASSERT_TRUE(Write({"图书馆 \"ODBC\"\\", "张三", "pa\"ss"}));
  // The user name is encoded from its GBK bytes D5 C5 C8 FD, as the library system expects.
  EXPECT_NE(HiveText().find("\"USERNAME\"=\"7333703370407773\""), std::string::npos) << HiveText();
  const auto settings = Read();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->odbcName, "图书馆 \"ODBC\"\\");
  EXPECT_EQ(settings->userName, "张三");
  EXPECT_EQ(settings->password, "pa\"ss");
}

TEST_F(SettingsStoreTest, WriteKeepsOtherKeysAndValues) {
  WriteHive(std::string(kHeader) +
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"A\"=dword:00000002\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel\\Lib]\r\n"
            "\"VERSION\"=hex:01,02\r\n\"odbcname\"=\"Old\"\r\n");
  ASSERT_TRUE(Write({"New", "", ""}));
  const std::string text = HiveText();
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"A\"=dword:00000002\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"VERSION\"=hex:01,02\r\n\"odbcname\"=\"New\"\r\n\"USERNAME\"=\"\"\r\n"), std::string::npos)
      << text;
  EXPECT_EQ(Read()->odbcName, "New");
}

TEST_F(SettingsStoreTest, UnwritableLocationReportsFailureAndWritesNothing) {
  std::ofstream(folder_ / "blocker") << "a file where the hive's folder should be";
  hiveFile_ = folder_ / "blocker" / "korvanel" / "registry.reg";
  EXPECT_FALSE(Write({"LibODBC", "sa", ""}));
  EXPECT_FALSE(fs::exists(folder_ / "blocker" / "korvanel"));
}

TEST_F(SettingsStoreTest, FailedFileReplacementRaisesTheRegistryMessages) {
  fs::create_directories(hiveFile_);  // a folder in the hive file's place: it cannot be replaced
  try {
    Write({"LibODBC", "sa", ""});
    ADD_FAILURE() << "no failure";
  } catch (const app::SettingsError& error) {
    EXPECT_EQ(error.what(), std::string("Failed to create key SOFTWARE\\Korvanel"));
  }
  app::FileHive hive(hiveFile_);
  try {
    hive.WriteStrings(app::kProductKey, {{"ODBCNAME", "x"}});
    ADD_FAILURE() << "no failure";
  } catch (const app::SettingsError& error) {
    EXPECT_EQ(error.what(), std::string("Failed to set data for 'ODBCNAME'"));
  }
}

// A settings file that is there but cannot be read is no missing key: its values read as empty (which
// leads to the connection dialog), and the store says which file and why. (A folder in the file's place
// cannot be read even by the superuser, whom file permissions do not stop.)
TEST_F(SettingsStoreTest, AnUnreadableFileGivesEmptyValuesAndSaysWhy) {
  fs::create_directories(hiveFile_);
  app::FileHive hive(hiveFile_);
  app::SettingsStore store(hive);
  const auto settings = store.Read();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->odbcName, "");
  EXPECT_EQ(settings->userName, "");
  EXPECT_EQ(settings->password, "");
  EXPECT_EQ(store.problem(), "cannot read the connection settings in " + hiveFile_.string() + ": " +
                                 testsupport::kFolderOpenedAsFile);
}

TEST_F(SettingsStoreTest, AFileThatIsNoRegistryExportGivesEmptyValuesAndSaysWhy) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel\\Lib]\r\n\"ODBCNAME\"=\"LibODBC\"\r\n";
  const std::string utf16Odd = std::string("\xFF\xFEW\0i\0n", 7);
  const struct {
    const char* what;
    std::string text;
    const char* problem;
  } cases[] = {
      {"not UTF-8", std::string(kHeader) + key + "\"USERNAME\"=\"\xB6\xC1\"\r\n", "not UTF-8 or UTF-16 text"},
      {"NUL characters", std::string(kHeader) + key + std::string("\0\0", 2), "not text: it holds NUL characters"},
      {"odd UTF-16", utf16Odd, "not UTF-16 text: an odd number of bytes"},
      {"empty", "", "line 1: no \"Windows Registry Editor Version 5.00\" header"},
      {"no header", key, "line 1: no \"Windows Registry Editor Version 5.00\" header"},
      {"a line that is no value", std::string(kHeader) + key + "ODBCNAME=LibODBC2\r\n",
       "line 5: not a key, a value or a comment"},
      {"a half-written value", std::string(kHeader) + key + "\"PASSW", "line 5: not a key, a value or a comment"},
      {"a value outside any key", std::string(kHeader) + "\"ODBCNAME\"=\"LibODBC\"\r\n" + key,
       "line 3: a line outside any key"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteHive(c.text);
    app::FileHive hive(hiveFile_);
    app::SettingsStore store(hive);
    const auto settings = store.Read();
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->odbcName, "");
    EXPECT_EQ(store.problem(), "cannot read the connection settings in " + hiveFile_.string() + ": " + c.problem);
  }
  // Comments and blank lines are part of the format.
  WriteHive("\r\n" + std::string(kHeader) + "; written by hand\r\n" + key);
  app::FileHive hive(hiveFile_);
  app::SettingsStore store(hive);
  EXPECT_EQ(store.Read()->odbcName, "LibODBC");
  EXPECT_EQ(store.problem(), "");
}

// One read takes all three values from one reading of the file, so that a read while the dialog saves
// never mixes values of two versions.
TEST_F(SettingsStoreTest, AReadOpensTheFileOnce) {
  WriteHive(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel\\Lib]\r\n\"ODBCNAME\"=\"LibODBC\"\r\n"
            "\"USERNAME\"=\"340334043407\"\r\n\"PASSWORD\"=\"\"\r\n");
#ifndef __linux__
  GTEST_SKIP() << "counts the opens of the file through inotify, which only Linux has";
#else
  const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watcher, 0);
  ASSERT_GE(::inotify_add_watch(watcher, hiveFile_.c_str(), IN_OPEN), 0);
  ASSERT_EQ(Read()->userName, "abc");
  int opens = 0;
  alignas(inotify_event) char events[4096];
  for (ssize_t n; (n = ::read(watcher, events, sizeof events)) > 0;) {
    for (char* p = events; p < events + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
      opens += (reinterpret_cast<inotify_event*>(p)->mask & IN_OPEN) != 0;
  }
  ::close(watcher);
  EXPECT_EQ(opens, 1);
#endif
}

TEST_F(SettingsStoreTest, ReadsAnExportOfTheWindowsRegistryEditor) {
  const std::u16string text =
      u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel\\Lib]\r\n"
      u"\"ODBCNAME\"=\"图书馆\"\r\n";
  std::string bytes;
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  WriteHive(bytes);
  ASSERT_TRUE(Read().has_value());
  EXPECT_EQ(Read()->odbcName, "图书馆");
}

}  // namespace
