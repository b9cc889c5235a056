#include "Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace quorvex {

QStringList QtTranslationFolders() {
  const QString program = QCoreApplication::applicationDirPath();
  return {program, QDir(program).filePath(QStringLiteral("translations")),
          QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

bool InstallQtTranslations(const QStringList& folders) {
  for (const QString& folder : folders) {
    for (const char* name : {"qtbase_ru", "qt_ru"}) {
      // Owned by the application, which uses it until it ends.
      auto* translator = new QTranslator(QCoreApplication::instance());
      if (translator->load(QLatin1String(name), folder) &&
          QCoreApplication::installTranslator(translator)) {
        return true;
      }
      delete translator;
    }
  }
  return false;
}

}  // namespace quorvex
