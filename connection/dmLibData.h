// TLibDM: the connection module. It owns the program's one database connection, LibDB, and opens it as
// soon as it is created: the stored connection settings replace the design-time alias and parameters, a
// splash window stays on screen while the attempt blocks, and gConnectState follows the attempt.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/SettingsStore.h"
#include "data/Session.h"

class TFlash;

class TLibDM {
 public:
  // Connects at once; throws (data::DbError, app::SettingsError) when the connection cannot be made, and
  // the splash window goes with the module.
  explicit TLibDM(app::RegistryHive& hive);
  ~TLibDM();
  TLibDM(const TLibDM&) = delete;
  TLibDM& operator=(const TLibDM&) = delete;

  data::Session LibDB;

  // The data-source name and the "name=value" parameter lines the connection uses.
  const std::string& AliasName() const { return aliasName_; }
  const std::vector<std::string>& Params() const { return params_; }

  // The splash window while a connection attempt lasts, otherwise null.
  TFlash* Flash() const { return flash_.get(); }

 private:
  void Connect();
  void LibDBBeforeConnect();
  void LibDBAfterConnect();
  std::string ParamValue(const std::string& name) const;

  app::RegistryHive& hive_;
  std::string aliasName_ = "LibODBC";
  std::vector<std::string> params_ = {"USER NAME=sa", "PASSWORD="};
  std::unique_ptr<TFlash> flash_;
};
