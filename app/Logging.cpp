#include "app/Logging.h"

Q_LOGGING_CATEGORY(lcApp, "zorvel.app")
Q_LOGGING_CATEGORY(lcStore, "zorvel.store")
Q_LOGGING_CATEGORY(lcCapture, "zorvel.capture")
Q_LOGGING_CATEGORY(lcNet, "zorvel.net")
Q_LOGGING_CATEGORY(lcE2ee, "zorvel.e2ee")
Q_LOGGING_CATEGORY(lcPush, "zorvel.push")
Q_LOGGING_CATEGORY(lcDesktop, "zorvel.desktop")
Q_LOGGING_CATEGORY(lcPlugins, "zorvel.plugins")
