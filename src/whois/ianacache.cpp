#include "whois/ianacache.h"

#include "net/ipaddress.h"
#include "platform/logging.h"
#include "whois/whoisservers.h"
#include "whois/whoistext.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// The first line of the file; a file that starts otherwise (an older format) is replaced.
const QByteArray FileHeader = QByteArrayLiteral("{\"quorvane-iana-cache\":2}");

QString typeOf(const Query &query)
{
    switch (query.kind) {
    case QueryKind::Domain:
        return QStringLiteral("tld");
    case QueryKind::IPv4:
    case QueryKind::IPv6:
    case QueryKind::Cidr:
        return query.address.isV4() ? QStringLiteral("v4") : QStringLiteral("v6");
    case QueryKind::AsNumber:
        return QStringLiteral("as");
    case QueryKind::Invalid:
        break;
    }
    return {};
}

QByteArray bytesOf(quint32 number)
{
    const char bytes[4] = {char(number >> 24), char(number >> 16), char(number >> 8), char(number)};
    return QByteArray(bytes, 4);
}

QByteArray bytesOf(const IpAddress &address)
{
    if (address.isV4())
        return bytesOf(address.toV4());
    const IpAddress::V6Bytes v6 = address.toV6();
    return QByteArray(reinterpret_cast<const char *>(v6.data()), qsizetype(v6.size()));
}

// The point a query stands for in its key space (the TLD for names).
QByteArray pointOf(const Query &query)
{
    if (query.kind == QueryKind::Domain)
        return query.tld();
    if (query.kind == QueryKind::AsNumber)
        return bytesOf(query.asNumber);
    return bytesOf(query.address);
}

// The range of a prefix of `bits` leading bits around `point`.
std::pair<QByteArray, QByteArray> prefixRange(const QByteArray &point, int bits)
{
    QByteArray first = point, last = point;
    for (int i = 0; i < point.size() * 8; ++i) {
        if (i < bits)
            continue;
        const char mask = char(0x80 >> (i % 8));
        first[i / 8] = char(first[i / 8] & ~mask);
        last[i / 8] = char(last[i / 8] | mask);
    }
    return {first, last};
}

bool contains(const QByteArray &first, const QByteArray &last, const QByteArray &point)
{
    return first.size() == point.size() && first <= point && point <= last;
}

// The block IANA's answer is about: "inetnum:", "inet6num:" or "as-block:", written as a range
// ("a - b") or a prefix ("a/len").
std::optional<std::pair<QByteArray, QByteArray>> rangeInAnswer(const QString &type,
                                                               const QString &text)
{
    const QString label = type == u"v4"   ? QStringLiteral("inetnum")
                          : type == u"v6" ? QStringLiteral("inet6num")
                                          : QStringLiteral("as-block");
    const QRegularExpression line(QStringLiteral(R"(^\s*%1:\s*(\S.*?)\s*$)").arg(label),
                                  QRegularExpression::MultilineOption |
                                      QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = line.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString value = match.captured(1);
    if (type == u"as") {
        static const QRegularExpression asRange(
            QStringLiteral(R"(^(?:AS)?(\d+)\s*-\s*(?:AS)?(\d+)$)"),
            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = asRange.match(value);
        if (!m.hasMatch())
            return std::nullopt;
        return std::pair{bytesOf(m.captured(1).toUInt()), bytesOf(m.captured(2).toUInt())};
    }
    if (value.contains(u'/')) {
        const auto [network, length] = IpAddress::parseSubnet(value);
        if (network.isNull())
            return std::nullopt;
        return prefixRange(bytesOf(network), length);
    }
    const QStringList ends = value.split(u'-');
    if (ends.size() != 2)
        return std::nullopt;
    const IpAddress first = IpAddress::fromString(ends[0]);
    const IpAddress last = IpAddress::fromString(ends[1]);
    if (first.isNull() || last.isNull() || first.family() != last.family())
        return std::nullopt;
    return std::pair{bytesOf(first), bytesOf(last)};
}

// Which concurrent questions share one IANA query: same TLD, same IPv4 /8, same IPv6 /16, same
// AS number.
QString flightKeyOf(const Query &query)
{
    const QString type = typeOf(query);
    const QByteArray point = pointOf(query);
    if (type == u"tld")
        return type + u':' + QString::fromLatin1(point);
    if (type == u"v4")
        return type + u':' + QString::fromLatin1(point.left(1).toHex());
    if (type == u"v6")
        return type + u':' + QString::fromLatin1(point.left(2).toHex());
    return type + u':' + QString::number(query.asNumber);
}

} // namespace

QString IanaCache::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Quorvane");
}

