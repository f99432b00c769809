#include "rdap/rdapanswer.h"

#include "net/ipaddress.h"
#include "rdap/rdapquery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <array>
#include <climits>

using namespace Qt::Literals::StringLiterals;

namespace {

// The object class each query kind is answered with.
QString objectClassOf(RdapQueryKind kind)
{
    return rdapObjectClassName(RdapObjectKindAsked(kind));
}

RdapAnswer failed(const QString &reason)
{
    RdapAnswer answer;
    answer.reason = reason;
    return answer;
}

// "HTTP 400: title: description" from an RDAP error object, when the body is one.
QString errorReason(int httpStatus, const QByteArray &body)
{
    QString reason = QStringLiteral("HTTP ") + QString::number(httpStatus);
    const QJsonObject error = QJsonDocument::fromJson(body).object();
    const QString title = error.value(u"title").toString().trimmed();
    QStringList description;
    for (const QJsonValue &line : error.value(u"description").toArray()) {
        if (!line.toString().trimmed().isEmpty())
            description << line.toString().trimmed();
    }
    if (!title.isEmpty())
        reason += QStringLiteral(": ") + title;
    if (!description.isEmpty())
        reason += QStringLiteral(": ") + description.join(u' ');
    return reason;
}

bool isLoopback(const QString &host)
{
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    const IpAddress address = IpAddress::fromString(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

RdapObjectKind RdapObjectKindAsked(RdapQueryKind kind)
{
    switch (kind) {
    case RdapQueryKind::Domain:
        return RdapObjectKind::Domain;
    case RdapQueryKind::Address:
        return RdapObjectKind::IpNetwork;
    case RdapQueryKind::AsNumber:
        return RdapObjectKind::Autnum;
    }
    return RdapObjectKind::Unknown;
}

RdapAnswer ReadRdapAnswer(RdapQueryKind kind, bool fromRegistry, int httpStatus,
                          const QByteArray &body, const QByteArray &retryAfter,
                          const QDateTime &now)
{
    if (httpStatus == 429) {
        RdapAnswer answer;
        answer.outcome = RdapAnswer::Outcome::Throttled;
        answer.retryAfterSeconds = RetryAfterSeconds(retryAfter, now);
        answer.reason = errorReason(httpStatus, body);
        return answer;
    }
    if (httpStatus == 404 && kind == RdapQueryKind::Domain && fromRegistry) {
        RdapAnswer answer;
        answer.outcome = RdapAnswer::Outcome::Available;
        answer.reason = QStringLiteral("not registered: the registry has no such domain");
        return answer;
    }
    if (httpStatus < 200 || httpStatus > 299)
        return failed(errorReason(httpStatus, body));

    QString error;
    const RdapJson document = RdapJson::parse(body, &error);
    if (!error.isEmpty())
        return failed(QStringLiteral("the answer is not JSON: ") + error);
    const RdapValue object = document.root();
    static constexpr QLatin1StringView names[] = {"objectClassName"_L1, "rdapConformance"_L1};
    std::array<RdapValue, 2> members;
    object.members(names, members);
    const RdapValue &objectClass = members[0];
    if (!document.isObject() || (!objectClass.isString() && !members[1].isArray()))
        return failed(QStringLiteral("the answer is not an RDAP object"));
    if (objectClass.isString() && rdapClassKind(objectClass) != RdapObjectKindAsked(kind))
        return failed(QStringLiteral("the answer is a \"") + objectClass.toString() +
                      QStringLiteral("\" object, not a \"") + objectClassOf(kind) +
                      QStringLiteral("\" one"));
    RdapAnswer answer;
    answer.outcome = RdapAnswer::Outcome::Record;
    answer.object = document;
    return answer;
}

int RetryAfterSeconds(const QByteArray &value, const QDateTime &now)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool isNumber = false;
    const qlonglong seconds = text.toLongLong(&isNumber);
    if (isNumber)
        return seconds < 0 ? -1 : int(std::min<qlonglong>(seconds, INT_MAX));

    // The three date forms HTTP allows, always in GMT. The day's name is left out: it only
    // repeats the date (and a two-digit year cannot be checked against it).
    const QString date = QString::fromLatin1(text).simplified();
    const QString afterDay = date.mid(date.indexOf(u' ') + 1);
    const QLocale c = QLocale::c();
    QDateTime when = c.toDateTime(afterDay, QStringLiteral("dd MMM yyyy HH:mm:ss 'GMT'"));
    if (!when.isValid()) {
        when = c.toDateTime(afterDay, QStringLiteral("dd-MMM-yy HH:mm:ss 'GMT'"));
        // A two-digit year is in the century that puts it nearest to now.
        if (when.isValid())
            when = when.addYears((now.date().year() - when.date().year() + 50) / 100 * 100);
    }
    if (!when.isValid())
        when = c.toDateTime(afterDay, QStringLiteral("MMM d HH:mm:ss yyyy"));
    if (!when.isValid())
        return -1;
    when.setTimeSpec(Qt::UTC);
    return int(std::clamp<qint64>(now.secsTo(when), 0, INT_MAX));
}

bool IsFollowableRdapLink(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == u"https" || (scheme == u"http" && isLoopback(url.host()));
}

QUrl RdapRegistrarLink(const RdapValue &domain, const std::function<bool(const QUrl &)> &allowed)
{
    const RdapValue links = domain["links"_L1];
    QString self;
    for (const RdapValue &link : links) {
        if (link["rel"_L1].equals("self"_L1))
            self = link["href"_L1].toString();
    }
    for (const RdapValue &link : links) {
        if (!link["rel"_L1].equals("related"_L1) ||
            !link["type"_L1].equals(QLatin1StringView(RdapMediaType), Qt::CaseInsensitive))
            continue;
        const QString href = link["href"_L1].toString();
        if (href.isEmpty() || href == self)
            continue;
        const QUrl url(href, QUrl::StrictMode);
        if (IsFollowableRdapLink(url) && (!allowed || allowed(url)))
            return url;
    }
    return {};
}
