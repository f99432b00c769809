#include "whois/whoissource.h"

#include "facts/normaliser.h"
#include "whois/ianacache.h"
#include "whois/whoisreply.h"
#include "whois/whoisservers.h"
#include "whois/whoistext.h"

namespace {

// Whether the chain's last text is the answer as it was read when it came: mostly the very
// string, handed on to the chain, so its characters need no comparing.
bool sameText(const QString &a, const QString &b)
{
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}

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
                            IanaCache::DefaultMaxAgeSeconds, this)),
      m_chain(new WhoisChain({}, m_cache, this))
{
}

Verdict WhoisSource::verdictOf(const Whois43Answer &answer)
{
    if (answer.failure == Whois43Answer::Failure::None && !answer.bytes.isEmpty()) {
        const RecordFacts facts = factsFromText(WhoisText::decode(answer.bytes));
        return verdictOf(answer, &facts);
    }
    return verdictOf(answer, nullptr);
}

Verdict WhoisSource::verdictOf(const Whois43Answer &answer, const RecordFacts *facts)
{
    Verdict verdict;
    using F = Whois43Answer::Failure;
    switch (answer.failure) {
    case F::None:
        if (answer.bytes.isEmpty())
            verdict.kind = Verdict::Kind::EmptyClose;
        else if (facts && facts->status == RecordStatus::Throttled)
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

WhoisChain::Ask WhoisSource::scheduledAsk(const std::shared_ptr<Notes> &notes,
                                          const ResumedTurn &turn)
{
    return [notes, turn](const WhoisHop &hop, const WhoisChain::AnswerCallback &done) {
        // The first hop takes the turn, whatever becomes of the lookup.
        std::unique_ptr<Resumed> resumed = turn ? std::move(*turn) : nullptr;
        if (!notes->live())
            return;
        WhoisSource *self = notes->source;
        Notes &n = *notes;
        const QString server = hop.server.display();
        if (resumed) {
            // The chain run again once its turn came: the hop that waited takes it (again,
            // after a throttled answer: the parked request is the one the scheduler retries).
            if (server == n.parkedAt) {
                auto asked = std::make_shared<Hop>(Hop{hop, done, notes});
                if (resumed->givenUp)
                    giveUp(*asked, *resumed->givenUp, resumed->reason);
                else
                    start(asked, resumed->turn);
                return;
            }
            // IANA's answer ran out meanwhile and the chain goes elsewhere first: the turn
            // goes back unused.
            if (resumed->turn)
                resumed->turn(Verdict{Verdict::Kind::NotSent, -1, {}});
        }
        if (hop.restartable) {
            self->park(notes, server);
            return;
        }
        // One hop waiting for its turn: its two callbacks share this, rather than each hold
        // a copy of the hop and of the chain's callback.
        auto asked = std::make_shared<Hop>(Hop{hop, done, notes});
        self->m_scheduler.submit(
            server, n.tag, [asked](const PoliteScheduler::Settle &settle) { start(asked, settle); },
            [asked](PoliteScheduler::GiveUp why, const QString &reason) {
                giveUp(*asked, why, reason);
            });
    };
}

void WhoisSource::park(const std::shared_ptr<Notes> &notes, const QString &server)
{
    // The chain's state and the hop go when the chain's call to the Ask returns; the lookup
    // runs its chain again when its turn comes.
    notes->parkedAt = server;
    notes->query.reset();
    m_scheduler.submit(
        server, notes->tag,
        [notes](const PoliteScheduler::Settle &settle) {
            resume(notes, Resumed{settle, {}, {}});
        },
        [notes](PoliteScheduler::GiveUp why, const QString &reason) {
            resume(notes, Resumed{{}, why, reason});
        });
}

void WhoisSource::resume(const std::shared_ptr<Notes> &notes, Resumed resumed)
{
    if (!notes->live())
        return;
    notes->source->runChain(notes, std::make_shared<std::unique_ptr<Resumed>>(
                                       std::make_unique<Resumed>(std::move(resumed))));
}

void WhoisSource::giveUp(const Hop &h, PoliteScheduler::GiveUp why, const QString &reason)
{
    if (!h.notes->live())
        return;
    if (why == PoliteScheduler::GiveUp::Throttled)
        h.done(Failure(LookupError{FailureReason::Throttled,
                                   QStringLiteral("throttled by ") + h.hop.server.display()}));
    else
        h.done(Failure(LookupError{FailureReason::ServerDown, reason}));
}

void WhoisSource::start(const std::shared_ptr<Hop> &asked, const PoliteScheduler::Settle &settle)
{
    if (!asked->notes->live())
        return;
    Whois43Client *client = asked->notes->source->takeClient();
    const WhoisHop &hop = asked->hop;
    client->start(Whois43Request{hop.server.host, hop.server.port, hop.query, hop.refuseNonPublic},
                  [asked, client, settle](const Whois43Answer &answer) {
                      WhoisSource *self = asked->notes->source;
                      // Aborted and forgotten: abortAll has let it go.
                      if (!self || !self->m_clients.remove(client))
                          return;
                      self->m_idle.push_back(client);
                      // A whole answer is read once: its facts tell a throttle, and make the
                      // record's facts when it is the last.
                      Notes &notes = *asked->notes;
                      const bool whole =
                          answer.failure == Whois43Answer::Failure::None && !answer.bytes.isEmpty();
                      if (whole) {
                          if (!notes.answer)
                              notes.answer = std::make_unique<ReadAnswer>();
                          ReadAnswer &read = *notes.answer;
                          read.text = WhoisText::decode(answer.bytes);
                          read.record = WhoisText::recordText(read.text);
                          read.facts = factsFromText(read.record);
                      }
                      if (settle(verdictOf(answer, whole ? &notes.answer->facts : nullptr))) {
                          WhoisReply reply = whoisReplyOf(answer);
                          // The chain reads the text decoded here, one string with the notes'.
                          if (whole && reply)
                              reply.value().text = notes.answer->text;
                          asked->done(reply);
                      }
                  });
}

Whois43Client *WhoisSource::takeClient()
{
    Whois43Client *client = nullptr;
    if (m_idle.empty()) {
        client = new Whois43Client(m_options.connectTo, m_options.limits, this);
        client->setProxy(m_options.proxy);
    } else {
        client = m_idle.back();
        m_idle.pop_back();
    }
    m_clients.insert(client);
    return client;
}

void WhoisSource::lookup(quint64 tag, const QString &address, Done done)
{
    Query query = parseQuery(address);
    query.text = address;
    lookup(tag, query, std::move(done));
}

void WhoisSource::lookup(quint64 tag, const Query &query, Done done)
{
    // The query and the caller's callback are kept here once, not in a callback's capture.
    auto notes = std::make_shared<Notes>();
    notes->source = this;
    notes->generation = m_generation;
    notes->tag = tag;
    notes->address = query.text;
    notes->query = std::make_unique<Query>(query);
    notes->done = std::move(done);
    runChain(notes);
}

void WhoisSource::runChain(const std::shared_ptr<Notes> &notes, const ResumedTurn &turn)
{
    if (!notes->query) {
        notes->query = std::make_unique<Query>(parseQuery(notes->address));
        notes->query->text = notes->address;
    }
    // The chain's own copy: parking lets the notes' query go while the chain is still asking.
    const Query query = *notes->query;
    WhoisChainOptions options;
    options.maxServers = m_options.maxServers;
    options.firstServer = m_options.firstServer;
    options.followReferrals = m_options.followReferrals;
    m_chain->lookup(query, options, scheduledAsk(notes, turn),
                    [notes, turn](const WhoisChainResult &r) {
                        const std::unique_ptr<Resumed> resumed = turn ? std::move(*turn) : nullptr;
                        if (!notes->live())
                            return;
                        // Run again, the chain ended before the hop that waited (IANA's
                        // answer, asked again, failed): the turn goes back unused.
                        if (resumed && resumed->turn)
                            resumed->turn(Verdict{Verdict::Kind::NotSent, -1, {}});
                        const Query &query = *notes->query;
                        LookupResult result;
                        result.address = query.text;
                        result.source = SourceKind::Whois;
                        result.servers = r.serversAsked;
                        if (r.ok) {
                            if (notes->answer && sameText(r.text, notes->answer->text)) {
                                // The last answer as it was read when it came.
                                setRecordText(result, notes->answer->record);
                                result.facts = std::move(notes->answer->facts);
                            } else {
                                // IANA's, from its cache.
                                setTextRecord(result, WhoisText::recordText(r.text));
                            }
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
                        notes->answer.reset();
                        const Done done = std::exchange(notes->done, {});
                        done(result);
                    });
}

void WhoisSource::abortAll()
{
    ++m_generation;
    // The clients under way are let go (their answers are no one's now); the idle ones stay.
    const QSet<Whois43Client *> clients = std::exchange(m_clients, {});
    for (Whois43Client *client : clients) {
        client->disconnect(this);
        client->abort();
        client->deleteLater();
    }
}
