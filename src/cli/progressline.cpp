#include "cli/progressline.h"

#include <unistd.h>

namespace {

QString duration(qint64 seconds)
{
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (seconds >= 3600)
        return QString::number(seconds / 3600) + QLatin1Char(':') + two(seconds / 60 % 60) +
               QLatin1Char(':') + two(seconds % 60);
    return QString::number(seconds / 60) + QLatin1Char(':') + two(seconds % 60);
}

} // namespace

namespace {

ProgressLine *g_shown = nullptr;

void writeAll(int fd, const QByteArray &bytes)
{
    [[maybe_unused]] const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
}

} // namespace

ProgressLine::ProgressLine(int fd, qsizetype total, QObject *parent)
    : QObject(parent), m_fd(fd), m_total(total)
{
    g_shown = this;
    m_clock.start();
    m_redraw.setSingleShot(true);
    connect(&m_redraw, &QTimer::timeout, this, &ProgressLine::draw);
    draw();
}

QString ProgressLine::text(qsizetype done, qsizetype total, qsizetype failed, double seconds)
{
    QString line = QString::number(done);
    if (total >= 0)
        line += QLatin1Char('/') + QString::number(total);
    line += QStringLiteral("  ") + QString::number(failed) + QStringLiteral(" failed");
    if (done > 0 && seconds > 0) {
        const double rate = double(done) / seconds;
        line += QStringLiteral("  ") + QString::number(rate, 'f', rate < 10 ? 2 : 1) +
                QStringLiteral("/s");
        if (total >= 0)
            line += QStringLiteral("  ") + duration(qint64(double(total - done) / rate + 0.5)) +
                    QStringLiteral(" left");
    }
    return line;
}

void ProgressLine::lookupDone(bool failed)
{
    ++m_done;
    if (failed)
        ++m_failed;
    if (m_redraw.isActive())
        return;
    const qint64 since = m_sinceDraw.elapsed();
    if (since >= MinRedrawMs)
        draw();
    else
        m_redraw.start(int(MinRedrawMs - since));
}

ProgressLine::~ProgressLine()
{
    if (g_shown == this)
        g_shown = nullptr;
}

void ProgressLine::erase()
{
    if (!m_shown)
        return;
    m_shown = false;
    writeAll(m_fd, "\r\x1b[K");
}

void ProgressLine::eraseShown()
{
    if (g_shown)
        g_shown->erase();
}

void ProgressLine::stop()
{
    m_redraw.stop();
    m_stopped = true;
    erase();
}

void ProgressLine::finish(const QString &last)
{
    if (m_finished)
        return;
    m_redraw.stop();
    m_finished = true;
    writeAll(m_fd, "\r" + last.toUtf8() + "\x1b[K\n");
    m_shown = false;
}

void ProgressLine::draw()
{
    if (m_finished || m_stopped)
        return;
    writeAll(m_fd,
             "\r" + text(m_done, m_total, m_failed, double(m_clock.nsecsElapsed()) / 1e9).toUtf8() +
                 "\x1b[K");
    m_shown = true;
    m_sinceDraw.start();
}
