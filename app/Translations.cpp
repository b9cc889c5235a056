#include "Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
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
        // Dates and sizes in the file dialog follow the language of its texts.
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        return true;
      }
      delete translator;
    }
  }
  return false;
}

}  // namespace quorvex
