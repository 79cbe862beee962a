#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The languages the window speaks and the one it speaks now: English, the source of every text,
// and the translations carried in the resource collection as :/i18n/talvo_<code>.qm.
namespace Languages {

struct Language
{
    QString code; // "en", "de", "zh_CN": also the name of the translation's file
    QString name; // in the language itself, as the list of languages shows it
};

// English first, then the translations.
const QVector<Language> &offered();

// The offered language that a name of a language means, however a system or a user writes it
// ("de", "de-AT", "de_AT.UTF-8", "zh-Hans-CN", "zh_CN"); empty when none is offered. Chinese in
// traditional characters (zh-Hant, zh-TW, zh-HK, zh-MO) is not Simplified Chinese; "C" and
// "POSIX" are English.
QString offeredCode(const QString &name);

// The first of the preferred languages that is offered; English when none is.
QString pick(const QStringList &preferred);

// The language of this start: that of --language when given (an unknown one is refused with a
// warning, and the start goes on as without it), else the one last chosen in the window, else the
// first of the system's that is offered.
QString atStart(const QString &argument, QString *warning);

// Installs the translation of `code` into the application's one translator, which lives as long
// as the application; English needs none. False, with the language unchanged, when `code` is not
// offered or its translation cannot be loaded. TALVO_TRANSLATIONS_DIR, when set, names a folder
// whose talvo_<code>.qm files are taken instead of the carried ones (for translators).
bool apply(const QString &code);

// The language applied last ("en" before any).
QString current();

// The language chosen in the window, kept in the per-user folder for the next start; empty when
// none was chosen or it cannot be read.
QString saved();
bool save(const QString &code, QString *why);

} // namespace Languages
