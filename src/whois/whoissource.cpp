#include "whois/whoissource.h"

#include "facts/normaliser.h"
#include "whois/ianacache.h"
#include "whois/whoistext.h"

namespace {

// The failure text of a request the scheduler gave up on; the chain passes it on as the
// failed server's reason.
const QString ThrottledWords = QStringLiteral("throttled by ");

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
        verdict.kind = answer.bytes.isEmpty() ? Verdict::Kind::EmptyClose : Verdict::Kind::Failed;
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

WhoisChain::Ask WhoisSource::scheduledAsk(quint64 tag, const std::shared_ptr<QString> &throttledBy)
{
    const QPointer<WhoisSource> self(this);
    const quint64 generation = m_generation;
    return [self, tag, generation, throttledBy](const WhoisHop &hop,
                                                const WhoisChain::AnswerCallback &done) {
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
                self->m_clients.insert(client);
                connect(client, &Whois43Client::finished, self.data(),
                        [self, client, settle, done](const Whois43Answer &answer) {
                            client->deleteLater();
                            if (!self || !self->m_clients.remove(client))
                                return;
                            if (settle(verdictOf(answer)))
                                done(answer);
                        });
                client->start(Whois43Request{hop.server.host, hop.server.port, hop.query,
                                             hop.refuseNonPublic});
            },
            [self, done, server, throttledBy, generation](PoliteScheduler::GiveUp why,
                                                          const QString &reason) {
                if (!self || generation != self->m_generation)
                    return;
                Whois43Answer failed;
                failed.server = server;
                failed.failure = Whois43Answer::Failure::NetworkError;
                failed.reason =
                    why == PoliteScheduler::GiveUp::Throttled ? ThrottledWords + server : reason;
                if (why == PoliteScheduler::GiveUp::Throttled && throttledBy->isEmpty())
                    *throttledBy = server;
                done(failed);
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
    auto throttledBy = std::make_shared<QString>();
    auto *chain = new WhoisChain(scheduledAsk(tag, throttledBy), m_cache, this);
    WhoisChainOptions options;
    options.maxServers = m_options.maxServers;
    options.firstServer = m_options.firstServer;
    options.followReferrals = m_options.followReferrals;
    const quint64 generation = m_generation;
    const QPointer<WhoisSource> self(this);
    chain->lookup(query, options,
                  [self, chain, query, done, throttledBy, generation](const WhoisChainResult &r) {
                      chain->deleteLater();
                      if (!self || generation != self->m_generation)
                          return;
                      LookupResult result;
                      result.address = query.text;
                      result.source = sourceKindName(SourceKind::Whois);
                      result.servers = r.serversAsked;
                      if (r.ok) {
                          setTextRecord(result, WhoisText::lines(r.text));
                          result.answer = result.recordText;
                      } else if (!query.isValid()) {
                          setFailure(result, FailureReason::InvalidAddress, query.reason);
                      } else if (!throttledBy->isEmpty() ||
                                 r.failedReason.startsWith(ThrottledWords)) {
                          setFailure(result, FailureReason::Throttled,
                                     r.failedReason.isEmpty() ? r.reason : r.failedReason);
                      } else if (r.failedReason.contains(QStringLiteral(" is down: "))) {
                          setFailure(result, FailureReason::ServerDown, r.failedReason);
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
