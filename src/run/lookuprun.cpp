#include "run/lookuprun.h"

#include "lookup/delay.h"
#include "net/httpclient.h"
#include "rdap/httprdapfetch.h"
#include "rdap/rdapbootstrapstore.h"
#include "rdap/rdapsource.h"
#include "run/autosource.h"
#include "web/sitesource.h"
#include "whois/whoissource.h"

#include <QDateTime>

ConnectToMap RunOptions::environmentConnectTo()
{
    static const ConnectToMap map = ConnectToMap::fromEnvironment();
    return map;
}

LookupRun::LookupRun(QStringList addresses, RunOptions options, QObject *parent)
    : LookupRun(std::make_unique<ListFeed>(std::move(addresses)), std::move(options), parent)
{
}

LookupRun::LookupRun(std::unique_ptr<AddressFeed> feed, RunOptions options, QObject *parent)
    : QObject(parent), m_feed(std::move(feed)), m_options(std::move(options)),
      m_scheduler(new PoliteScheduler(this))
{
    m_feed->setOnReady([this] { fed(); });
    m_scheduler->setMaxBusy(m_options.parallel);
    m_scheduler->setDelay([this](quint64 tag) { return readDelayMs(tag); });
    connect(m_scheduler, &PoliteScheduler::dispatched, this, [this](quint64 tag) {
        if (Slot *s = slot(qsizetype(tag))) {
            s->started = true;
            announce();
        }
    });
    m_pause.setSingleShot(true);
    // A coarse timer may end a long pause up to 5% early.
    m_pause.setTimerType(Qt::PreciseTimer);
    connect(&m_pause, &QTimer::timeout, this, [this] {
        if (allDone())
            finish();
    });
}

LookupRun::~LookupRun()
{
    // Sources and transports go before the scheduler their callbacks point into.
    for (Source *source : m_sources)
        delete source;
    m_sources = {};
}

void LookupRun::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void LookupRun::start()
{
    if (m_state != State::Ready)
        return;
    setState(State::Running);
    admit();
    if (allDone())
        finish();
}

bool LookupRun::allDone() const
{
    return m_emitted == m_admitted && m_feed->atEnd();
}

void LookupRun::fed()
{
    if (m_state != State::Running)
        return;
    admit();
    // The end of the input may come after the last answer.
    if (allDone() && !m_pause.isActive())
        QTimer::singleShot(0, this, [this] {
            if (m_state == State::Running && allDone() && !m_pause.isActive())
                finish();
        });
}

LookupRun::Slot *LookupRun::slot(qsizetype index)
{
    if (index < m_emitted || index >= m_admitted)
        return nullptr;
    return &m_slots[size_t(index - m_emitted)];
}

void LookupRun::admit()
{
    // Topped up in steps of AdmitStep, not an address at a time: the answer store reads what
    // it holds of a step's addresses in one go.
    if (m_admitted > m_emitted && Window - (m_admitted - m_emitted) < AdmitStep)
        return;
    while (m_state == State::Running && m_admitted - m_emitted < Window && !m_feed->atEnd()) {
        const QStringList batch = m_feed->take(Window - (m_admitted - m_emitted));
        if (batch.isEmpty())
            return; // the feed says when it has more
        if (m_options.memory) {
            if (const std::optional<SourceKind> kind = chosenSource())
                m_options.memory->expect(batch, *kind);
        }
        for (const QString &address : batch) {
            if (m_state != State::Running)
                return;
            const qsizetype index = m_admitted++;
            m_slots.emplace_back().address = address;
            startLookup(index);
        }
    }
}

std::optional<SourceKind> LookupRun::chosenSource() const
{
    if (m_options.source)
        return m_options.source();
    if (m_options.site) {
        if (const std::optional<Site> site = m_options.site())
            return SourceKind(int(*site) - 1);
    }
    return std::nullopt;
}

void LookupRun::startLookup(qsizetype index)
{
    const QString address = slot(index)->address;
    const std::optional<SourceKind> kind = chosenSource();
    if (kind && m_options.memory) {
        if (std::optional<LookupResult> kept = m_options.memory->reusable(address, *kind)) {
            // Counted and shown like an asked row, without a server.
            kept->address = address;
            QMetaObject::invokeMethod(
                this, [this, index, kept = std::move(*kept)] { lookupDone(index, kept); },
                Qt::QueuedConnection);
            return;
        }
    }
    Source *source = kind ? sourceFor(*kind) : nullptr;
    if (!source) {
        // No source chosen: the record stays empty.
        LookupResult empty;
        empty.address = address;
        QMetaObject::invokeMethod(
            this, [this, index, empty] { lookupDone(index, empty); }, Qt::QueuedConnection);
        return;
    }
    source->lookup(quint64(index), address,
                   [this, index](const LookupResult &result) { lookupDone(index, result); });
}

