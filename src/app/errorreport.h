#pragma once

#include <QString>

#include <exception>
#include <new>
#include <optional>

class Dialogs;

// The common error report: one modal warning box that names what failed, the handler and
// the number of the statement that was running, and whom to tell.
class ErrorReporter
{
public:
    static QString messageText(const QString &description, const QString &location, int statement);
    static inline const QString Title = QStringLiteral("Application Error");
    static inline const QString SupportAddress = QStringLiteral("support@ferrowick.com");

    explicit ErrorReporter(Dialogs &dialogs) : m_dialogs(dialogs) {}
    void report(const QString &description, const QString &location, int statement);

private:
    Dialogs &m_dialogs;
};

QString describe(const std::exception &e);

// Runs one handler's numbered statements under the error report. A statement that throws is
// reported with its number and the handler carries on with the next one; whatever a called
// routine throws is charged to the statement that called it.
class Statements
{
public:
    Statements(ErrorReporter &reporter, QString location)
        : m_reporter(reporter), m_location(std::move(location))
    {
    }

    int current() const { return m_current; }

    // Runs a statement; false when it failed (and was reported).
    template <class F> bool run(int number, F &&statement)
    {
        m_current = number;
        try {
            statement();
            return true;
        } catch (const std::exception &e) {
            m_reporter.report(describe(e), m_location, number);
            return false;
        }
    }

    // Reports a failure that a called routine returned rather than threw, charged to the
    // statement with the given number.
    void report(int number, const QString &description)
    {
        m_current = number;
        m_reporter.report(description, m_location, number);
    }

    // The test of a conditional: when the test itself fails, the guarded statements run,
    // as if it had passed.
    template <class F> bool test(int number, F &&condition)
    {
        bool result = true;
        run(number, [&] { result = condition(); });
        return result;
    }

    // A value a later statement needs, such as the bounds of a loop: nothing when it failed,
    // so the statements that need it are skipped rather than run on an unset value.
    template <class T, class F> std::optional<T> value(int number, F &&compute)
    {
        std::optional<T> result;
        run(number, [&] { result = compute(); });
        return result;
    }

private:
    ErrorReporter &m_reporter;
    QString m_location;
    int m_current = 0;
};
