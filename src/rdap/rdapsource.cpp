#include "rdap/rdapsource.h"

#include "net/addressrules.h"
#include "platform/logging.h"
#include "rdap/rdapanswer.h"
#include "rdap/rdapfetch.h"
#include "rdap/rdapquery.h"
#include "rdap/rdaprecord.h"

#include <QPointer>

namespace {

// application/json, application/rdap+json and the like, parameters aside.
bool isJsonType(const QByteArray &contentType)
{
    const QByteArray type = contentType.split(';').value(0).trimmed().toLower();
    return type == "application/json" || type.endsWith("+json");
}

} // namespace

struct RdapSource::Lookup
{
    quint64 tag = 0;
    quint64 generation = 0;
    Query query;
    RdapQueryKind kind = RdapQueryKind::Domain;
    Done done;
    LookupResult result;
    RdapJson registry;
    RdapJson registrar;
    QByteArray registryBody; // the registry's answer as sent
};

RdapSource::RdapSource(Bootstrap bootstrap, RdapFetch *fetch, PoliteScheduler &scheduler,
                       QObject *parent)
    : Source(scheduler, parent), m_bootstrap(std::move(bootstrap)), m_fetch(fetch)
{
}

QString RdapSource::serverOf(const QUrl &url)
{
    const QString host = url.host().toLower();
    return url.port() > 0 ? host + u':' + QString::number(url.port()) : host;
}

QStringList RdapSource::servicesFor(const Query &query) const
{
    const RdapBootstrap &bootstrap = m_bootstrap();
    switch (query.kind) {
    case QueryKind::Domain:
        return bootstrap.domainServices(QString::fromLatin1(query.ascii));
    case QueryKind::IPv4:
    case QueryKind::IPv6:
        return bootstrap.addressServices(query.address);
    case QueryKind::Cidr:
        return bootstrap.addressServices(query.address, query.prefixLength);
    case QueryKind::AsNumber:
        return bootstrap.asnServices(query.asNumber);
    case QueryKind::Invalid:
        break;
    }
    return {};
}

void RdapSource::lookup(quint64 tag, const QString &address, Done done)
{
    Query query = parseQuery(address);
    query.text = address;
    lookup(tag, query, std::move(done));
}

void RdapSource::lookup(quint64 tag, const Query &query, Done done)
{
    auto lookup = std::make_shared<Lookup>();
    lookup->tag = tag;
    lookup->generation = m_generation;
    lookup->query = query;
    lookup->done = std::move(done);
    lookup->result.address = query.text;
    lookup->result.source = SourceKind::Rdap;
    if (!m_whenUsable || !query.isValid()) {
        begin(lookup);
        return;
    }
    whenBootstrapUsable([this, lookup] { begin(lookup); });
}

void RdapSource::whenBootstrapUsable(std::function<void()> go)
{
    const QPointer<RdapSource> self(this);
    const quint64 generation = m_generation;
    auto guarded = [self, generation, go = std::move(go)] {
        if (self && generation == self->m_generation)
            go();
    };
    if (m_whenUsable)
        m_whenUsable(this, std::move(guarded));
    else
        QMetaObject::invokeMethod(this, std::move(guarded), Qt::QueuedConnection);
}

void RdapSource::begin(const std::shared_ptr<Lookup> &lookup)
{
    const Query &query = lookup->query;
    QUrl url;
    const QStringList services = query.isValid() ? servicesFor(query) : QStringList();
    const QString base = services.value(0);
    switch (query.kind) {
    case QueryKind::Domain:
        lookup->kind = RdapQueryKind::Domain;
        url = RdapDomainUrl(base, QString::fromLatin1(query.ascii));
        break;
    case QueryKind::IPv4:
    case QueryKind::IPv6:
        lookup->kind = RdapQueryKind::Address;
        url = RdapAddressUrl(base, query.address);
        break;
    case QueryKind::Cidr:
        lookup->kind = RdapQueryKind::Address;
        url = RdapAddressUrl(base, query.address, query.prefixLength);
        break;
    case QueryKind::AsNumber:
        lookup->kind = RdapQueryKind::AsNumber;
        url = RdapAutnumUrl(base, query.asNumber);
        break;
    case QueryKind::Invalid:
        break;
    }
    // Failures found before any request still arrive later, as every result does.
    auto failLater = [this, lookup](FailureReason reason, const QString &detail) {
        QMetaObject::invokeMethod(
            this, [this, lookup, reason, detail] { fail(lookup, reason, detail); },
            Qt::QueuedConnection);
    };
    if (!query.isValid())
        failLater(FailureReason::InvalidAddress, query.reason);
    else if (base.isEmpty())
        failLater(FailureReason::NoService, QStringLiteral("no RDAP service for ") + query.text);
    else if (url.isEmpty())
        failLater(FailureReason::InvalidAddress, QStringLiteral("no RDAP query for ") + query.text);
    else
        request(lookup, url, true, 0);
}