Source *LookupRun::sourceFor(SourceKind kind)
{
    Source *&source = m_sources[size_t(kind)];
    if (source)
        return source;
    auto rdap = [this] {
        if (!m_rdapFetch) {
            m_rdapHttp = new HttpClient(this);
            m_rdapHttp->setConnectTo(m_options.connectTo.curlEntries());
            // One kept-alive connection per server that may be busy: with `parallel` sized to
            // the files the process may open, the idle ones fit as well.
            m_rdapHttp->setMaxCachedConnections(m_options.parallel);
            m_rdapFetch = new HttpRdapFetch(m_rdapHttp, false, m_options.connectTo, this);
            m_rdapFetch->setTimeoutMs(m_options.rdapTimeoutMs);
        }
        RdapSource::Bootstrap bootstrap;
        if (m_options.rdapBootstrap) {
            bootstrap = [b = m_options.rdapBootstrap]() -> const RdapBootstrap & { return *b; };
        } else {
            if (!m_bootstrapStore) {
                m_bootstrapFetch = new HttpRdapFetch(m_rdapHttp, true, m_options.connectTo, this);
                m_bootstrapStore = new RdapBootstrapStore(
                    RdapBootstrapStore::defaultCacheFolder(),
                    RdapBootstrapStore::folderUrlFromEnvironment(), m_bootstrapFetch, this);
                m_bootstrapStore->start();
            }
            bootstrap = [store = m_bootstrapStore]() -> const RdapBootstrap & {
                return store->bootstrap();
            };
        }
        return new RdapSource(std::move(bootstrap), m_rdapFetch, *m_scheduler);
    };
    auto whois = [this] {
        WhoisSourceOptions options;
        options.connectTo = m_options.connectTo;
        options.limits = m_options.whoisLimits;
        options.cacheFolder = m_options.cacheFolder;
        options.firstServer = m_options.whoisServer;
        options.followReferrals = m_options.followReferrals;
        return new WhoisSource(options, *m_scheduler);
    };
    switch (kind) {
    case SourceKind::Site1:
    case SourceKind::Site2:
    case SourceKind::Site3:
        source = new SiteSource(Site(int(kind) + 1), m_options.sites, m_options.limits,
                                m_options.connectTo.curlEntries(), *m_scheduler);
        break;
    case SourceKind::Whois:
        source = whois();
        break;
    case SourceKind::Rdap:
        source = rdap();
        break;
    case SourceKind::Auto: {
        auto *r = static_cast<RdapSource *>(sourceFor(SourceKind::Rdap));
        auto *w = static_cast<WhoisSource *>(sourceFor(SourceKind::Whois));
        source = new AutoSource(*r, *w, *m_scheduler);
        break;
    }
    }
    return source;
}

qint64 LookupRun::readDelayMs(quint64 tag)
{
    const QString text = m_options.delayText ? m_options.delayText() : QString();
    std::optional<qint64> ms;
    if (m_options.delayInWholeSeconds) {
        if (const std::optional<int> seconds = DelaySeconds(text))
            ms = qint64(*seconds) * 1000;
    } else {
        ms = DelayMilliseconds(text, QLocale::c());
    }
    if (!ms) {
        if (Slot *s = slot(qsizetype(tag)))
            s->delayUnreadable = true;
        m_lastDelayMs = 0;
        return 0;
    }
    m_lastDelayMs = qMax<qint64>(0, *ms);
    return m_lastDelayMs;
}

void LookupRun::lookupDone(qsizetype index, const LookupResult &result)
{
    if (m_state != State::Running)
        return;
    Slot *s = slot(index);
    if (!s || s->done)
        return;
    s->done = true;
    s->started = true;
    s->result = result;
    if (!m_options.keepAnswers)
        s->result.answer = QByteArray();
    if (!result.fromStore) {
        if (s->result.askedAtMs == 0)
            s->result.askedAtMs = QDateTime::currentMSecsSinceEpoch();
        // A lookup without a source (the record left empty) asked nothing worth keeping.
        if (m_options.memory && !s->result.source.isEmpty())
            m_options.memory->keep(s->result);
    }
    announce();
    flush();
}

void LookupRun::announce()
{
    while (m_state == State::Running && m_announced < m_admitted) {
        Slot *s = slot(m_announced);
        if (!s || !s->started)
            break;
        const qsizetype index = m_announced++;
        emit lookupStarted(index, s->address);
    }
}

void LookupRun::flush()
{
    bool unreadable = false;
    bool any = false;
    while (m_state == State::Running && m_emitted < m_announced && m_slots.front().done) {
        Slot s = std::move(m_slots.front());
        m_slots.pop_front();
        const qsizetype index = m_emitted++;
        any = true;
        emit resultReady(index, s.result);
        unreadable = s.delayUnreadable;
        if (unreadable && m_state == State::Running)
            emit delayUnreadable(index);
    }
    if (!any)
        return;
    if (m_state != State::Running) {
        finish();
        return;
    }
    admit();
    // With nothing in flight the run is pausing (with one server, between two lookups); the
    // run ends after the pause that follows the last answer.
    const bool pause = !unreadable && m_lastDelayMs > 0 && m_scheduler->busyCount() == 0;
    if (pause) {
        m_pause.start(std::chrono::milliseconds(m_lastDelayMs));
        emit pausing(int((m_lastDelayMs + 999) / 1000));
    }
    if (allDone() && !m_pause.isActive())
        QTimer::singleShot(0, this, &LookupRun::finish);
}

std::vector<std::pair<qsizetype, LookupResult>> LookupRun::takeWaitingResults()
{
    std::vector<std::pair<qsizetype, LookupResult>> out;
    if (m_state == State::Running)
        return out;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        Slot &s = m_slots[i];
        if (!s.done)
            continue;
        s.done = false;
        out.emplace_back(m_emitted + qsizetype(i), std::exchange(s.result, LookupResult{}));
    }
    return out;
}

void LookupRun::requestStop()
{
    if (m_state == State::Ready) {
        setState(State::Stopping);
        QTimer::singleShot(0, this, &LookupRun::finish);
        return;
    }
    if (m_state != State::Running)
        return;
    setState(State::Stopping);
    // The lookups under way keep their addresses only.
    m_scheduler->stop();
    for (Source *source : m_sources) {
        if (source)
            source->abortAll();
    }
    if (m_rdapHttp)
        m_rdapHttp->abortAll();
    m_pause.stop();
    // Finished from the event loop, not from inside the caller's handler.
    QTimer::singleShot(0, this, &LookupRun::finish);
}

void LookupRun::finish()
{
    if (m_state == State::Finished)
        return;
    m_pause.stop();
    setState(State::Finished);
    emit finished();
}
