#include "app/errorreport.h"

#include "platform/dialogs.h"
#include "platform/runtimeerror.h"

QString ErrorReporter::messageText(const QString &description, const QString &location,
                                   int statement)
{
    return description + QStringLiteral("\r\n") + QStringLiteral("in Brindlemoor2021/08/31.") +
           location + QStringLiteral(" ") + QStringLiteral("at line ") +
           QString::number(statement) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") + SupportAddress;
}

void ErrorReporter::report(const QString &description, const QString &location, int statement)
{
    m_dialogs.message(messageText(description, location, statement), Title, Dialogs::Icon::Warning);
}

QString describe(const std::exception &e)
{
    if (const auto *runtime = dynamic_cast<const RuntimeError *>(&e))
        return runtime->description();
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return QStringLiteral("Out of memory");
    return QString::fromLocal8Bit(e.what());
}
