#include "connection/ToolkitTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QString LoadToolkitTranslation(QCoreApplication& application) {
  // The Windows packages put Qt's translations in a folder beside the program.
  const QString folders[] = {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                             QCoreApplication::applicationDirPath(),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
  for (const QString& folder : folders) {
    auto* translator = new QTranslator(&application);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), folder) && QCoreApplication::installTranslator(translator))
      return translator->filePath();
    delete translator;
  }
  return {};
}
