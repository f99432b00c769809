#pragma once

#include "facts/recordfacts.h"
#include "lookup/politescheduler.h"
#include "lookup/source.h"
#include "net/connectto.h"
#include "net/proxysettings.h"
#include "net/whois43client.h"
#include "whois/whoischain.h"

#include <QPointer>
#include <QSet>

#include <memory>
#include <vector>

class IanaCache;

struct WhoisSourceOptions
{
    ConnectToMap connectTo;
    // Port 43 goes through a SOCKS5 proxy named here.
    ProxySettings proxy;
    Whois43Limits limits;
    QString cacheFolder; // where IANA's answers are kept (IanaCache)
    int maxServers = 4;
    // Asked first instead of IANA; with followReferrals off, the only server asked.
    std::optional<WhoisServer> firstServer;
    bool followReferrals = true;
};

// Port-43 WHOIS as a source: IANA (through its cache), the registry it names asked in that
// registry's query form, the referrals in the answers, at most `maxServers` servers. Every hop
// is a request to its own server through the scheduler; a rate-limit answer is never a record.
class WhoisSource : public Source
{
    Q_OBJECT

public:
    WhoisSource(const WhoisSourceOptions &options, PoliteScheduler &scheduler,
                QObject *parent = nullptr);

    void lookup(quint64 tag, const QString &address, Done done) override;
    // A lookup of an address already parsed (the auto source decides with it): `query` is
    // what parseQuery reads from its text.
    void lookup(quint64 tag, const Query &query, Done done);
    void abortAll() override;

    // How a port-43 answer counts for the scheduler.
    static Verdict verdictOf(const Whois43Answer &answer);
    // The same, with the facts already read from a whole answer (null when there are none).
    static Verdict verdictOf(const Whois43Answer &answer, const RecordFacts *facts);

private:
    // A whole answer read once when it came: its text, its lines joined by CR LF, their facts.
    struct ReadAnswer
    {
        QString text;
        QString record;
        RecordFacts facts;
    };
    // A parked lookup's turn came, or the scheduler gave its request up.
    struct Resumed
    {
        PoliteScheduler::Settle turn;
        std::optional<PoliteScheduler::GiveUp> givenUp;
        QString reason;
    };
    // What one lookup learns on its way. The answer is made when a whole one comes (the run's
    // window of waiting lookups holds no room for one) and let go when the lookup ends.
    struct Notes
    {
        QPointer<WhoisSource> source;
        quint64 generation = 0;
        quint64 tag = 0;
        // The address as given, and the query read from it while the chain runs: a parked
        // lookup reads it again when its turn comes.
        QString address;
        std::unique_ptr<Query> query;
        Done done;
        std::unique_ptr<ReadAnswer> answer;
        // Parked: the server whose turn the lookup waits for, its chain let go.
        QString parkedAt;

        // The source is still there and has not been aborted since the lookup began.
        bool live() const { return source && generation == source->m_generation; }
    };
    // One hop handed to the scheduler, until its answer or its giving up.
    struct Hop
    {
        WhoisHop hop;
        WhoisChain::AnswerCallback done;
        std::shared_ptr<Notes> notes;
    };
    // The turn a parked lookup's chain, run again, takes at its first hop: held by the chain's
    // callbacks alone. The turn holds the scheduler's job, the job the notes: kept in the
    // notes, a chain that never reached its first hop (aborted, or let go at exit) would keep
    // all three alive.
    using ResumedTurn = std::shared_ptr<std::unique_ptr<Resumed>>;
    // Runs the lookup's chain: from the start, or again once a parked lookup's turn came.
    void runChain(const std::shared_ptr<Notes> &notes, const ResumedTurn &resumed = {});
    static WhoisChain::Ask scheduledAsk(const std::shared_ptr<Notes> &notes,
                                        const ResumedTurn &resumed);
    // A lookup whose chain can be run again up to this hop waits for the hop's turn holding
    // only its notes: ten thousand lookups may wait behind one server.
    void park(const std::shared_ptr<Notes> &notes, const QString &server);
    static void resume(const std::shared_ptr<Notes> &notes, Resumed resumed);
    // The hop's turn: a client asks its server.
    static void start(const std::shared_ptr<Hop> &asked, const PoliteScheduler::Settle &settle);
    static void giveUp(const Hop &asked, PoliteScheduler::GiveUp why, const QString &reason);
    // An idle client, or a new one: no more are ever made than requests were under way at once.
    Whois43Client *takeClient();

    WhoisSourceOptions m_options;
    IanaCache *m_cache;
    // One chain drives every lookup (each lookup's state is its own).
    WhoisChain *m_chain;
    // Under way, and idle for the next request.
    QSet<Whois43Client *> m_clients;
    std::vector<Whois43Client *> m_idle;
    quint64 m_generation = 0;
};
