#include "store/storememory.h"

#include "store/factfields.h"
#include "store/sqlanswerstore.h"
#include "store/storewriter.h"

#include <QDateTime>

StoreMemory::StoreMemory(const StoreLocation &location, qint64 maxAgeMs, QObject *parent)
    : QObject(parent), m_maxAgeMs(maxAgeMs)
{
    // The writer makes the store (and its schema) first; the reader then finds it.
    m_writer = std::make_unique<StoreWriter>(location);
    connect(m_writer.get(), &StoreWriter::failed, this, &StoreMemory::problem);
    m_reader = SqlAnswerStore::open(location, SqlAnswerStore::Access::ReadOnly);
    const StoreProblem written = m_writer->openProblem();
    const StoreProblem read = m_reader->problem();
    // A refusal says more than a failure to write; either is said once.
    m_openProblem = read.kind == StoreProblem::Kind::Refused ? read.message
                    : written                                ? written.message
                                                             : read.message;
    m_readProblemSaid = read.kind != StoreProblem::Kind::None;
}

StoreMemory::~StoreMemory() = default;

std::optional<LookupResult> StoreMemory::youngAnswer(AnswerStore &reader, const QString &address,
                                                     SourceKind kind, qint64 maxAgeMs)
{
    // The auto source answers with RDAP or port 43: the newer of the two stands for it.
    const bool either = kind == SourceKind::Auto;
    const QString source = sourceKindName(either ? SourceKind::Rdap : kind);
    const QString other = either ? sourceKindName(SourceKind::Whois) : QString();
    std::optional<StoredAnswer> kept = reader.latest(askedForm(address), source, other);
    if (!kept || QDateTime::currentMSecsSinceEpoch() - kept->lastSeenMs >= maxAgeMs ||
        !isReusable(kept->result))
        return std::nullopt;
    kept->result.fromStore = true;
    return std::move(kept->result);
}

std::optional<LookupResult> StoreMemory::reusable(const QString &address, SourceKind kind)
{
    if (m_maxAgeMs <= 0 || !m_reader->readable())
        return std::nullopt;
    std::optional<LookupResult> kept = youngAnswer(*m_reader, address, kind, m_maxAgeMs);
    if (!kept && !m_readProblemSaid && m_reader->problem()) {
        m_readProblemSaid = true;
        emit problem(m_reader->problem().message);
    }
    return kept;
}

void StoreMemory::keep(LookupResult &result)
{
    if (!m_writer->writing())
        return;
    PendingAnswer pending;
    pending.asked = askedForm(result.address);
    pending.digest = answerDigest(result);
    if (isReusable(result) && m_reader->readable()) {
        std::optional<StoredAnswer> previous =
            m_reader->latest(pending.asked, result.source, {}, AnswerStore::Decode::Later);
        if (previous && previous->digest != pending.digest && m_reader->decode(*previous)) {
            for (const FactFields::Change &change :
                 FactFields::changes(previous->result.facts, result.facts))
                result.changed << QLatin1String(change.key);
        }
    }
    pending.result = result;
    m_writer->add(std::move(pending));
}

void StoreMemory::flush()
{
    m_writer->flush();
}

QString StoreMemory::finish()
{
    return m_writer->finish();
}
