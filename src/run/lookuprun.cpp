#include "run/lookuprun.h"

#include "lookup/delay.h"
#include "platform/logging.h"
#include "run/standardsources.h"

#include <QDateTime>

ConnectToMap RunOptions::environmentConnectTo()
{
    static const ConnectToMap map = ConnectToMap::fromEnvironment();
    return map;
}

ProxySettings RunOptions::environmentProxy()
{
    static const ProxySettings proxy = ProxySettings::fromEnvironment();
    return proxy;
}

LookupRun::LookupRun(QStringList addresses, RunOptions options, QObject *parent)
    : LookupRun(std::make_unique<ListFeed>(std::move(addresses)), std::move(options), parent)
{
}

LookupRun::LookupRun(std::unique_ptr<AddressFeed> feed, RunOptions options, QObject *parent)
    : QObject(parent), m_feed(std::move(feed)), m_options(std::move(options)),
      m_scheduler(new PoliteScheduler(this))
{
    const RunSources::Notice notice = [this](const QString &text) { emit this->notice(text); };
    m_sources = m_options.sourceFactory
                    ? m_options.sourceFactory(*m_scheduler, notice)
                    : std::make_unique<StandardSources>(m_options, *m_scheduler, notice);
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
    m_sources.reset();
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
    qCInfo(lcRun) << "run started: at most" << m_options.parallel << "servers at once";
    admit();
    if (allDone())
        finish();
}

bool LookupRun::allDone() const
{
    return m_emitted == m_admitted && m_feed->atEnd();
}

bool LookupRun::heldByPause() const
{
    return m_options.pauseAfterLast && m_pause.isActive();
}

void LookupRun::fed()
{
    if (m_state != State::Running)
        return;
    admit();
    // The end of the input may come after the last answer.
    if (allDone() && !heldByPause())
        QTimer::singleShot(0, this, [this] {
            if (m_state == State::Running && allDone() && !heldByPause())
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
            return Sites::sourceKind(*site);
    }
    return std::nullopt;
}

void LookupRun::startLookup(qsizetype index)
{
    const std::optional<SourceKind> kind = chosenSource();
    if (kind && m_options.memory && m_options.memory->reuses()) {
        // Read from the event loop, one address at a time: an answer given from the memory is
        // written out before the next is read, where a window's worth of decoded answers
        // would otherwise wait at once.
        QMetaObject::invokeMethod(
            this, [this, index, kind] { reuseOrAsk(index, *kind); }, Qt::QueuedConnection);
        return;
    }
    ask(index, kind);
}

void LookupRun::reuseOrAsk(qsizetype index, SourceKind kind)
{
    const Slot *s = slot(index);
    if (m_state != State::Running || !s || s->done)
        return;
    if (std::optional<LookupResult> kept = m_options.memory->reusable(s->address, kind)) {
        // Counted and shown like an asked row, without a server.
        kept->address = s->address;
        lookupDone(index, *kept);
        return;
    }
    ask(index, kind);
}

void LookupRun::ask(qsizetype index, std::optional<SourceKind> kind)
{
    const QString address = slot(index)->address;
    Source *source = kind && m_sources ? m_sources->source(*kind) : nullptr;
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
    s->result = std::make_unique<LookupResult>(result);
    LookupResult &kept = *s->result;
    if (!result.fromStore) {
        if (kept.askedAtMs == 0)
            kept.askedAtMs = QDateTime::currentMSecsSinceEpoch();
        // A lookup without a source (the record left empty) asked nothing worth keeping. The
        // store keeps the answer as sent, so it is let go only after this.
        if (m_options.memory && kept.source)
            m_options.memory->keep(kept);
    }
    if (!m_options.keepAnswers)
        kept.answer = QByteArray();
    if (!m_options.keepNotices)
        dropNoticeFields(kept);
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
        qCInfo(lcRun).noquote() << "row" << index << s.address << "->"
                                << (s.result->ok() ? recordStatusName(s.result->facts.status)
                                                   : s.result->error)
                                << "asked:" << s.result->servers.join(QStringLiteral(", "));
        emit resultReady(index, *s.result);
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
    // window's run ends after the pause that follows the last answer, the command line's at once.
    const bool pause = !unreadable && m_lastDelayMs > 0 && m_scheduler->busyCount() == 0 &&
                       (m_options.pauseAfterLast || !allDone());
    if (pause) {
        m_pause.start(std::chrono::milliseconds(m_lastDelayMs));
        qCInfo(lcRun) << "pausing" << m_lastDelayMs << "ms";
        emit pausing(int((m_lastDelayMs + 999) / 1000));
    }
    if (allDone() && !heldByPause())
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
        out.emplace_back(m_emitted + qsizetype(i), std::move(*std::exchange(s.result, nullptr)));
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
    qCInfo(lcRun) << "stop asked for after" << m_emitted << "rows";
    // The lookups under way keep their addresses only.
    m_scheduler->stop();
    if (m_sources)
        m_sources->abortAll();
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
    qCInfo(lcRun) << "run finished:" << m_emitted << "rows";
    emit finished();
}
