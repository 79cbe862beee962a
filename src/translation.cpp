#include "translation.h"

#include "languages.h"
#include "logcategories.h"

#include <QQmlEngine>
#include <QVariantMap>
#include <QtQml>

// Owned by the engine, which deletes its singletons with itself.
Translation::Translation(QQmlEngine *engine) : _engine(engine) {}

void Translation::registerType()
{
    qmlRegisterSingletonType<Translation>(
        "Languages", 1, 0, "Translation",
        [](QQmlEngine *engine, QJSEngine *) -> QObject * { return new Translation(engine); });
}

QString Translation::current() const
{
    return Languages::current();
}

QVariantList Translation::offered() const
{
    QVariantList list;
    for (const Languages::Language &language : Languages::offered())
        list << QVariantMap{{QStringLiteral("code"), language.code}, {QStringLiteral("name"), language.name}};
    return list;
}

bool Translation::choose(const QString &code)
{
    if (code == Languages::current())
        return true;
    if (!Languages::apply(code)) {
        qCWarning(lcStartup) << "The translation" << code << "could not be loaded";
        return false;
    }
    _engine->retranslate();
    emit currentChanged();
    QString why;
    if (!Languages::save(code, &why))
        qCWarning(lcStartup) << "The choice of language is not kept:" << why;
    qCDebug(lcStartup) << "Language" << code;
    return true;
}
