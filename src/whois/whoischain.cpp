#include "whois/whoischain.h"

#include "facts/normaliser.h"
#include "platform/logging.h"
#include "whois/ianacache.h"
#include "whois/whoisservers.h"
#include "whois/whoistext.h"

namespace {
thread_local qsizetype heldStates = 0;
}

struct WhoisChain::State
{
    State() { ++heldStates; }
    ~State() { --heldStates; }
    State(const State &) = delete;
    State &operator=(const State &) = delete;

    Query query;
    WhoisChainOptions options;
    Ask ask;
    Done done;
    WhoisChainResult result;
    QList<WhoisServer> asked;
    // The last whole answer came from a registry, registrar or RIR (not IANA).
    bool haveRecord = false;
    // The server that gave the last answer was on a non-public address.
    bool referrerNonPublic = false;
};

WhoisChain::Ask WhoisChain::directAsk(const ConnectToMap &connectTo, const Whois43Limits &limits,
                                      QObject *owner)
{
    return [connectTo, limits, owner = QPointer<QObject>(owner)](const WhoisHop &hop,
                                                                 const AnswerCallback &done) {
        auto *client = new Whois43Client(connectTo, limits, owner);
        QObject::connect(client, &Whois43Client::finished, client,
                         [client, done](const Whois43Answer &answer) {
                             client->deleteLater();
                             done(whoisReplyOf(answer));
                         });
        client->start(
            Whois43Request{hop.server.host, hop.server.port, hop.query, hop.refuseNonPublic});
    };
}

WhoisChain::WhoisChain(Ask ask, IanaCache *cache, QObject *parent)
    : QObject(parent), m_ask(std::move(ask)), m_cache(cache)
{
}

qsizetype WhoisChain::heldLookups()
{
    return heldStates;
}

void WhoisChain::lookup(const Query &query, const WhoisChainOptions &options, Done done)
{
    lookup(query, options, m_ask, std::move(done));
}

void WhoisChain::lookup(const Query &query, const WhoisChainOptions &options, Ask ask, Done done)
{
    auto state = std::make_shared<State>();
    state->query = query;
    state->options = options;
    state->ask = std::move(ask);
    state->done = std::move(done);
    if (!query.isValid()) {
        // Refused before any server is contacted.
        state->result.reason = query.reason;
        QMetaObject::invokeMethod(
            this, [this, state] { finish(state); }, Qt::QueuedConnection);
        return;
    }
    if (options.firstServer) {
        askServer(state, *options.firstServer, false);
        return;
    }
    const QPointer<WhoisChain> self(this);
    m_cache->get(
        query,
        [self, state](const AnswerCallback &answered) {
            if (!self)
                return;
            state->ask(WhoisHop{WhoisServer{WhoisServers::iana()},
                                WhoisServers::ianaQueryFor(state->query), false},
                       answered);
        },
        [self, state](const Result<IanaCache::Entry, LookupError> &entry) {
            if (self)
                self->onIana(state, entry);
        });
}

void WhoisChain::onIana(const std::shared_ptr<State> &state,
                        const Result<IanaCache::Entry, LookupError> &entry)
{
    const QString iana = WhoisServers::iana();
    state->asked.append(WhoisServer{iana});
    state->result.serversAsked.append(iana);
    if (!entry) {
        fail(state, iana, entry.error());
        return;
    }
    state->result.text = entry->text;
    state->result.textServer = iana;
    state->referrerNonPublic = entry->serverNonPublic;
    follow(state, entry->text, iana, entry->referral.get());
}

void WhoisChain::askServer(const std::shared_ptr<State> &state, const WhoisServer &server,
                           bool fromReferral)
{
    WhoisHop hop;
    hop.server = server;
    hop.query = WhoisServers::queryFor(server.host, state->query);
    // A referral to a non-public address is refused, unless the server that gave it is on
    // one itself (a local mirror or test); a host the user mapped is never refused.
    hop.refuseNonPublic = fromReferral && !state->referrerNonPublic;
    hop.restartable = !state->haveRecord;
    state->asked.append(server);
    state->result.serversAsked.append(server.display());
    qCInfo(lcWhois).noquote() << state->query.text << "asking" << server.display() << "for"
                              << hop.query
                              << (hop.refuseNonPublic ? "(public addresses only)" : "");
    const QPointer<WhoisChain> self(this);
    state->ask(hop, [self, state, server](const WhoisReply &reply) {
        if (self)
            self->onAnswer(state, server, reply);
    });
}

