#pragma once

#include <QString>
#include <stdexcept>

// A run-time failure of an operation, carrying the text the common error report shows.
class RuntimeError : public std::runtime_error
{
public:
    explicit RuntimeError(const QString &description)
        : std::runtime_error(description.toStdString()), m_description(description)
    {
    }
    QString description() const { return m_description; }

private:
    QString m_description;
};
