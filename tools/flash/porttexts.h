#pragma once

#include "updateworker.h"

#include <QString>

// What talvo-flash says of a probed port, by its reason: the reason's name (in --json and the
// result event), its --list line, its error line and the detail a JSON reader gets. `path` is
// the port as the user names it.
namespace PortTexts {

QString name(UpdateWorker::PortReason reason);
// A unit is there, but the flasher cannot use it as things stand.
bool unusable(UpdateWorker::PortReason reason);
QString listLine(const ProbeResult &probe, const QString &path);
QString problem(const ProbeResult &probe, const QString &path);
// What a port that was not understood sent, as text (at most 80 bytes shown); why a port that
// could not be opened for another reason failed; else empty.
QString detail(const ProbeResult &probe);

} // namespace PortTexts