IanaCache::IanaCache(const QString &directory, qint64 maxAgeSeconds, QObject *parent)
    : QObject(parent), m_directory(directory), m_maxAge(maxAgeSeconds)
{
}

IanaCache::~IanaCache()
{
    flush();
}

QString IanaCache::filePath() const
{
    return m_directory + QStringLiteral("/iana-whois.jsonl");
}

const IanaCache::Stored *IanaCache::find(const Query &query) const
{
    const QString type = typeOf(query);
    const QByteArray point = pointOf(query);
    const qint64 oldest = QDateTime::currentSecsSinceEpoch() - m_maxAge;
    if (type == u"tld") {
        const auto it = m_tlds.constFind(point);
        return it != m_tlds.cend() && it->fetched >= oldest ? &*it : nullptr;
    }
    for (const Stored &stored : m_blocks) {
        if (stored.type == type && stored.fetched >= oldest &&
            contains(stored.first, stored.last, point))
            return &stored;
    }
    return nullptr;
}

void IanaCache::get(const Query &query, const Fetch &fetch, Done done)
{
    if (!m_loaded)
        load();
    if (const Stored *stored = find(query)) {
        qCInfo(lcWhois).noquote() << query.text << "IANA's answer from the cache";
        withReferral(stored->entry);
        QMetaObject::invokeMethod(
            this, [done = std::move(done), entry = stored->entry] { done(entry); },
            Qt::QueuedConnection);
        return;
    }
    const QString flightKey = flightKeyOf(query);
    auto flight = m_inFlight.find(flightKey);
    if (flight != m_inFlight.end()) {
        qCInfo(lcWhois).noquote() << query.text << "waits for IANA's answer under way";
        flight->append(Waiter{query, fetch, std::move(done)});
        return;
    }
    m_inFlight.insert(flightKey, {Waiter{query, fetch, std::move(done)}});
    fetch([this, flightKey, query](const WhoisReply &reply) {
        finishFetch(flightKey, query, reply);
    });
}

void IanaCache::finishFetch(const QString &flightKey, const Query &query, const WhoisReply &reply)
{
    const QList<Waiter> waiters = m_inFlight.take(flightKey);
    const QString text = reply ? WhoisText::decode(reply->bytes) : QString();
    if (!reply || WhoisText::isBlank(text)) {
        const LookupError error =
            reply ? LookupError{FailureReason::NoAnswer,
                                QStringLiteral("%1 gave an empty answer").arg(reply->server)}
                  : reply.error();
        for (const Waiter &waiter : waiters)
            waiter.done(Failure(error));
        return;
    }
    const Whois43Answer &answer = reply.value();

    Stored stored;
    stored.type = typeOf(query);
    stored.fetched = QDateTime::currentSecsSinceEpoch();
    stored.entry.text = text;
    stored.entry.serverNonPublic = answer.reachedNonPublic();
    const QByteArray point = pointOf(query);
    if (stored.type == u"tld") {
        stored.first = point;
    } else {
        auto range = rangeInAnswer(stored.type, text);
        if (!range || !contains(range->first, range->second, point)) {
            const int bits = stored.type == u"v4" ? 8 : stored.type == u"v6" ? 32 : 32;
            range = prefixRange(point, bits);
        }
        stored.first = range->first;
        stored.last = range->second;
    }
    withReferral(stored.entry);
    keep(stored);
    m_unwritten += lineOf(stored);
    if (!m_flushQueued) {
        // Every answer of this turn of the event loop goes in one write.
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, &IanaCache::flush, Qt::QueuedConnection);
    }

    // Each waiter asks again: the block IANA answered about may not hold every address that
    // waited for it.
    for (qsizetype i = 0; i < waiters.size(); ++i) {
        if (i == 0)
            waiters[i].done(stored.entry);
        else
            get(waiters[i].query, waiters[i].fetch, waiters[i].done);
    }
}

