// The settings store on the real Windows registry (under Wine in the Windows suite): the key lives in the
// 32-bit view of HKEY_LOCAL_MACHINE, where the 32-bit library system reads it, also from a 64-bit build.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "app/SettingsStore.h"

namespace {

const wchar_t* const kProductKey = L"SOFTWARE\\Korvanel\\Lib";
const wchar_t* const kMakerKey = L"SOFTWARE\\Korvanel";

// The test processes of a suite run side by side and share the one machine key: each test holds this
// mutex from set-up to tear-down, and starts and ends without the key.
class WinRegistryHiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mutex_ = CreateMutexW(nullptr, FALSE, L"Local\\cardphoto-registry-test");
    ASSERT_NE(mutex_, nullptr);
    ASSERT_NE(WaitForSingleObject(mutex_, INFINITE), WAIT_FAILED);
    DeleteKeys();
    hive_ = app::OpenMachineHive();
  }
  void TearDown() override {
    DeleteKeys();
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }

  static void DeleteKeys() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProductKey, view, 0);
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMakerKey, view, 0);
    }
  }

  // Sets a value of the product key in one view, creating the key.
  static void SetValue(REGSAM view, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void SetString(REGSAM view, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    SetValue(view, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  // A string value as the registry holds it in one view; std::nullopt when it is missing.
  static std::optional<std::wstring> GetString(REGSAM view, const wchar_t* name) {
    wchar_t buffer[256];
    DWORD bytes = sizeof buffer;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kProductKey, name, RRF_RT_REG_SZ | (view == KEY_WOW64_32KEY ? RRF_SUBKEY_WOW6432KEY
                                                                                                   : RRF_SUBKEY_WOW6464KEY),
                     nullptr, buffer, &bytes) != ERROR_SUCCESS)
      return std::nullopt;
    return std::wstring(buffer);
  }

  std::optional<app::ConnectionSettings> Read() { return app::SettingsStore(*hive_).Read(); }

  HANDLE mutex_ = nullptr;
  std::unique_ptr<app::RegistryHive> hive_;
};

TEST_F(WinRegistryHiveTest, WrittenSettingsLiveInThe32BitViewAndReadBack) {
  ASSERT_TRUE(app::SettingsStore(*hive_).Write({" LibODBC ", "张三", "abc"}));
  // "abc" in the digit encoding; "张三" is four GBK bytes, sixteen digits.
  EXPECT_EQ(GetString(KEY_WOW64_32KEY, L"ODBCNAME"), L"LibODBC");
  EXPECT_EQ(GetString(KEY_WOW64_32KEY, L"PASSWORD"), L"340334043407");
  EXPECT_EQ(GetString(KEY_WOW64_32KEY, L"USERNAME")->size(), 16u);
  if constexpr (sizeof(void*) == 8) {
    EXPECT_EQ(GetString(KEY_WOW64_64KEY, L"ODBCNAME"), std::nullopt) << "the 64-bit view must stay untouched";
  }
  const auto settings = Read();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->odbcName, "LibODBC");
  EXPECT_EQ(settings->userName, "张三");
  EXPECT_EQ(settings->password, "abc");
}

TEST_F(WinRegistryHiveTest, SettingsOfThe64BitViewAreNotSeen) {
  if constexpr (sizeof(void*) == 4) GTEST_SKIP() << "a 32-bit program sees the 32-bit view only";
  SetString(KEY_WOW64_64KEY, L"ODBCNAME", L"Only64");
  EXPECT_FALSE(Read().has_value());
}

TEST_F(WinRegistryHiveTest, ValuesAreTrimmedAndExpandableStringsReadUnexpandedToTheirFirstNul) {
  SetString(KEY_WOW64_32KEY, L"ODBCNAME", L"  %SystemRoot% \t", REG_EXPAND_SZ);
  SetValue(KEY_WOW64_32KEY, L"USERNAME", REG_EXPAND_SZ, L"3403\0" L"7", 7 * sizeof(wchar_t));  // "a", then NUL
  SetString(KEY_WOW64_32KEY, L"PASSWORD", L" 340334043407 ");
  const auto settings = Read();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->odbcName, "%SystemRoot%");
  EXPECT_EQ(settings->userName, "a");
  EXPECT_EQ(settings->password, "abc");
}

TEST_F(WinRegistryHiveTest, AValueOfAnotherKindFailsTheRead) {
  const DWORD number = 7;
  SetValue(KEY_WOW64_32KEY, L"PASSWORD", REG_DWORD, &number, sizeof number);
  try {
    Read();
    ADD_FAILURE() << "no failure";
  } catch (const app::SettingsError& error) {
    EXPECT_STREQ(error.what(), "Invalid data type for 'PASSWORD'");
  }
}

TEST_F(WinRegistryHiveTest, AKeyWithoutValuesGivesEmptySettingsAndNoKeyNone) {
  EXPECT_FALSE(Read().has_value());
  SetString(KEY_WOW64_32KEY, L"OTHER", L"x");
  const auto settings = Read();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->odbcName, "");
}

}  // namespace

#endif  // _WIN32
