#pragma once

#include <QString>

// Copies `source` (a file or a ":/" resource) to `destination`, byte for byte, reading line by
// line. Logs "file_R.open() failed!" or "file_W.open() failed!" and returns false when either
// side cannot be opened, "file_W.commit() failed!" when the copy cannot replace the destination;
// an existing destination then keeps its content.
bool copyFileByLines(const QString &source, const QString &destination);
