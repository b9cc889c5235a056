#pragma once

#include <QString>
#include <QStringList>

namespace quorvex {

// Where Qt's Russian translations are looked for, in this order: beside the program (a
// Windows installation), its "translations" folder (where windeployqt puts them), and Qt's
// own translations folder.
QStringList QtTranslationFolders();

// Makes Qt's own texts Russian (the file dialog, the message boxes' buttons, context menus)
// with the first "qtbase_ru.qm" (or the catalogue "qt_ru.qm" that includes it) found in
// `folders`, and makes Russian the default locale. False when there is none: Qt's texts stay
// English.
bool InstallQtTranslations(const QStringList& folders);

}  // namespace quorvex
