#include "lookup/lookuprun.h"

#include "lookup/delay.h"

LookupRun::LookupRun(QStringList addresses, RunOptions options, QObject *parent)
    : QObject(parent), m_addresses(std::move(addresses)), m_options(std::move(options)),
      m_fetcher(new WhoisFetcher(m_options.sites, m_options.limits, this))
{
    m_pause.setSingleShot(true);
    // A coarse timer may end a long pause up to 5% early.
    m_pause.setTimerType(Qt::PreciseTimer);
    connect(&m_pause, &QTimer::timeout, this, &LookupRun::yieldThenContinue);
    connect(m_fetcher, &WhoisFetcher::finished, this, &LookupRun::resultArrived);
}

LookupRun::~LookupRun() = default;

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
    nextAddress();
}

void LookupRun::nextAddress()
{
    if (m_state == State::Finished)
        return;
    if (m_state == State::Stopping || m_next >= m_addresses.size()) {
        finish();
        return;
    }
    m_current = m_next++;
    const QString &address = m_addresses[m_current];
    emit lookupStarted(m_current, address);
    const std::optional<Site> site = m_options.site ? m_options.site() : std::nullopt;
    if (!site) {
        // No site chosen: the record stays empty.
        LookupResult empty;
        empty.address = address;
        resultArrived(empty);
        return;
    }
    m_fetcher->FetchWhoisRecord(*site, address);
}

void LookupRun::resultArrived(const LookupResult &result)
{
    if (m_state != State::Running)
        return;
    emit resultReady(m_current, result);
    if (m_state != State::Running) {
        finish();
        return;
    }
    pauseThenContinue();
}

void LookupRun::pauseThenContinue()
{
    const std::optional<int> seconds =
        DelaySeconds(m_options.delayText ? m_options.delayText() : QString());
    if (!seconds) {
        emit delayUnreadable(m_current);
        yieldThenContinue();
        return;
    }
    if (*seconds <= 0) {
        yieldThenContinue();
        return;
    }
    m_pause.start(std::chrono::seconds(*seconds));
    emit pausing(*seconds);
}

void LookupRun::yieldThenContinue()
{
    // Pending events run before the next address.
    QTimer::singleShot(0, this, &LookupRun::nextAddress);
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
    // The lookup under way keeps its address only.
    m_fetcher->abort();
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
