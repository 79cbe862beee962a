#pragma once

#include <QObject>
#include <QVariantList>

class QQmlEngine;

// The window's language for the scenes (QML singleton Translation in module Languages 1.0): the
// language shown, the languages offered, and the choice, which retranslates every binding of the
// engine at once and is kept for the next start. A search or an installation goes on meanwhile:
// only texts change.
class Translation : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString current READ current NOTIFY currentChanged)
    // [{ code, name }], English first.
    Q_PROPERTY(QVariantList offered READ offered CONSTANT)

public:
    explicit Translation(QQmlEngine *engine);

    // Registers the singleton; before the first scene is loaded.
    static void registerType();

    QString current() const;
    QVariantList offered() const;

    // False when the language is not offered or its translation could not be loaded; the window
    // then keeps its language.
    Q_INVOKABLE bool choose(const QString &code);

signals:
    void currentChanged();

private:
    QQmlEngine *_engine;
};
