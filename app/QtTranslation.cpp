#include "app/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

void InstallQtTranslation(QCoreApplication& application) {
#ifdef _WIN32
  const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
#else
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
  auto* translator = new QTranslator(&application);
  if (translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
    application.installTranslator(translator);
  } else {
    delete translator;
  }
}
