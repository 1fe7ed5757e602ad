#include "app/SettingsStore.h"

#include "app/SettingsCodec.h"
#include "app/Text.h"

namespace app {
namespace {

constexpr const char* kOdbcNameValue = "ODBCNAME";
constexpr const char* kUserNameValue = "USERNAME";
constexpr const char* kPasswordValue = "PASSWORD";

// The digit encoding works on GBK bytes, so that the library system, which shares the key, reads the
// same values; inside the program the text is UTF-8.
std::string DecodeStored(const std::string& storedUtf8) {
  return GbkToUtf8(DecodeSetting(Utf8ToGbk(storedUtf8)));
}

std::string EncodeForStore(const std::string& plainUtf8) { return EncodeSetting(Utf8ToGbk(plainUtf8)); }

}  // namespace

std::optional<ConnectionSettings> SettingsStore::Read() {
  if (!hive_.KeyExists(kProductKey)) return std::nullopt;
  auto readTrimmed = [this](const char* valueName) {
    return Trim(hive_.ReadString(kProductKey, valueName).value_or(std::string()));
  };
  ConnectionSettings settings;
  settings.odbcName = readTrimmed(kOdbcNameValue);
  settings.userName = DecodeStored(readTrimmed(kUserNameValue));
  settings.password = DecodeStored(readTrimmed(kPasswordValue));
  return settings;
}

bool SettingsStore::Write(const ConnectionSettings& settings) {
  if (!hive_.KeyExists(kMakerKey)) hive_.CreateKey(kMakerKey);
  if (!hive_.KeyExists(kProductKey)) hive_.CreateKey(kProductKey);
  if (!hive_.CanOpenForWriting(kProductKey)) return false;
  hive_.WriteStrings(kProductKey, {
                                      {kOdbcNameValue, Trim(settings.odbcName)},
                                      {kUserNameValue, EncodeForStore(Trim(settings.userName))},
                                      {kPasswordValue, EncodeForStore(Trim(settings.password))},
                                  });
  return true;
}

}  // namespace app
