#pragma once

#include <QLoggingCategory>

// One category per subsystem, so that QT_LOGGING_RULES (for example "talvo.serial.debug=false")
// and the log sinks can tell them apart. The message texts do not change with the category.
Q_DECLARE_LOGGING_CATEGORY(lcStartup)    // talvo.startup: runtime files, scene loading
Q_DECLARE_LOGGING_CATEGORY(lcController) // talvo.controller: the wizard's controller
Q_DECLARE_LOGGING_CATEGORY(lcWorker)     // talvo.worker: port search, probing, installation steps
Q_DECLARE_LOGGING_CATEGORY(lcSerial)     // talvo.serial: the serial line and the handshake
Q_DECLARE_LOGGING_CATEGORY(lcLoader)     // talvo.loader: the bootstrap-loader protocol
Q_DECLARE_LOGGING_CATEGORY(lcImage)      // talvo.image: reading TI-TXT images
// The simulated unit has its own, talvo.sim, with the simulator (off unless asked for).
