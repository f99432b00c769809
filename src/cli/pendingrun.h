#pragma once

// TEMPORARY: stands in for the reshaped LookupRun (lookup/lookuprun.h) until it is on main,
// with the same constructor, signals and stop. Goes when the reshape is merged.

#include "lookup/lookupresult.h"
#include "lookup/sites.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

class WhoisFetcher;

struct RunOptions
{
    std::function<std::optional<Site>()> site;
    std::function<QString()> delayText;
};

class PendingLookupRun : public QObject
{
    Q_OBJECT

public:
    PendingLookupRun(QStringList addresses, RunOptions options, QObject *parent = nullptr);
    void start();
    void requestStop();

signals:
    void lookupStarted(qsizetype index, const QString &address);
    void resultReady(qsizetype index, const LookupResult &result);
    void finished();

private:
    void next();
    void arrived(bool ok, const QString &record);

    QStringList m_addresses;
    RunOptions m_options;
    WhoisFetcher *m_fetcher;
    QTimer m_pause;
    qsizetype m_index = -1;
    Site m_site = Site::Option2;
    bool m_stopping = false;
    bool m_finished = false;
};
