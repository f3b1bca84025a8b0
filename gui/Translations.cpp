#include "gui/Translations.h"

#include "text/Translate.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace gui {

namespace {

// Lives as long as the process: text::Tr may be called from any thread
// until the very end.
QTranslator* g_own = nullptr;

std::string Translated(const char* context, const char* text, const char* disambiguation, int n)
{
    QString result = g_own->translate(context, text, disambiguation, n);
    if (result.isEmpty())
        result = QString::fromUtf8(text);
    if (n >= 0)
        result.replace(QLatin1String("%n"), QString::number(n));
    return result.toStdString();
}

}  // namespace

void LoadTranslations(const char* program)
{
    if (g_own)
        return;
    g_own = new QTranslator;
    if (g_own->load(QLocale(), QString::fromUtf8(program), "_", ":/translations"))
        text::SetTranslator(Translated);
}

void InstallTranslations(const char* program)
{
    LoadTranslations(program);
    if (!g_own->isEmpty())
        QCoreApplication::installTranslator(g_own);
    // Owned by the application, which keeps it as long as it runs.
    auto* qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(QLocale(), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
}

}  // namespace gui
