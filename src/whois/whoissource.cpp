#include "whois/whoissource.h"

#include "facts/normaliser.h"
#include "whois/ianacache.h"
#include "whois/whoisservers.h"
#include "whois/whoistext.h"

namespace {

// A whole answer without a record, read for the address asked. A domain whose chain ended at
// IANA has no registry to ask: its top-level domain does not exist (IANA holds no record of it,
// or marks it "Not assigned") or has no port-43 service, and IANA's record of the top-level
// domain is not the domain's. An address or AS number is never a free name: "no match" for one
// means no registry holds it.
void settleAnswerWithoutRecord(LookupResult &result, const Query &query,
                               const WhoisChainResult &chain)
{
    // IANA alone was asked, for the top-level domain (not, as for .int, for the name).
    const bool ianaAlone = chain.serversAsked == QStringList{WhoisServers::iana()};
    if (query.kind == QueryKind::Domain && ianaAlone && query.ascii.contains('.')) {
        const QString tld = QString::fromLatin1(query.tld());
        const RecordStatus said = result.facts.status;
        result.facts = RecordFacts();
        if (said == RecordStatus::Available ||
            chain.text.contains(QLatin1String("not assigned"), Qt::CaseInsensitive))
            setFailure(result, FailureReason::Unassigned,
                       QStringLiteral("no such top-level domain: .") + tld);
        else
            setFailure(result, FailureReason::NoService,
                       QStringLiteral("no port-43 server for .") + tld);
        return;
    }
    if (query.kind != QueryKind::Domain && result.facts.status == RecordStatus::Available)
        setFailure(result, FailureReason::Unassigned,
                   chain.textServer + QStringLiteral(" has no record of ") + query.text);
}

} // namespace

WhoisSource::WhoisSource(const WhoisSourceOptions &options, PoliteScheduler &scheduler,
                         QObject *parent)
    : Source(scheduler, parent), m_options(options),
      m_cache(new IanaCache(options.cacheFolder.isEmpty() ? IanaCache::defaultDirectory()
                                                          : options.cacheFolder,
                            IanaCache::DefaultMaxAgeSeconds, this))
{
}

Verdict WhoisSource::verdictOf(const Whois43Answer &answer)
{
    Verdict verdict;
    using F = Whois43Answer::Failure;
    switch (answer.failure) {
    case F::None:
        if (answer.bytes.isEmpty())
            verdict.kind = Verdict::Kind::EmptyClose;
        else if (isThrottleAnswer(WhoisText::decode(answer.bytes)))
            verdict.kind = Verdict::Kind::Throttled;
        return verdict;
    case F::HostNotFound:
    case F::ConnectRefused:
    case F::ConnectTimeout:
    case F::Timeout:
        verdict.kind = Verdict::Kind::Unreachable;
        break;
    case F::Reset:
        // A reset before any byte is one way a server refuses our pace; after part of an
        // answer it is a broken exchange, which counts toward the server being down.
        verdict.kind =
            answer.received == 0 ? Verdict::Kind::EmptyClose : Verdict::Kind::Unreachable;
        break;
    case F::RefusedPrivateAddress:
    case F::TooLarge:
    case F::NetworkError:
    case F::Aborted:
        verdict.kind = Verdict::Kind::Failed;
        break;
    }
    verdict.reason = answer.reason;
    return verdict;
}

WhoisChain::Ask WhoisSource::scheduledAsk(quint64 tag)
{
    const QPointer<WhoisSource> self(this);
    const quint64 generation = m_generation;
    return [self, tag, generation](const WhoisHop &hop, const WhoisChain::AnswerCallback &done) {
        if (!self || generation != self->m_generation)
            return;
        const QString server = hop.server.display();
        self->m_scheduler.submit(
            server, tag,
            [self, hop, done, generation](const PoliteScheduler::Settle &settle) {
                if (!self || generation != self->m_generation)
                    return;
                auto *client = new Whois43Client(self->m_options.connectTo, self->m_options.limits,
                                                 self.data());
                client->setProxy(self->m_options.proxy);
                self->m_clients.insert(client);
                connect(client, &Whois43Client::finished, self.data(),
                        [self, client, settle, done](const Whois43Answer &answer) {
                            client->deleteLater();
                            if (!self || !self->m_clients.remove(client))
                                return;
                            if (settle(verdictOf(answer)))
                                done(whoisReplyOf(answer));
                        });
                client->start(Whois43Request{hop.server.host, hop.server.port, hop.query,
                                             hop.refuseNonPublic});
            },
            [self, done, server, generation](PoliteScheduler::GiveUp why, const QString &reason) {
                if (!self || generation != self->m_generation)
                    return;
                if (why == PoliteScheduler::GiveUp::Throttled)
                    done(Failure(LookupError{FailureReason::Throttled,
                                             QStringLiteral("throttled by ") + server}));
                else
                    done(Failure(LookupError{FailureReason::ServerDown, reason}));
            });
    };
}

void WhoisSource::lookup(quint64 tag, const QString &address, Done done)
{
    Query query = parseQuery(address);
    query.text = address;
    lookup(tag, query, std::move(done));
}

void WhoisSource::lookup(quint64 tag, const Query &query, Done done)
{
    auto *chain = new WhoisChain(scheduledAsk(tag), m_cache, this);
    WhoisChainOptions options;
    options.maxServers = m_options.maxServers;
    options.firstServer = m_options.firstServer;
    options.followReferrals = m_options.followReferrals;
    const quint64 generation = m_generation;
    const QPointer<WhoisSource> self(this);
    chain->lookup(query, options,
                  [self, chain, query, done, generation](const WhoisChainResult &r) {
                      chain->deleteLater();
                      if (!self || generation != self->m_generation)
                          return;
                      LookupResult result;
                      result.address = query.text;
                      result.source = SourceKind::Whois;
                      result.servers = r.serversAsked;
                      if (r.ok) {
                          setTextRecord(result, WhoisText::lines(r.text));
                          result.answer = result.recordText;
                          settleAnswerWithoutRecord(result, query, r);
                      } else if (!query.isValid()) {
                          setFailure(result, FailureReason::InvalidAddress, query.reason);
                      } else if (r.failure && (r.failure->kind == FailureReason::Throttled ||
                                               r.failure->kind == FailureReason::ServerDown)) {
                          // The scheduler gave a hop up: the row says so, naming the server.
                          setFailure(result, r.failure->kind, r.failure->detail);
                      } else {
                          setFailure(result, FailureReason::NoAnswer, r.reason);
                      }
                      done(result);
                  });
}

void WhoisSource::abortAll()
{
    ++m_generation;
    const QSet<Whois43Client *> clients = std::exchange(m_clients, {});
    for (Whois43Client *client : clients) {
        client->disconnect(this);
        client->abort();
        client->deleteLater();
    }
}
