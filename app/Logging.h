#pragma once

#include <QLoggingCategory>

// One category per folder ("zorvel.<folder>"): debug output is switched on per
// folder with QT_LOGGING_RULES; warnings and info reach log.txt through the one
// message handler whatever the category.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcStore)
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
Q_DECLARE_LOGGING_CATEGORY(lcNet)
Q_DECLARE_LOGGING_CATEGORY(lcE2ee)
Q_DECLARE_LOGGING_CATEGORY(lcPush)
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)
Q_DECLARE_LOGGING_CATEGORY(lcPlugins)
