#pragma once

#include "lookup/answermemory.h"
#include "store/answerstore.h"
#include "store/storelocation.h"

#include <QHash>
#include <QObject>

#include <memory>

class SqlAnswerStore;
class StoreWriter;

// A run's memory kept in the answer store: a young enough whole answer from the same source is
// given instead of asking (maxAgeMs; 0: always ask), each new answer is compared with the
// address's previous one (LookupResult::changed) and handed to a writer thread.
class StoreMemory : public QObject, public AnswerMemory
{
    Q_OBJECT

public:
    // Opens the store at `location` for reading on this thread and for writing on the writer's.
    StoreMemory(const StoreLocation &location, qint64 maxAgeMs, QObject *parent = nullptr);
    StoreMemory(const QString &path, qint64 maxAgeMs, QObject *parent = nullptr)
        : StoreMemory(StoreLocation::file(path), maxAgeMs, parent)
    {
    }
    ~StoreMemory() override;

    // Fewer expected addresses than this are read one by one when they are looked up.
    static constexpr qsizetype BatchAtLeast = 64;

    void setMaxAgeMs(qint64 maxAgeMs);
    qint64 maxAgeMs() const { return m_maxAgeMs; }

    // What opening the store gave, to be said once: empty when it opened well.
    QString openProblem() const { return m_openProblem; }

    void expect(const QStringList &addresses, SourceKind kind) override;
    bool reuses() const override;
    std::optional<LookupResult> reusable(const QString &address, SourceKind kind) override;
    // An answer of `address` kept in `reader` young enough (maxAgeMs) to stand for asking
    // `kind`'s servers, from_store set; nothing when there is none or reading failed.
    static std::optional<LookupResult> youngAnswer(AnswerStore &reader, const QString &address,
                                                   SourceKind kind, qint64 maxAgeMs);
    void keep(LookupResult &result) override;

    // Writes every answer kept so far and waits for it.
    void flush();
    // Writes what is left and closes; the trouble not said yet through problem(), if any.
    QString finish();

signals:
    // Once, when answers stop being kept or read (said by the front end).
    void problem(const QString &message);

private:
    // What the store holds of an address expected in this run: its latest answer per source,
    // nothing when it has none. Read a batch at a time, dropped when the lookup is kept.
    // An answer found for it: what tells its age and reads it again. Its payload is kept only
    // while the answer may be reused; otherwise it is read by its number when the new answer
    // is compared with it, so a window of ten thousand addresses holds no ten thousand
    // payloads.
    struct Seen
    {
        qint64 id = 0;
        QString address; // as typed when it was asked; null when that is the asked form
        qint64 askedAtMs = 0;
        qint64 lastSeenMs = 0;
        qint64 digest = 0;
        qint64 dictionary = 0;
        QStringList changed;
        QByteArray compressed;
    };
    struct Known
    {
        QString asked;
        // Made only for an answer that was found: the run's window mostly has none.
        std::shared_ptr<const Seen> bySource[2];
    };
    // Sources as the memory compares them: the protocols of "auto" are the two it may use.
    static void sourcesOf(SourceKind kind, QString &source, QString &other);
    std::optional<StoredAnswer> latest(const QString &address, const QString &source,
                                       const QString &other);
    void sayReadProblem();

    std::unique_ptr<SqlAnswerStore> m_reader;
    QHash<QString, Known> m_known; // by the address as typed
    QString m_knownSource, m_knownOther;
    std::unique_ptr<StoreWriter> m_writer;
    qint64 m_maxAgeMs;
    QString m_openProblem;
    bool m_readProblemSaid = false;
};
