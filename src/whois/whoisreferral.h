#pragma once

#include <QString>

#include <optional>

// A port-43 server: host name (or address) and port.
struct WhoisServer
{
    QString host;
    quint16 port = 43;

    // "host" for port 43, otherwise "host:port".
    QString display() const;
    bool operator==(const WhoisServer &other) const;
};

// A server as a user names it: host, host:port or [v6]:port; nothing when malformed.
std::optional<WhoisServer> parseWhoisServer(const QString &text);

// Where an answer sends the question next.
struct WhoisReferral
{
    // The next port-43 server, if the answer names one.
    std::optional<WhoisServer> next;
    // An rwhois:// referral (recorded, not followed).
    QString rwhois;
    // What the referral was read from: the label ("refer", "ReferralServer") or the hand-off
    // phrase.
    QString source;
};

// Reads the referral from an answer's text. `asked` is the server that gave the answer; a
// hand-off from one regional registry to another is only read from a registry's answer.
WhoisReferral findReferral(const QString &text, const QString &askedHost);

// Whether the host is one of the regional internet registries' port-43 servers.
bool isRegionalRegistry(const QString &host);
