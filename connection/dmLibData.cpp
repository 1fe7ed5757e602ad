#include "connection/dmLibData.h"

#include <cstdio>

#include "app/unGlobal.h"
#include "connection/frmFlash.h"

TLibDM::TLibDM(app::RegistryHive& hive) : hive_(hive) { Connect(); }

TLibDM::~TLibDM() = default;

void TLibDM::Connect() {
  LibDBBeforeConnect();
  LibDB.Connect(aliasName_, ParamValue("USER NAME"), ParamValue("PASSWORD"));
  LibDBAfterConnect();
}

void TLibDM::LibDBBeforeConnect() {
  app::SettingsStore store(hive_);
  const std::optional<app::ConnectionSettings> settings = store.Read();
  // The empty values of unreadable settings lead to the dialog; the reason goes to the administrator.
  if (!store.problem().empty()) std::fprintf(stderr, "%s\n", store.problem().c_str());
  if (settings) {
    aliasName_ = settings->odbcName;
    params_.clear();
    params_.push_back("USER NAME=" + settings->userName);
    params_.push_back("PASSWORD=" + settings->password);
  }
  gConnectState = kConnectingText;
  flash_ = std::make_unique<TFlash>();
  flash_->ShowAndPaint();
}

void TLibDM::LibDBAfterConnect() {
  flash_.reset();
  gConnectState = kConnectedText;
}

// The value of the first "name=value" line for name; empty when there is none.
std::string TLibDM::ParamValue(const std::string& name) const {
  const std::string prefix = name + "=";
  for (const std::string& line : params_) {
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  }
  return {};
}
