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

KeyValues RegistryHive::ReadStrings(const std::string& keyPath, const std::vector<std::string>& valueNames) {
  KeyValues key;
  key.exists = KeyExists(keyPath);
  if (!key.exists) return key;
  for (const std::string& name : valueNames) {
    if (std::optional<std::string> text = ReadString(keyPath, name)) key.values.emplace(name, std::move(*text));
  }
  return key;
}

std::optional<ConnectionSettings> SettingsStore::Read() {
  KeyValues key = hive_.ReadStrings(kProductKey, {kOdbcNameValue, kUserNameValue, kPasswordValue});
  problem_ = std::move(key.problem);
  if (!key.exists) return std::nullopt;
  auto trimmed = [&key](const char* valueName) {
    const auto it = key.values.find(valueName);
    return it == key.values.end() ? std::string() : Trim(it->second);
  };
  ConnectionSettings settings;
  settings.odbcName = trimmed(kOdbcNameValue);
  settings.userName = DecodeStored(trimmed(kUserNameValue));
  settings.password = DecodeStored(trimmed(kPasswordValue));
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
