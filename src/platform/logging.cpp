#include "platform/logging.h"

// Off by default: only warnings and worse pass until a rule turns a category on.
Q_LOGGING_CATEGORY(lcRun, "quorvane.run", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWhois, "quorvane.whois", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRdap, "quorvane.rdap", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWeb, "quorvane.web", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNet, "quorvane.net", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStore, "quorvane.store", QtWarningMsg)

namespace Logging {

void enableVerbose()
{
    QLoggingCategory::setFilterRules(QStringLiteral("quorvane.*.info=true"));
}

} // namespace Logging
