#include "logcategories.h"

Q_LOGGING_CATEGORY(lcStartup, "talvo.startup")
Q_LOGGING_CATEGORY(lcController, "talvo.controller")
Q_LOGGING_CATEGORY(lcWorker, "talvo.worker")
Q_LOGGING_CATEGORY(lcSerial, "talvo.serial")
Q_LOGGING_CATEGORY(lcLoader, "talvo.loader")
Q_LOGGING_CATEGORY(lcImage, "talvo.image")
