#include "uilanguages.h"

#include <QLocale>
#include <QStringList>

namespace UiLanguages {

std::vector<std::string> preferred()
{
    std::vector<std::string> languages;
    for (const QString &language : QLocale::system().uiLanguages())
        languages.push_back(language.toStdString());
    return languages;
}

} // namespace UiLanguages
