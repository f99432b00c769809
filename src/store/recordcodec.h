#pragma once

#include <QByteArray>
#include <QHash>

#include <memory>
#include <optional>
#include <span>

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;
struct ZSTD_CDict_s;
struct ZSTD_DDict_s;

// Compresses payloads with zstd, with a dictionary trained on earlier answers where there is
// one: registries repeat the same notices and labels in every answer, and a dictionary that
// holds them shrinks a 2 KB answer several times further than compressing it alone does.
// Dictionary 0 is none. Not thread-safe: one per thread.
class RecordCodec
{
public:
    RecordCodec();
    ~RecordCodec();
    RecordCodec(const RecordCodec &) = delete;
    RecordCodec &operator=(const RecordCodec &) = delete;

    // Makes a dictionary known; `current` makes it the one new payloads are compressed with.
    void addDictionary(qint64 id, const QByteArray &content, bool current);
    bool hasDictionary(qint64 id) const { return m_dictionaries.contains(id); }
    qint64 currentDictionary() const { return m_current; }

    // The payload compressed with the current dictionary; `dictionary` says which that was.
    QByteArray compress(QByteArrayView payload, qint64 &dictionary);
    // Nothing when the bytes are not a frame this codec can undo with that dictionary (the
    // dictionary must have been added).
    std::optional<QByteArray> decompress(QByteArrayView compressed, qint64 dictionary);

    // A dictionary of at most `capacity` bytes trained on the samples, one after another in
    // `joined`; empty when they are too few or too alike to train on.
    static QByteArray train(const QByteArray &joined, std::span<const size_t> sizes,
                            qsizetype capacity);

private:
    struct Dictionary
    {
        QByteArray content;
        ZSTD_CDict_s *compress = nullptr;
        ZSTD_DDict_s *decompress = nullptr;
    };

    ZSTD_CCtx_s *m_cctx;
    ZSTD_DCtx_s *m_dctx;
    QHash<qint64, Dictionary> m_dictionaries;
    qint64 m_current = 0;
};
