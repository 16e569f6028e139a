// SPDX-License-Identifier: MIT
#pragma once

#include <QLocale>
#include <QString>

class QCoreApplication;

// The program's own translations and Qt's, for the user's language.
namespace translations {

// Where the .qm files are: share/vexalo4/translations beside the bin/ folder
// that holds the program, both in the build tree and when installed, so an
// installed program finds them wherever its prefix is.
QString folder();

// Installs the program's translation and Qt's own (its dialogs' buttons) for
// locale into app. English brings only its plural forms; a language without
// a translation falls back to English. Returns whether the program's own
// one for the language was found.
bool install(QCoreApplication *app, const QLocale &locale = QLocale::system());

} // namespace translations
