#pragma once

#include "lookup/query.h"
#include "net/connectto.h"
#include "net/whois43client.h"
#include "whois/ianacache.h"
#include "whois/whoisreferral.h"
#include "whois/whoisreply.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

struct WhoisChainOptions
{
    // Ask this server first instead of IANA (the user's choice; only it is asked when
    // referrals are off).
    std::optional<WhoisServer> firstServer;
    // Off: IANA and the registry it names (or the first server alone), nothing further.
    bool followReferrals = true;
    // IANA counts as one.
    int maxServers = 4;
};

struct WhoisChainResult
{
    // A record was obtained: the final text is a registry's, registrar's or RIR's whole answer
    // (or IANA's, when IANA names no further server).
    bool ok = false;
    // Why there is no record (ok false).
    QString reason;
    // In order: "host", or "host:port" for another port than 43.
    QStringList serversAsked;
    // A server that failed after the last whole answer (or instead of any), and why.
    QString failedServer;
    std::optional<LookupError> failure;
    // An rwhois:// referral seen on the way (not followed).
    QString rwhoisReferral;
    // The last whole answer, decoded, and the server that gave it.
    QString text;
    QString textServer;
};

// One hop as the chain hands it to the transport.
struct WhoisHop
{
    WhoisServer server;
    QByteArray query; // without CR LF
    // The host was read from an answer: a non-public address is refused (unless mapped).
    bool refuseNonPublic = false;
    // No server has answered this lookup yet but IANA through its cache, which keeps what it
    // answered: the chain can be run again from the start up to this hop without asking anyone
    // twice, so a lookup waiting for this hop's turn need not keep its chain.
    bool restartable = false;
};

// Drives the lookup of one address after another (any number at once) through port-43 WHOIS:
// IANA (cached) -> the registry or regional registry it names (asked in that server's form)
// -> the referrals in their answers, up to maxServers. A loop or a server asked twice ends
// the chain; a referral that fails keeps the last whole answer and names the failed server.
// Every hop goes through the Ask function, where a scheduler can add delays or throttling.
class WhoisChain : public QObject
{
    Q_OBJECT

public:
    using AnswerCallback = std::function<void(const WhoisReply &)>;
    using Ask = std::function<void(const WhoisHop &hop, const AnswerCallback &done)>;
    using Done = std::function<void(const WhoisChainResult &result)>;

    // Asks directly with a Whois43Client per hop, owned by `owner`.
    static Ask directAsk(const ConnectToMap &connectTo, const Whois43Limits &limits,
                         QObject *owner);

    WhoisChain(Ask ask, IanaCache *cache, QObject *parent = nullptr);

    // `done` is called once, later, unless the chain is destroyed first.
    void lookup(const Query &query, const WhoisChainOptions &options, Done done);
    // The same, with this lookup's hops asked through `ask` instead of the chain's own: one
    // chain serves every lookup of a source, each with its own tag and notes.
    void lookup(const Query &query, const WhoisChainOptions &options, Ask ask, Done done);
    // Lookups whose chain is held now (by a hop under way or waiting, or a cache's answer to
    // come), of every chain of this thread.
    static qsizetype heldLookups();

private:
    struct State;
    void askServer(const std::shared_ptr<State> &state, const WhoisServer &server,
                   bool fromReferral);
    void onAnswer(const std::shared_ptr<State> &state, const WhoisServer &server,
                  const WhoisReply &reply);
    void onIana(const std::shared_ptr<State> &state,
                const Result<IanaCache::Entry, LookupError> &entry);
    // `read`: the text's referral when it was read already (IANA's cached answers).
    void follow(const std::shared_ptr<State> &state, const QString &text, const QString &host,
                const WhoisReferral *read = nullptr);
    void fail(const std::shared_ptr<State> &state, const QString &server, const LookupError &error);
    void finish(const std::shared_ptr<State> &state);

    Ask m_ask;
    QPointer<IanaCache> m_cache;
};
