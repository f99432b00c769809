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
    setMaxAgeMs(maxAgeMs);
}

void StoreMemory::setMaxAgeMs(qint64 maxAgeMs)
{
    m_maxAgeMs = maxAgeMs;
    // Comparing reads a window's latest rows, a batch at a time, and now and then a payload:
    // 1 MiB of pages holds what is read again. Reusing reads every payload: 4 MiB.
    m_reader->setPageCacheKiB(maxAgeMs > 0 ? 4096 : 1024);
}

StoreMemory::~StoreMemory() = default;

void StoreMemory::sourcesOf(SourceKind kind, QString &source, QString &other)
{
    const bool either = kind == SourceKind::Auto;
    source = sourceKindName(either ? SourceKind::Rdap : kind);
    other = either ? sourceKindName(SourceKind::Whois) : source;
}

void StoreMemory::sayReadProblem()
{
    if (!m_readProblemSaid && m_reader->problem()) {
        m_readProblemSaid = true;
        emit problem(m_reader->problem().message);
    }
}

void StoreMemory::expect(const QStringList &addresses, SourceKind kind)
{
    // A run tops its window up an address or two at a time once it is going: those are read
    // one by one, which costs less than a query sized for a whole batch.
    if (!m_reader->readable() || addresses.size() < BatchAtLeast)
        return;
    sourcesOf(kind, m_knownSource, m_knownOther);
    QStringList asked;
    asked.reserve(addresses.size());
    QHash<QString, QString> addressOf; // asked -> as typed, for the rows that come back
    for (const QString &address : addresses) {
        Known &known = m_known[address];
        known.asked = askedForm(address);
        // Mostly the address as typed: one text for both (ten thousand may wait).
        if (known.asked == address)
            known.asked = address;
        known.bySource[0].reset();
        known.bySource[1].reset();
        asked << known.asked;
        addressOf.insert(known.asked, address);
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool read =
        m_reader->latestOf(asked, m_knownSource, m_knownOther, [&](StoredAnswer &&answer) {
            const auto typed = addressOf.constFind(answer.asked);
            if (typed == addressOf.cend())
                return;
            const bool mayBeReused = m_maxAgeMs > 0 && now - answer.lastSeenMs < m_maxAgeMs;
            Known &known = m_known[*typed];
            // Mostly asked as typed: then the asked text stands for it.
            QString address = answer.address == known.asked ? QString() : answer.address;
            known.bySource[answer.source == m_knownSource ? 0 : 1] = std::make_shared<const Seen>(
                Seen{answer.id, std::move(address), answer.askedAtMs, answer.lastSeenMs,
                     answer.digest, answer.dictionary, std::move(answer.changed),
                     mayBeReused ? std::move(answer.compressed) : QByteArray()});
        });
    if (!read) {
        // Asked one by one instead, each the way it would be without a batch.
        for (const QString &address : addresses)
            m_known.remove(address);
        sayReadProblem();
    }
}

std::optional<StoredAnswer> StoreMemory::latest(const QString &address, const QString &source,
                                                const QString &other)
{
    const auto known = m_known.constFind(address);
    const auto read = [&](const QString &name) {
        return name == m_knownSource || name == m_knownOther;
    };
    if (known == m_known.cend() || !read(source) || !read(other)) {
        std::optional<StoredAnswer> answer =
            m_reader->latest(askedForm(address), source, other, AnswerStore::Decode::Later);
        sayReadProblem();
        return answer;
    }
    // The newer of the answers from the sources asked for.
    const Seen *newest = nullptr;
    int newestSource = 0;
    for (int i = 0; i < 2; ++i) {
        const Seen *seen = known->bySource[i].get();
        const QString &from = i == 0 ? m_knownSource : m_knownOther;
        if (seen && (from == source || from == other) &&
            (!newest || seen->lastSeenMs > newest->lastSeenMs)) {
            newest = seen;
            newestSource = i;
        }
    }
    if (!newest)
        return std::nullopt;
    StoredAnswer answer;
    answer.id = newest->id;
    answer.asked = known->asked;
    answer.address = newest->address.isNull() ? known->asked : newest->address;
    answer.source = newestSource == 0 ? m_knownSource : m_knownOther;
    answer.askedAtMs = newest->askedAtMs;
    answer.lastSeenMs = newest->lastSeenMs;
    answer.digest = newest->digest;
    answer.dictionary = newest->dictionary;
    answer.changed = newest->changed;
    answer.compressed = newest->compressed;
    return answer;
}

bool StoreMemory::reuses() const
{
    return m_maxAgeMs > 0 && m_reader->readable();
}

std::optional<LookupResult> StoreMemory::reusable(const QString &address, SourceKind kind)
{
    if (m_maxAgeMs <= 0 || !m_reader->readable())
        return std::nullopt;
    QString source, other;
    sourcesOf(kind, source, other);
    std::optional<StoredAnswer> kept = latest(address, source, other);
    if (!kept || QDateTime::currentMSecsSinceEpoch() - kept->lastSeenMs >= m_maxAgeMs)
        return std::nullopt;
    m_known.remove(address);
    // Read without its payload when the answer was too old for the age allowed then.
    if ((kept->compressed.isEmpty() && !m_reader->readPayload(*kept)) || !m_reader->decode(*kept)) {
        sayReadProblem();
        return std::nullopt;
    }
    if (!isReusable(kept->result))
        return std::nullopt;
    kept->result.fromStore = true;
    return std::move(kept->result);
}

std::optional<LookupResult> StoreMemory::youngAnswer(AnswerStore &reader, const QString &address,
                                                     SourceKind kind, qint64 maxAgeMs)
{
    QString source, other;
    sourcesOf(kind, source, other);
    std::optional<StoredAnswer> kept = reader.latest(askedForm(address), source, other);
    if (!kept || QDateTime::currentMSecsSinceEpoch() - kept->lastSeenMs >= maxAgeMs ||
        !isReusable(kept->result))
        return std::nullopt;
    kept->result.fromStore = true;
    return std::move(kept->result);
}

void StoreMemory::keep(LookupResult &result)
{
    if (!m_writer->writing()) {
        m_known.remove(result.address);
        return;
    }
    PendingAnswer pending;
    const auto known = m_known.constFind(result.address);
    pending.asked = known != m_known.cend() ? known->asked : askedForm(result.address);
    if (isReusable(result) && m_reader->readable()) {
        // The previous answer from the same source, and what of it changed.
        const QString source = sourceText(result.source);
        std::optional<StoredAnswer> previous = latest(result.address, source, source);
        if (previous && previous->digest != 0) {
            // The writer would work the digest out itself; with it here, a record the same as
            // the previous one (volatile lines aside), which says the same facts, is neither
            // read again nor decoded: the daily run of an unchanged list.
            pending.digest = answerDigest(result);
            if (pending.digest == previous->digest)
                previous.reset();
        }
        if (previous && previous->compressed.isEmpty() && !m_reader->readPayload(*previous))
            previous.reset();
        if (previous && m_reader->decode(*previous)) {
            for (const FactFields::Change &change :
                 FactFields::changes(previous->result.facts, result.facts))
                result.changed << QLatin1String(change.key);
        }
    }
    m_known.remove(result.address);
    // The writer keeps the record, not its cut into fields (about 2 KB an answer, a few
    // hundred answers waiting).
    RecordFields fields = std::move(result.fields);
    pending.result = result;
    result.fields = std::move(fields);
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
