#include "versionorder.h"

#include <QRegularExpression>

namespace VersionOrder {

Order compare(const QString &installed, const QString &carried)
{
    static const QRegularExpression shape(QStringLiteral("^([0-9]+)\\.([0-9]+)$"));
    const QRegularExpressionMatch a = shape.match(installed);
    const QRegularExpressionMatch b = shape.match(carried);
    if (!a.hasMatch() || !b.hasMatch())
        return Order::Incomparable;
    int numbers[4];
    const QString parts[4] = {a.captured(1), a.captured(2), b.captured(1), b.captured(2)};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts[i].toInt(&ok, 10);
        if (!ok)
            return Order::Incomparable; // too long for a number
    }
    const auto ordered = [](int x, int y) { return x < y ? -1 : x > y ? 1 : 0; };
    const int order = ordered(numbers[0], numbers[2]) != 0 ? ordered(numbers[0], numbers[2])
                                                           : ordered(numbers[1], numbers[3]);
    return order < 0 ? Order::Older : order > 0 ? Order::Newer : Order::Same;
}

bool isUpdate(const QString &installed, const QString &carried)
{
    return compare(installed, carried) == Order::Older;
}

bool isDowngrade(const QString &installed, const QString &carried)
{
    const Order order = compare(installed, carried);
    return order == Order::Newer || (order == Order::Incomparable && installed != carried);
}

} // namespace VersionOrder
