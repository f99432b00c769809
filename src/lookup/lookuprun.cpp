#include "lookup/lookuprun.h"

#include "lookup/delay.h"
#include "lookup/recordlines.h"
#include "lookup/whoisfetcher.h"
#include "results/resultstable.h"

LookupRun::LookupRun(ResultsTable &table, QStringList addresses,
                     std::function<std::optional<Site>()> site, std::function<QString()> delayText,
                     QObject *parent)
    : QObject(parent), m_table(table), m_addresses(std::move(addresses)), m_site(std::move(site)),
      m_delayText(std::move(delayText)), m_fetcher(new WhoisFetcher(this))
{
    m_pause.setSingleShot(true);
    // A coarse timer may end a long pause up to 5% early.
    m_pause.setTimerType(Qt::PreciseTimer);
    connect(&m_pause, &QTimer::timeout, this, &LookupRun::yieldThenContinue);
    connect(m_fetcher, &WhoisFetcher::finished, this, &LookupRun::recordArrived);
}

LookupRun::~LookupRun() = default;

void LookupRun::start()
{
    if (m_state == State::Ready)
        nextAddress();
}

void LookupRun::nextAddress()
{
    if (m_state == State::Finished)
        return;
    if (m_stopRequested || m_next >= m_addresses.size()) {
        finish();
        return;
    }
    const QString address = m_addresses[m_next++];
    m_row = m_table.AddResultRow(address);
    const std::optional<Site> site = m_site ? m_site() : std::nullopt;
    if (!site) {
        // No site chosen: the record stays empty.
        recordArrived(true, QString());
        return;
    }
    m_state = State::Fetching;
    m_fetcher->FetchWhoisRecord(*site, address);
}

void LookupRun::recordArrived(bool ok, const QString &record)
{
    if (m_state == State::Finished)
        return;
    m_state = State::Placing;
    if (!ok) {
        m_table.MarkRowInvalid(m_row);
    } else if (!record.isEmpty()) {
        for (const QString &line : SplitRecordLines(record)) {
            if (m_stopRequested)
                break;
            const std::optional<RecordField> field = ParseRecordLine(line);
            if (!field)
                continue;
            bool placed = false;
            try {
                placed = m_table.PlaceField(m_row, field->name, field->value);
            } catch (const std::exception &) {
                placed = false;
            }
            if (!placed)
                m_table.MarkRowInvalid(m_row);
        }
    }
    if (m_stopRequested) {
        finish();
        return;
    }
    pauseThenContinue();
}

void LookupRun::pauseThenContinue()
{
    const std::optional<int> seconds = DelaySeconds(m_delayText ? m_delayText() : QString());
    if (!seconds) {
        // The delay no longer reads as a whole number in range: this pause is skipped.
        m_table.MarkRowInvalid(m_row);
        yieldThenContinue();
        return;
    }
    if (*seconds <= 0) {
        yieldThenContinue();
        return;
    }
    m_state = State::Pausing;
    m_pause.start(std::chrono::seconds(*seconds));
    emit pausing(*seconds);
}

void LookupRun::yieldThenContinue()
{
    // The window's pending events run before the next address.
    m_state = State::Yielding;
    QTimer::singleShot(0, this, &LookupRun::nextAddress);
}

void LookupRun::requestStop()
{
    if (m_stopRequested || m_state == State::Finished)
        return;
    m_stopRequested = true;
    if (m_state == State::Fetching) {
        // The page's row keeps its address only.
        m_fetcher->abort();
    } else if (m_state == State::Pausing) {
        m_pause.stop();
    } else {
        return; // the run sees the request at its next check point
    }
    // Finished from the event loop, not from inside the caller's click handler.
    m_state = State::Yielding;
    QTimer::singleShot(0, this, &LookupRun::nextAddress);
}

void LookupRun::finish()
{
    if (m_state == State::Finished)
        return;
    m_state = State::Finished;
    m_pause.stop();
    emit finished();
}
