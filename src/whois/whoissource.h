#pragma once

#include "lookup/politescheduler.h"
#include "lookup/source.h"
#include "net/connectto.h"
#include "net/proxysettings.h"
#include "net/whois43client.h"
#include "whois/whoischain.h"

#include <QPointer>
#include <QSet>

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
    // A lookup of an address already parsed (the auto source decides with it).
    void lookup(quint64 tag, const Query &query, Done done);
    void abortAll() override;

    // How a port-43 answer counts for the scheduler.
    static Verdict verdictOf(const Whois43Answer &answer);

private:
    WhoisChain::Ask scheduledAsk(quint64 tag);

    WhoisSourceOptions m_options;
    IanaCache *m_cache;
    QSet<Whois43Client *> m_clients;
    quint64 m_generation = 0;
};
