#include "whois/whoischain.h"

#include "net/addressrules.h"
#include "whois/ianacache.h"
#include "whois/whoisservers.h"
#include "whois/whoistext.h"

struct WhoisChain::State
{
    Query query;
    WhoisChainOptions options;
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
                             done(answer);
                         });
        client->start(
            Whois43Request{hop.server.host, hop.server.port, hop.query, hop.refuseNonPublic});
    };
}

WhoisChain::WhoisChain(Ask ask, IanaCache *cache, QObject *parent)
    : QObject(parent), m_ask(std::move(ask)), m_cache(cache)
{
}

void WhoisChain::lookup(const Query &query, const WhoisChainOptions &options, Done done)
{
    auto state = std::make_shared<State>();
    state->query = query;
    state->options = options;
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
    const Query ianaQuestion = query;
    m_cache->get(
        query,
        [self, ianaQuestion](const AnswerCallback &answered) {
            if (!self)
                return;
            self->m_ask(WhoisHop{WhoisServer{WhoisServers::iana()},
                                 WhoisServers::ianaQueryFor(ianaQuestion), false},
                        answered);
        },
        [self, state](bool ok, const IanaCache::Entry &entry, const QString &reason) {
            if (self)
                self->onIana(state, ok, entry.text, entry.serverNonPublic, reason);
        });
}

void WhoisChain::onIana(const std::shared_ptr<State> &state, bool ok, const QString &text,
                        bool serverNonPublic, const QString &reason)
{
    const QString iana = WhoisServers::iana();
    state->asked.append(WhoisServer{iana});
    state->result.serversAsked.append(iana);
    if (!ok) {
        fail(state, iana, reason);
        return;
    }
    state->result.text = text;
    state->result.textServer = iana;
    state->referrerNonPublic = serverNonPublic;
    follow(state, text, iana);
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
    state->asked.append(server);
    state->result.serversAsked.append(server.display());
    const QPointer<WhoisChain> self(this);
    m_ask(hop, [self, state, server](const Whois43Answer &answer) {
        if (self)
            self->onAnswer(state, server, answer);
    });
}

void WhoisChain::onAnswer(const std::shared_ptr<State> &state, const WhoisServer &server,
                          const Whois43Answer &answer)
{
    if (!answer.ok) {
        fail(state, server.display(), answer.reason);
        return;
    }
    const QString text = WhoisText::decode(answer.bytes);
    if (WhoisText::isBlank(text)) {
        fail(state, server.display(), QStringLiteral("empty answer"));
        return;
    }
    // A registrar without the name the registry has: the registry's record stands.
    if (state->haveRecord && WhoisText::saysNoMatch(text) &&
        !WhoisText::saysNoMatch(state->result.text)) {
        fail(state, server.display(),
             QStringLiteral("no match, though %1 has the record").arg(state->result.textServer));
        return;
    }
    state->result.text = text;
    state->result.textServer = server.display();
    state->haveRecord = true;
    // A server reached through the connect-to map stands for the public host it replaces.
    state->referrerNonPublic = !answer.mapped && AddressRules::isNonPublic(answer.peerAddress);
    follow(state, text, server.host);
}

void WhoisChain::follow(const std::shared_ptr<State> &state, const QString &text,
                        const QString &host)
{
    const bool fromIana = !state->haveRecord;
    if (!fromIana && !state->options.followReferrals) {
        finish(state);
        return;
    }
    const WhoisReferral referral = findReferral(text, host);
    if (!referral.rwhois.isEmpty() && state->result.rwhoisReferral.isEmpty())
        state->result.rwhoisReferral = referral.rwhois;
    // No further server, a server already asked (a loop, or an answer naming its own
    // server), or the limit reached: the last answer is the record.
    if (!referral.next || state->asked.contains(*referral.next) ||
        state->asked.size() >= state->options.maxServers) {
        finish(state);
        return;
    }
    askServer(state, *referral.next, true);
}

void WhoisChain::fail(const std::shared_ptr<State> &state, const QString &server,
                      const QString &reason)
{
    state->result.failedServer = server;
    state->result.failedReason = reason;
    if (!state->haveRecord)
        state->result.reason = server + QStringLiteral(": ") + reason;
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
