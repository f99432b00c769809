#pragma once

#include "lookup/source.h"

class RdapSource;
class WhoisSource;

// RDAP where the bootstrap names a service for the address, port-43 WHOIS otherwise.
class AutoSource : public Source
{
    Q_OBJECT

public:
    AutoSource(RdapSource &rdap, WhoisSource &whois, PoliteScheduler &scheduler,
               QObject *parent = nullptr);

    void lookup(quint64 tag, const QString &address, Done done) override;
    void abortAll() override;

private:
    RdapSource &m_rdap;
    WhoisSource &m_whois;
};
