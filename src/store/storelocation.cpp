#include "store/storelocation.h"

#include <QByteArray>
#include <QStringList>

namespace {

const QLatin1String Schemes[] = {QLatin1String("postgresql://"), QLatin1String("postgres://")};

QString decoded(const QString &part)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(part.toUtf8()));
}

// libpq's quoting of a connection parameter's value.
QString quoted(const QString &value)
{
    QString out = value;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

bool isParameterName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (!(c >= QLatin1Char('a') && c <= QLatin1Char('z')) && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

} // namespace

QString StoreLocation::shown() const
{
    return isPostgres() ? m_url : path;
}

StoreLocation StoreLocation::file(const QString &path)
{
    StoreLocation location;
    location.path = path;
    return location;
}

bool StoreLocation::looksLikeUrl(const QString &text)
{
    for (const QLatin1String scheme : Schemes) {
        if (text.startsWith(scheme, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

std::optional<StoreLocation> StoreLocation::parse(const QString &text, QString *error)
{
    if (!looksLikeUrl(text))
        return file(text);
    const auto fail = [&](const QString &why) -> std::optional<StoreLocation> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    StoreLocation location;
    location.kind = Kind::Postgres;
    location.m_url = text;
    QString rest = text.mid(text.indexOf(QLatin1String("://")) + 3);

    QString query;
    if (const qsizetype mark = rest.indexOf(QLatin1Char('?')); mark >= 0) {
        query = rest.mid(mark + 1);
        rest.truncate(mark);
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (slash < 0 || decoded(rest.mid(slash + 1)).isEmpty())
        return fail(QStringLiteral("the store ") + text +
                    QStringLiteral(" names no database: postgresql://USER@HOST[:PORT]/DB"));
    location.database = decoded(rest.mid(slash + 1));
    QString authority = rest.left(slash);

    if (const qsizetype at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        if (userInfo.contains(QLatin1Char(':')))
            return fail(QStringLiteral("the store's URL carries a password, which would show in "
                                       "the process list: leave it out and set PGPASSWORD or "
                                       "~/.pgpass"));
        location.user = decoded(userInfo);
    }
    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const qsizetype close = authority.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("the store ") + text +
                        QStringLiteral(" has an unclosed [ in its host"));
        location.host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return fail(QStringLiteral("the store ") + text +
                        QStringLiteral(" has text after its host"));
        portText = after.mid(1);
        if (after.isEmpty())
            portText.clear();
    } else {
        const qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
        location.host = decoded(colon >= 0 ? authority.left(colon) : authority);
        if (colon >= 0)
            portText = authority.mid(colon + 1);
    }
    if (!portText.isEmpty()) {
        bool number = false;
        location.port = portText.toInt(&number);
        if (!number || location.port < 1 || location.port > 65535)
            return fail(QStringLiteral("the store ") + text + QStringLiteral(" has the port \"") +
                        portText + QStringLiteral("\", not a number from 1 to 65535"));
    }

    // A database that cannot be reached, or stops answering, is noticed within seconds rather
    // than when the system's TCP timeouts run out. The URL's own parameters come after these:
    // libpq takes a repeated one's last value.
    QStringList words{
        QStringLiteral("connect_timeout=10"), QStringLiteral("keepalives=1"),
        QStringLiteral("keepalives_idle=10"), QStringLiteral("keepalives_interval=5"),
        QStringLiteral("keepalives_count=3"), QStringLiteral("tcp_user_timeout=30000")};
    for (const QString &pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        const QString name = decoded(pair.left(equals));
        const QString value = equals < 0 ? QString() : decoded(pair.mid(equals + 1));
        if (name == QLatin1String("password"))
            return fail(QStringLiteral("the store's URL carries a password, which would show in "
                                       "the process list: leave it out and set PGPASSWORD or "
                                       "~/.pgpass"));
        // Qt hands the options to libpq with every ';' turned into a space.
        if (!isParameterName(name) || value.isEmpty() || value.contains(QLatin1Char(';')))
            return fail(QStringLiteral("the store ") + text +
                        QStringLiteral(" has a parameter that is not NAME=VALUE: ") + pair);
        words << name + QLatin1Char('=') + quoted(value);
    }
    location.parameters = words.join(QLatin1Char(' '));
    return location;
}
