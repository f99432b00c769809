#pragma once

#include <QStringList>

#include <functional>

// Where a run takes its addresses from, a batch at a time as it has room for them, so a long
// list need not be held whole. A feed may have none ready for a while (input still arriving):
// it then says so later through the callback the run gives it.
class AddressFeed
{
public:
    virtual ~AddressFeed() = default;

    // Up to `max` of the next addresses, in order. Fewer, or none, when no more are ready yet.
    virtual QStringList take(qsizetype max) = 0;
    // True once every address has been taken.
    virtual bool atEnd() const = 0;

    // Called (from the event loop, never from inside take) when addresses become ready or the
    // end is reached after a take that gave fewer than asked. Set by the run.
    void setOnReady(std::function<void()> onReady) { m_onReady = std::move(onReady); }

protected:
    void ready()
    {
        if (m_onReady)
            m_onReady();
    }

private:
    std::function<void()> m_onReady;
};

// A list held whole, handed out in order.
class ListFeed : public AddressFeed
{
public:
    explicit ListFeed(QStringList addresses) : m_addresses(std::move(addresses)) {}

    QStringList take(qsizetype max) override
    {
        const qsizetype n = std::min(max, m_addresses.size() - m_next);
        if (n <= 0)
            return {};
        QStringList out = m_addresses.mid(m_next, n);
        m_next += n;
        return out;
    }
    bool atEnd() const override { return m_next >= m_addresses.size(); }

private:
    const QStringList m_addresses;
    qsizetype m_next = 0;
};
