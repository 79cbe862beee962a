#include "accessibleprogressbar.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml>

namespace {

// Announces the bar's value changes; lives as long as the interface that owns it.
class ValueAnnouncer : public QObject
{
    Q_OBJECT

public:
    explicit ValueAnnouncer(QQuickItem *bar) : _bar(bar)
    {
        QQmlProperty(bar, QStringLiteral("value")).connectNotifySignal(this, SLOT(announce()));
    }

private slots:
    void announce()
    {
        QAccessibleValueChangeEvent event(_bar, _bar->property("value"));
        QAccessible::updateAccessibility(&event);
    }

private:
    QQuickItem *_bar;
};

class AccessibleProgressBar : public QAccessibleObject, public QAccessibleValueInterface
{
public:
    explicit AccessibleProgressBar(QQuickItem *bar) : QAccessibleObject(bar), _announcer(bar) {}

    QQuickItem *bar() const { return static_cast<QQuickItem *>(object()); }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface *>(this) : nullptr;
    }

    QWindow *window() const override { return bar()->window(); }

    QAccessibleInterface *parent() const override
    {
        // The nearest accessible ancestor; the window stands for its content item, as in Qt Quick.
        const QQuickItem *content = bar()->window() ? bar()->window()->contentItem() : nullptr;
        for (QQuickItem *item = bar()->parentItem(); item; item = item->parentItem()) {
            if (item == content)
                return QAccessible::queryAccessibleInterface(bar()->window());
            if (QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(item))
                return accessible;
        }
        return nullptr;
    }

    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name)
            return QQmlProperty::read(bar(), QStringLiteral("Accessible.name"), qmlContext(bar())).toString();
        return type == QAccessible::Value ? currentValue().toString() : QString();
    }

    QAccessible::Role role() const override { return QAccessible::ProgressBar; }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.invisible = !bar()->window() || !bar()->window()->isVisible() || !bar()->isVisible() ||
                          qFuzzyIsNull(bar()->opacity());
        return state;
    }

    QRect rect() const override
    {
        if (state().invisible)
            return QRect();
        const QRectF scene = bar()->mapRectToScene(QRectF(0, 0, bar()->width(), bar()->height()));
        return QRect(bar()->window()->mapToGlobal(scene.topLeft().toPoint()), scene.size().toSize());
    }

    QVariant currentValue() const override { return bar()->property("value"); }
    void setCurrentValue(const QVariant &) override {} // the installation drives it
    QVariant maximumValue() const override { return bar()->property("maximumValue"); }
    QVariant minimumValue() const override { return bar()->property("minimumValue"); }
    QVariant minimumStepSize() const override { return QVariant(); }

private:
    ValueAnnouncer _announcer;
};

// Known by its properties (of Quick Controls 1, only ProgressBar has all four): the bar is first
// queried while it is still being built, before its objectName is set, and the answer is kept.
QAccessibleInterface *progressBarFactory(const QString &, QObject *object)
{
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item)
        return nullptr;
    for (const char *property : {"value", "minimumValue", "maximumValue", "indeterminate"}) {
        if (item->metaObject()->indexOfProperty(property) < 0)
            return nullptr;
    }
    return new AccessibleProgressBar(item);
}

} // namespace

void installAccessibleProgressBar()
{
    QAccessible::installFactory(progressBarFactory);
}

#include "accessibleprogressbar.moc"
