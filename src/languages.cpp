#include "languages.h"

#include "nativepath.h"
#include "plainfile.h"
#include "uilanguages.h"
#include "userfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTranslator>

namespace Languages {

namespace {

const char *const CHOICE_FILE = "language";
// A language code and its line end, with room to spare.
const std::size_t MAX_CHOICE_BYTES = 64;

QString currentCode = QStringLiteral("en");

QString choiceFile()
{
    const QString folder = UserFolder::path();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QLatin1String(CHOICE_FILE));
}

} // namespace

const QVector<Language> &offered()
{
    static const QVector<Language> languages = {
        {QStringLiteral("en"), QStringLiteral("English")},
        {QStringLiteral("de"), QStringLiteral("Deutsch")},
        {QStringLiteral("fr"), QStringLiteral("Français")},
        {QStringLiteral("es"), QStringLiteral("Español")},
        {QStringLiteral("it"), QStringLiteral("Italiano")},
        {QStringLiteral("ja"), QStringLiteral("日本語")},
        {QStringLiteral("zh_CN"), QStringLiteral("简体中文")},
    };
    return languages;
}

QString offeredCode(const QString &name)
{
    // Language, then script or region, in any case and with - or _; an encoding (.UTF-8) or a
    // modifier (@euro) after them says nothing about the language.
    const QStringList parts = name.section(QLatin1Char('.'), 0, 0)
                                  .section(QLatin1Char('@'), 0, 0)
                                  .toLower()
                                  .split(QRegularExpression(QStringLiteral("[-_]")));
    const QString language = parts.value(0);
    if (language == QLatin1String("c") || language == QLatin1String("posix"))
        return QStringLiteral("en");
    if (language == QLatin1String("zh")) {
        for (const QString &part : parts.mid(1)) {
            if (part == QLatin1String("hant") || part == QLatin1String("tw") || part == QLatin1String("hk") ||
                part == QLatin1String("mo"))
                return QString();
        }
        return QStringLiteral("zh_CN");
    }
    for (const Language &offeredLanguage : offered()) {
        if (offeredLanguage.code == language)
            return language;
    }
    return QString();
}

QString pick(const QStringList &preferred)
{
    for (const QString &name : preferred) {
        const QString code = offeredCode(name);
        if (!code.isEmpty())
            return code;
    }
    return QStringLiteral("en");
}

QString atStart(const QString &argument, QString *warning)
{
    if (!argument.isEmpty()) {
        const QString code = offeredCode(argument);
        if (!code.isEmpty())
            return code;
        QStringList codes;
        for (const Language &language : offered())
            codes << language.code;
        *warning = QStringLiteral("--language %1: not a language of this program (%2)")
                       .arg(argument, codes.join(QLatin1String(", ")));
    }
    const QString chosen = saved();
    if (!chosen.isEmpty())
        return chosen;
    QStringList system;
    for (const std::string &language : UiLanguages::preferred())
        system << QString::fromStdString(language);
    return pick(system);
}

bool apply(const QString &code)
{
    if (offeredCode(code) != code)
        return false;
    // Made with the first language other than English, owned by the application.
    static QTranslator *translator = nullptr;
    if (code == QLatin1String("en")) {
        if (translator)
            QCoreApplication::removeTranslator(translator);
        currentCode = code;
        return true;
    }
    const QString folder = qEnvironmentVariable("TALVO_TRANSLATIONS_DIR", QStringLiteral(":/i18n"));
    auto *loaded = new QTranslator(QCoreApplication::instance());
    if (!loaded->load(QStringLiteral("talvo_") + code, folder, QString(), QStringLiteral(".qm"))) {
        delete loaded;
        return false;
    }
    if (translator) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    translator = loaded;
    QCoreApplication::installTranslator(translator);
    currentCode = code;
    return true;
}

QString current()
{
    return currentCode;
}

QString saved()
{
    const QString file = choiceFile();
    std::string content;
    std::string why;
    if (file.isEmpty() ||
        PlainFile::read(nativePath(file), MAX_CHOICE_BYTES, &content, &why) != PlainFile::Outcome::Done)
        return QString();
    const QString code = QString::fromStdString(content).trimmed();
    return offeredCode(code) == code ? code : QString();
}

bool save(const QString &code, QString *why)
{
    const QString file = choiceFile();
    if (file.isEmpty()) {
        *why = QStringLiteral("no per-user folder (%1)").arg(UserFolder::whyNone());
        return false;
    }
    std::string reason;
    if (!QDir().mkpath(QFileInfo(file).path()) ||
        !PlainFile::replace(nativePath(file), (code + QLatin1Char('\n')).toStdString(), &reason)) {
        *why = QStringLiteral("cannot write %1: %2")
                   .arg(QDir::toNativeSeparators(file), QString::fromStdString(reason));
        return false;
    }
    return true;
}

} // namespace Languages
