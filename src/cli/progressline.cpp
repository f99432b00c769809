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

ProgressLine::ProgressLine(int fd, qsizetype total, QObject *parent)
    : QObject(parent), m_fd(fd), m_total(total)
{
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

void ProgressLine::finish()
{
    if (m_finished)
        return;
    m_redraw.stop();
    draw();
    m_finished = true;
    [[maybe_unused]] const ssize_t n = ::write(m_fd, "\n", 1);
}

void ProgressLine::draw()
{
    if (m_finished)
        return;
    const QByteArray bytes =
        "\r" + text(m_done, m_total, m_failed, double(m_clock.nsecsElapsed()) / 1e9).toUtf8() +
        "\x1b[K";
    [[maybe_unused]] const ssize_t n = ::write(m_fd, bytes.constData(), size_t(bytes.size()));
    m_sinceDraw.start();
}
