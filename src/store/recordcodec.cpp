#include "store/recordcodec.h"

#include <QList>

#include <vector>

#define ZDICT_STATIC_LINKING_ONLY
#include <zdict.h>
#include <zstd.h>

namespace {

// Fast enough to stay a small part of a lookup's cost; a dictionary does most of the work.
constexpr int Level = 3;
// The largest payload decompressed: an answer is capped at 8 MiB, its facts are small.
constexpr unsigned long long LargestPayload = 16ull << 20;

} // namespace

RecordCodec::RecordCodec() : m_cctx(ZSTD_createCCtx()), m_dctx(ZSTD_createDCtx())
{
}

RecordCodec::~RecordCodec()
{
    for (Dictionary &d : m_dictionaries) {
        ZSTD_freeCDict(d.compress);
        ZSTD_freeDDict(d.decompress);
    }
    ZSTD_freeCCtx(m_cctx);
    ZSTD_freeDCtx(m_dctx);
}

void RecordCodec::addDictionary(qint64 id, const QByteArray &content, bool current)
{
    // Its tables are built when it is first used: a run that compresses nothing, or reads no
    // payload of that dictionary, spares them (about 450,000 instructions a dictionary).
    if (!m_dictionaries.contains(id))
        m_dictionaries.insert(id, Dictionary{content, nullptr, nullptr});
    if (current)
        m_current = id;
}

QByteArray RecordCodec::compress(QByteArrayView payload, qint64 &dictionary)
{
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(payload.size()))), Qt::Uninitialized);
    const auto found = m_dictionaries.find(m_current);
    if (found != m_dictionaries.end() && !found->compress)
        found->compress =
            ZSTD_createCDict(found->content.constData(), size_t(found->content.size()), Level);
    size_t n = 0;
    if (found != m_dictionaries.end() && found->compress) {
        n = ZSTD_compress_usingCDict(m_cctx, out.data(), size_t(out.size()), payload.data(),
                                     size_t(payload.size()), found->compress);
        dictionary = m_current;
    } else {
        n = ZSTD_compressCCtx(m_cctx, out.data(), size_t(out.size()), payload.data(),
                              size_t(payload.size()), Level);
        dictionary = 0;
    }
    if (ZSTD_isError(n))
        return {};
    out.truncate(qsizetype(n));
    return out;
}

std::optional<QByteArray> RecordCodec::decompress(QByteArrayView compressed, qint64 dictionary)
{
    const unsigned long long size =
        ZSTD_getFrameContentSize(compressed.data(), size_t(compressed.size()));
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN || size > LargestPayload)
        return std::nullopt;
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    size_t n = 0;
    if (dictionary == 0) {
        n = ZSTD_decompressDCtx(m_dctx, out.data(), size_t(out.size()), compressed.data(),
                                size_t(compressed.size()));
    } else {
        const auto found = m_dictionaries.find(dictionary);
        if (found == m_dictionaries.end())
            return std::nullopt;
        if (!found->decompress)
            found->decompress =
                ZSTD_createDDict(found->content.constData(), size_t(found->content.size()));
        if (!found->decompress)
            return std::nullopt;
        n = ZSTD_decompress_usingDDict(m_dctx, out.data(), size_t(out.size()), compressed.data(),
                                       size_t(compressed.size()), found->decompress);
    }
    if (ZSTD_isError(n) || n != size)
        return std::nullopt;
    return out;
}

QByteArray RecordCodec::train(const QByteArray &joined, std::span<const size_t> sizes,
                              qsizetype capacity)
{
    QByteArray dictionary(capacity, Qt::Uninitialized);
    // fastCover trains on a megabyte in a few tens of milliseconds, on the writer's thread.
    ZDICT_fastCover_params_t params{};
    params.k = 200;
    params.d = 8;
    params.steps = 4;
    // 2^16 counters of frequent 8-byte sequences (the default 2^20 takes 6 MiB for the
    // trainer's tables); a few hundred kilobytes of answers need no more.
    params.f = 16;
    params.zParams.compressionLevel = Level;
    const size_t n = ZDICT_optimizeTrainFromBuffer_fastCover(
        dictionary.data(), size_t(dictionary.size()), joined.constData(), sizes.data(),
        unsigned(sizes.size()), &params);
    if (ZDICT_isError(n))
        return {};
    dictionary.truncate(qsizetype(n));
    return dictionary;
}
