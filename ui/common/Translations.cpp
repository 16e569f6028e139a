// SPDX-License-Identifier: MIT
#include "ui/common/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace translations {

QString folder()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vexalo4/translations"));
}

bool install(QCoreApplication *app, const QLocale &locale)
{
    auto *qt = new QTranslator(app);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;

    auto *own = new QTranslator(app);
    if (own->load(locale, QStringLiteral("vexalo"), QStringLiteral("_"), folder())) {
        QCoreApplication::installTranslator(own);
        return true;
    }
    // English, and every language without a translation of its own, still
    // needs English's plural forms ("1 file", "2 files").
    if (own->load(QStringLiteral("vexalo_en"), folder())) {
        QCoreApplication::installTranslator(own);
        return locale.language() == QLocale::English || locale.language() == QLocale::C;
    }
    delete own;
    return false;
}

} // namespace translations
