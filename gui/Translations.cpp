#include "gui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace gui {

void InstallTranslations(const char* program)
{
    const QLocale locale;
    // Owned by the application, which keeps them as long as it runs.
    auto* own = new QTranslator(QCoreApplication::instance());
    if (own->load(locale, QString::fromUtf8(program), "_", ":/translations"))
        QCoreApplication::installTranslator(own);
    auto* qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
}

}  // namespace gui
