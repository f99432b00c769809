#pragma once

#include "lookup/lookupresult.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class PoliteScheduler;

// Looks addresses up, any number at once, every request to a server going through the run's
// scheduler. Each lookup ends in one LookupResult: the servers asked in order, the reason when
// it failed, the record lines of the final whole answer cut into fields.
class Source : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const LookupResult &result)>;

    Source(PoliteScheduler &scheduler, QObject *parent) : QObject(parent), m_scheduler(scheduler) {}

    // `done` is called once, later (never from inside lookup), unless abortAll comes first.
    // `tag` names the lookup to the scheduler.
    virtual void lookup(quint64 tag, const QString &address, Done done) = 0;
    // Ends every lookup under way; their `done` is never called.
    virtual void abortAll() = 0;

protected:
    PoliteScheduler &m_scheduler;
};

// The record of a whole port-43 or RDAP answer: its lines in order, joined by CR LF, and their
// fields (comment lines skipped, cut as FieldCut::Answer says).
void setRecordLines(LookupResult &result, const QStringList &lines);
// The same of the lines already joined by CR LF.
void setRecordText(LookupResult &result, QStringView text);
// A whole port-43 answer (or a saved one) as the record, its facts read from the text.
void setTextRecord(LookupResult &result, const QStringList &lines);
// The same of the lines already joined by CR LF.
void setTextRecord(LookupResult &result, QStringView record);
// Leaves out of a port-43 or RDAP result's fields the lines of notice text (terms of use,
// disclaimers, ">>> Last update of WHOIS database <<<", sentences cut at a URL's colon): the
// record text keeps them. A site's result is left as it is.
void dropNoticeFields(LookupResult &result);
// A failed result with its reason, words and status.
void setFailure(LookupResult &result, FailureReason reason, const QString &detail = {});