void WhoisChain::onAnswer(const std::shared_ptr<State> &state, const WhoisServer &server,
                          const WhoisReply &reply)
{
    if (!reply) {
        // A referral refused by the address rule reached no server: it was not asked.
        if (reply.error().kind == FailureReason::Redirect)
            state->result.serversAsked.removeLast();
        fail(state, server.display(), reply.error());
        return;
    }
    const Whois43Answer &answer = reply.value();
    const QString text = answer.text.isNull() ? WhoisText::decode(answer.bytes) : answer.text;
    if (WhoisText::isBlank(text)) {
        fail(state, server.display(),
             LookupError{FailureReason::NoAnswer, QStringLiteral("empty answer")});
        return;
    }
    // A registrar without the name the registry has: the registry's record stands. "No match" is
    // read as the facts read it, so a refusal kept here could never make the row "available".
    if (state->haveRecord && isNoMatchAnswer(text) && !isNoMatchAnswer(state->result.text)) {
        fail(state, server.display(),
             LookupError{FailureReason::NoAnswer,
                         QStringLiteral("no match, though %1 has the record")
                             .arg(state->result.textServer)});
        return;
    }
    state->result.text = text;
    state->result.textServer = server.display();
    state->haveRecord = true;
    // A server the connect-to map names stands for the public host it replaces.
    state->referrerNonPublic = answer.reachedNonPublic();
    follow(state, text, server.host);
}

void WhoisChain::follow(const std::shared_ptr<State> &state, const QString &text,
                        const QString &host, const WhoisReferral *read)
{
    const bool fromIana = !state->haveRecord;
    if (!fromIana && !state->options.followReferrals) {
        finish(state);
        return;
    }
    const WhoisReferral referral = read ? *read : findReferral(text, host);
    if (!referral.rwhois.isEmpty() && state->result.rwhoisReferral.isEmpty())
        state->result.rwhoisReferral = referral.rwhois;
    // IANA runs a few top-level domains itself (.int): its pointer to itself asks it again,
    // this time for the name.
    const bool ianaForTheName =
        fromIana && referral.next && state->query.kind == QueryKind::Domain &&
        state->asked.size() == 1 &&
        referral.next->host.compare(WhoisServers::iana(), Qt::CaseInsensitive) == 0;
    // No further server, a server already asked (a loop, or an answer naming its own
    // server), or the limit reached: the last answer is the record.
    if (!referral.next || (state->asked.contains(*referral.next) && !ianaForTheName) ||
        state->asked.size() >= state->options.maxServers) {
        if (referral.next)
            qCInfo(lcWhois).noquote()
                << state->query.text << host << "refers to" << referral.next->display()
                << "(not followed:"
                << (state->asked.contains(*referral.next) ? "asked already)" : "server limit)");
        finish(state);
        return;
    }
    qCInfo(lcWhois).noquote() << state->query.text << host << "refers to"
                              << referral.next->display()
                              << QStringLiteral("(%1)").arg(referral.source);
    askServer(state, *referral.next, true);
}

void WhoisChain::fail(const std::shared_ptr<State> &state, const QString &server,
                      const LookupError &error)
{
    state->result.failedServer = server;
    state->result.failure = error;
    qCInfo(lcWhois).noquote() << state->query.text << server << "failed:" << error.detail
                              << (state->haveRecord ? "(the record so far stands)" : "");
    if (!state->haveRecord)
        state->result.reason = server + QStringLiteral(": ") + error.detail;
    finish(state);
}

void WhoisChain::finish(const std::shared_ptr<State> &state)
{
    WhoisChainResult &result = state->result;
    result.ok = result.reason.isEmpty() && !result.text.isEmpty();
    if (!result.ok && result.reason.isEmpty())
        result.reason = QStringLiteral("no answer");
    state->done(result);
}
