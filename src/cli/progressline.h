#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// One self-updating line on a terminal: lookups done (of the total, once it is known),
// failures, lookups per second and, with a total, the time left. Redrawn when a lookup ends, at
// most ten times a second. Whatever else goes to the same terminal erases it first (erase(), and
// eraseShown() for error lines), so no output runs into it; it comes back with the next redraw.
class ProgressLine : public QObject
{
    Q_OBJECT

public:
    static constexpr int MinRedrawMs = 100;

    // `total` < 0: not known yet.
    ProgressLine(int fd, qsizetype total, QObject *parent = nullptr);
    ~ProgressLine() override;

    void setTotal(qsizetype total) { m_total = total; }
    void lookupDone(bool failed);
    // Takes the line off the terminal until the next redraw.
    void erase();
    // Erases the line of the progress line being shown, if any.
    static void eraseShown();
    // Erases the line for good: the tables are written to the terminal after the run.
    void stop();
    // Replaces the line by `last` (a summary), ended by a line feed; no redraw follows.
    void finish(const QString &last);

    // The line's text (without the carriage return and erase sequence).
    static QString text(qsizetype done, qsizetype total, qsizetype failed, double seconds);

private:
    void draw();

    int m_fd;
    qsizetype m_total;
    qsizetype m_done = 0;
    qsizetype m_failed = 0;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceDraw;
    QTimer m_redraw;
    bool m_shown = false;
    bool m_stopped = false; // no more redraws
    bool m_finished = false;
};
