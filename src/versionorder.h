#pragma once

#include <QString>

// The one rule for how a unit's installed firmware version stands to the carried one, used by the
// window (UpdateDriver) and by talvo-flash alike. A version is two decimal numbers joined by a
// point ("49.09"); the parts are compared as numbers, so "49.9" and "49.09" are the same version.
namespace VersionOrder {

enum class Order
{
    Older,       // the carried version is an update
    Same,        // numerically equal: installing it again is a reinstallation
    Newer,       // installing the carried version is a downgrade
    Incomparable // not two decimal numbers joined by a point, or a part too long for a number
};

Order compare(const QString &installed, const QString &carried);

// The carried version is an update: the installed one is older.
bool isUpdate(const QString &installed, const QString &carried);

// Installing the carried version needs the user's consent: the installed version is newer, or it
// cannot be compared with the carried one and is not the very same text.
bool isDowngrade(const QString &installed, const QString &carried);

} // namespace VersionOrder
