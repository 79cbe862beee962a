#pragma once

// Qt Quick gives a value interface only to sliders, spin boxes, dials and scroll bars, so screen
// readers learn a Quick Controls 1 progress bar's value from its name alone. This installs an
// accessibility factory that serves such bars with their value, minimum and maximum, and announces
// changes of their value. Call it before the window is loaded; calling it again does nothing.
void installAccessibleProgressBar();