void IanaCache::withReferral(const Entry &entry)
{
    if (!entry.referral)
        entry.referral =
            std::make_shared<const WhoisReferral>(findReferral(entry.text, WhoisServers::iana()));
}

void IanaCache::keep(const Stored &stored)
{
    if (stored.type == u"tld") {
        m_tlds.insert(stored.first, stored);
        return;
    }
    m_blocks.removeIf([&](const Stored &old) {
        return old.type == stored.type && old.first == stored.first && old.last == stored.last;
    });
    m_blocks.append(stored);
}

void IanaCache::load()
{
    m_loaded = true;
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.value(0) != FileHeader) {
        m_compact = true;
        return;
    }
    const qint64 oldest = QDateTime::currentSecsSinceEpoch() - m_maxAge;
    qsizetype read = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        ++read;
        const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
        Stored stored;
        stored.type = o.value(QStringLiteral("type")).toString();
        stored.first = QByteArray::fromHex(o.value(QStringLiteral("first")).toString().toLatin1());
        stored.last = QByteArray::fromHex(o.value(QStringLiteral("last")).toString().toLatin1());
        stored.fetched = qint64(o.value(QStringLiteral("fetched")).toDouble());
        stored.entry.text = o.value(QStringLiteral("text")).toString();
        stored.entry.serverNonPublic = o.value(QStringLiteral("serverNonPublic")).toBool();
        if (stored.fetched >= oldest && !stored.type.isEmpty() && !stored.entry.text.isEmpty())
            keep(stored);
    }
    // Lines that are stale, repeated or cut short take the room of the live ones: once they
    // outnumber them, the file is written again with the live ones alone.
    const qsizetype live = m_tlds.size() + m_blocks.size();
    m_compact = read - live > live;
}

QByteArray IanaCache::lineOf(const Stored &stored)
{
    return QJsonDocument(QJsonObject{
                             {QStringLiteral("type"), stored.type},
                             {QStringLiteral("first"), QString::fromLatin1(stored.first.toHex())},
                             {QStringLiteral("last"), QString::fromLatin1(stored.last.toHex())},
                             {QStringLiteral("fetched"), double(stored.fetched)},
                             {QStringLiteral("text"), stored.entry.text},
                             {QStringLiteral("serverNonPublic"), stored.entry.serverNonPublic},
                         })
               .toJson(QJsonDocument::Compact) +
           '\n';
}

bool IanaCache::rewrite()
{
    QByteArray bytes = FileHeader + '\n';
    for (const Stored &stored : std::as_const(m_tlds))
        bytes += lineOf(stored);
    for (const Stored &stored : std::as_const(m_blocks))
        bytes += lineOf(stored);
    QSaveFile file(filePath());
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

void IanaCache::flush()
{
    m_flushQueued = false;
    if (m_unwritten.isEmpty() && !m_compact)
        return;
    // A cache that cannot be written only costs IANA queries on the next run.
    const QByteArray lines = std::exchange(m_unwritten, {});
    if (!QDir().mkpath(m_directory))
        return;
    if (m_compact) {
        m_compact = false;
        rewrite(); // the lines just kept are in memory, so in the rewritten file
        return;
    }
    QFile file(filePath());
    const bool isNew = !file.exists();
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        return;
    QByteArray out;
    if (isNew || file.size() == 0) {
        out = FileHeader + '\n';
    } else {
        // A line another writer left unfinished must not swallow the first of ours.
        char last = '\n';
        if (file.seek(file.size() - 1))
            file.getChar(&last);
        if (last != '\n')
            out = "\n";
    }
    out += lines;
    file.write(out);
}
