#pragma once

#include "lookup/politescheduler.h"
#include "lookup/query.h"
#include "lookup/source.h"
#include "rdap/rdapbootstrap.h"
#include "rdap/rdapfetch.h"

#include <QUrl>

#include <functional>
#include <memory>

// RDAP as a source: the bootstrap names the service for a domain, address or AS number; its
// answer is the record, a registry's domain answer joined with the registrar's (the link it
// gives is followed, the registry staying authoritative). Redirects from one registry to
// another (301 to 308) are followed, at most MaxRedirects. The registry's "not found" for a
// domain says the name is available; 429 is throttling, Retry-After honoured. Every request,
// redirect and registrar link included, goes through the scheduler to its own server.
class RdapSource : public Source
{
    Q_OBJECT

public:
    static constexpr int MaxRedirects = 5;
    // The bootstrap in use; read for every lookup (a refresh may replace it during a run).
    using Bootstrap = std::function<const RdapBootstrap &()>;
    // Calls `go` later, from the event loop, once the bootstrap may be used (while its files
    // are still being fetched, lookups wait rather than go by a stand-in).
    using WhenUsable = std::function<void(QObject *context, std::function<void()> go)>;

    RdapSource(Bootstrap bootstrap, RdapFetch *fetch, PoliteScheduler &scheduler,
               QObject *parent = nullptr);
    // Unset: the bootstrap is always usable.
    void setWhenUsable(WhenUsable whenUsable) { m_whenUsable = std::move(whenUsable); }

    void lookup(quint64 tag, const QString &address, Done done) override;
    void lookup(quint64 tag, const Query &query, Done done);
    void abortAll() override;
    // Calls `go` later, once the bootstrap may be used, unless abortAll comes first.
    void whenBootstrapUsable(std::function<void()> go);

    // The service base URLs for a query (empty: RDAP has none).
    QStringList servicesFor(const Query &query) const;
    // The scheduler's name of the server a URL goes to: "host" or "host:port".
    static QString serverOf(const QUrl &url);

private:
    struct Lookup;
    void begin(const std::shared_ptr<Lookup> &lookup);
    // `referrer`: the server whose answer named the URL (empty for the bootstrap's service).
    void request(const std::shared_ptr<Lookup> &lookup, const QUrl &url, bool fromRegistry,
                 int redirects, const QUrl &referrer = {});
    void answered(const std::shared_ptr<Lookup> &lookup, const QUrl &url, bool fromRegistry,
                  int redirects, const RdapFetchResult &fetched);
    void finishRecord(const std::shared_ptr<Lookup> &lookup);
    void fail(const std::shared_ptr<Lookup> &lookup, FailureReason reason, const QString &detail);

    Bootstrap m_bootstrap;
    WhenUsable m_whenUsable;
    RdapFetch *m_fetch;
    quint64 m_generation = 0;
};
