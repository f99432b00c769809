#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

#include <curl/curl.h>

class QSocketNotifier;

// Runs libcurl transfers on the Qt event loop. curl names the sockets it waits on and when it
// next wants to be called; socket notifiers and one timer call it back at exactly those
// moments, so an idle transfer costs no processor time.
class CurlMulti : public QObject
{
    Q_OBJECT

public:
    explicit CurlMulti(QObject *parent = nullptr);
    ~CurlMulti() override;

    // At most this many idle connections are kept open for reuse (libcurl's default: four for
    // every transfer under way).
    void setMaxCachedConnections(long count);

    // Starts the transfer of an easy handle; `done` reports its end.
    bool add(CURL *easy);
    // Stops a transfer under way; no `done` follows for it. curl closes its connection, so a
    // half-read page never leaks into the next request.
    void remove(CURL *easy);

signals:
    // The transfer has ended and its handle is no longer in the multi, so the receiver may
    // start the next one at once.
    void done(CURL *easy, CURLcode result);

private:
    struct Watch
    {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };

    static int onSocket(CURL *easy, curl_socket_t socket, int what, void *self, void *);
    static int onTimer(CURLM *multi, long timeoutMs, void *self);
    void watch(curl_socket_t socket, int what);
    void unwatch(curl_socket_t socket);
    void act(curl_socket_t socket, int events);
    void reportFinished();

    CURLM *m_multi;
    QHash<curl_socket_t, Watch> m_watches;
    QTimer m_timer;
};
