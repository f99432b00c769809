#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a signal on the event loop. The handler only writes one byte
// to a socket pair; the event loop reads it and emits interrupted().
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

signals:
    void interrupted(int signalNumber);

private:
    static void handle(int signalNumber);
    void readPending();

    QSocketNotifier *m_notifier = nullptr;
};