void RdapSource::request(const std::shared_ptr<Lookup> &lookup, const QUrl &url, bool fromRegistry,
                         int redirects, const QUrl &referrer)
{
    // A URL read from an answer is untrusted: it may not lead to a non-public address, unless
    // the server that named it is itself on one (a local mirror the user set up).
    const IpAddress referrerAddress = IpAddress::fromString(referrer.host());
    const bool fromAnswer = !referrer.isEmpty() && (referrerAddress.isNull() ||
                                                    !AddressRules::isNonPublic(referrerAddress));
    const QString server = serverOf(url);
    lookup->result.servers.append(server);
    qCInfo(lcRdap).noquote() << lookup->query.text << "asking" << url.toString()
                             << (referrer.isEmpty()
                                     ? QString()
                                     : QStringLiteral("(named by %1)").arg(serverOf(referrer)));
    const QPointer<RdapSource> self(this);
    m_scheduler.submit(
        server, lookup->tag,
        [self, lookup, url, fromRegistry, redirects,
         fromAnswer](const PoliteScheduler::Settle &settle) {
            if (!self || lookup->generation != self->m_generation)
                return;
            self->m_fetch->fetch(
                url,
                [self, lookup, url, fromRegistry, redirects,
                 settle](const RdapFetchResult &fetched) {
                    if (!self || lookup->generation != self->m_generation)
                        return;
                    // A link the address rule refused reached no server: it was not asked.
                    if (fetched.refusedNonPublic)
                        lookup->result.servers.removeLast();
                    Verdict verdict;
                    if (fetched.status == 0) {
                        verdict.kind = fetched.unreachable ? Verdict::Kind::Unreachable
                                                           : Verdict::Kind::Failed;
                        verdict.reason = fetched.failure;
                    } else if (fetched.status == 429) {
                        verdict.kind = Verdict::Kind::Throttled;
                        verdict.retryAfterSeconds =
                            RetryAfterSeconds(fetched.retryAfter, QDateTime::currentDateTimeUtc());
                    } else if (fetched.status >= 500) {
                        verdict.kind = Verdict::Kind::Failed;
                    }
                    if (settle(verdict))
                        self->answered(lookup, url, fromRegistry, redirects, fetched);
                },
                fromAnswer);
        },
        [self, lookup, server](PoliteScheduler::GiveUp why, const QString &reason) {
            if (!self || lookup->generation != self->m_generation)
                return;
            if (why == PoliteScheduler::GiveUp::Throttled)
                self->fail(lookup, FailureReason::Throttled, QStringLiteral("by ") + server);
            else
                self->fail(lookup, FailureReason::ServerDown, reason);
        });
}

void RdapSource::answered(const std::shared_ptr<Lookup> &lookup, const QUrl &url, bool fromRegistry,
                          int redirects, const RdapFetchResult &fetched)
{
    const bool registrarHop = !lookup->registry.isEmpty();
    if (fetched.status == 0) {
        if (registrarHop) // the registry's record stands
            return finishRecord(lookup);
        return fail(lookup, FailureReason::NoAnswer,
                    serverOf(url) + QStringLiteral(": ") + fetched.failure);
    }
    if (fetched.status >= 300 && fetched.status < 400) {
        const QUrl next = url.resolved(fetched.location);
        if (fetched.location.isEmpty() || !IsFollowableRdapLink(next) ||
            redirects >= MaxRedirects) {
            if (registrarHop)
                return finishRecord(lookup);
            return fail(lookup, FailureReason::Redirect,
                        serverOf(url) + QStringLiteral(": ") + next.toString());
        }
        return request(lookup, next, fromRegistry, redirects + 1, url);
    }
    const RdapAnswer answer = ReadRdapAnswer(registrarHop ? RdapQueryKind::Domain : lookup->kind,
                                             fromRegistry && !registrarHop, fetched.status,
                                             fetched.body, fetched.retryAfter);
    if (registrarHop) {
        if (answer.outcome == RdapAnswer::Outcome::Record)
            lookup->registrar = answer.object;
        return finishRecord(lookup);
    }
    switch (answer.outcome) {
    case RdapAnswer::Outcome::Record: {
        lookup->registry = answer.object;
        lookup->registryBody = fetched.body;
        if (lookup->kind == RdapQueryKind::Domain) {
            const QUrl link = RdapRegistrarLink(answer.object);
            if (link.isValid() && !link.isEmpty())
                return request(lookup, link, false, 0, url);
        }
        return finishRecord(lookup);
    }
    case RdapAnswer::Outcome::Available:
        lookup->result.status = LookupStatus::Available;
        setOutcomeStatus(lookup->result);
        lookup->done(lookup->result);
        return;
    case RdapAnswer::Outcome::Throttled:
    case RdapAnswer::Outcome::Failed:
        break;
    }
    QString reason = answer.reason;
    // A body that is no RDAP object often is an error page: what it was sent as tells.
    if (answer.outcome == RdapAnswer::Outcome::Failed && fetched.status >= 200 &&
        fetched.status < 300 && !isJsonType(fetched.contentType))
        reason += QStringLiteral(" (sent as ") +
                  QString::fromLatin1(fetched.contentType.isEmpty() ? QByteArray("no type")
                                                                    : fetched.contentType) +
                  u')';
    fail(lookup, FailureReason::NoAnswer, serverOf(url) + QStringLiteral(": ") + reason);
}

void RdapSource::finishRecord(const std::shared_ptr<Lookup> &lookup)
{
    setRdapRecord(lookup->result, lookup->registry, lookup->registrar,
                  RdapObjectKindAsked(lookup->kind));
    lookup->result.answer = lookup->registryBody;
    lookup->done(lookup->result);
}

void RdapSource::fail(const std::shared_ptr<Lookup> &lookup, FailureReason reason,
                      const QString &detail)
{
    if (lookup->generation != m_generation)
        return;
    setFailure(lookup->result, reason, detail);
    lookup->done(lookup->result);
}

void RdapSource::abortAll()
{
    ++m_generation;
}
