#include "cli/pendingrun.h"

#include "lookup/delay.h"
#include "lookup/whoisfetcher.h"

// In its own file: recordlines.h still has a RecordField of its own.
QList<std::pair<QString, QString>> pendingRecordFields(const QString &record);

QString failureReasonText(FailureReason reason)
{
    return reason == FailureReason::None ? QString()
                                         : QStringLiteral("the page could not be loaded");
}

PendingLookupRun::PendingLookupRun(QStringList addresses, RunOptions options, QObject *parent)
    : QObject(parent), m_addresses(std::move(addresses)), m_options(std::move(options)),
      m_fetcher(new WhoisFetcher(this))
{
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &PendingLookupRun::next);
    connect(m_fetcher, &WhoisFetcher::finished, this, &PendingLookupRun::arrived);
}

void PendingLookupRun::start()
{
    QTimer::singleShot(0, this, &PendingLookupRun::next);
}

void PendingLookupRun::next()
{
    if (m_finished)
        return;
    if (m_stopping || ++m_index >= m_addresses.size()) {
        m_finished = true;
        emit finished();
        return;
    }
    m_site = m_options.site().value_or(Site::Option2);
    emit lookupStarted(m_index, m_addresses[m_index]);
    m_fetcher->FetchWhoisRecord(m_site, m_addresses[m_index]);
}

void PendingLookupRun::arrived(bool ok, const QString &record)
{
    LookupResult result;
    result.address = m_addresses[m_index];
    result.source = QStringLiteral("site") + QString::number(int(m_site));
    result.servers << Sites::host(m_site);
    if (!ok) {
        result.status = LookupStatus::Failed;
        result.reason = FailureReason::Network;
        result.error = QStringLiteral("the page could not be loaded");
    } else {
        for (const auto &[name, value] : pendingRecordFields(record))
            result.fields.append(RecordField{name, value});
    }
    emit resultReady(m_index, result);
    const int seconds = DelaySeconds(m_options.delayText()).value_or(0);
    if (seconds > 0)
        m_pause.start(seconds * 1000);
    else
        QTimer::singleShot(0, this, &PendingLookupRun::next);
}

void PendingLookupRun::requestStop()
{
    if (m_stopping || m_finished)
        return;
    m_stopping = true;
    m_fetcher->abort();
    m_pause.stop();
    QTimer::singleShot(0, this, &PendingLookupRun::next);
}
