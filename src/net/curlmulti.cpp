#include "net/curlmulti.h"

#include <QList>
#include <QPointer>
#include <QSocketNotifier>

#include <utility>

namespace {

void globalInit()
{
    // Thread-safe in the libcurl we build against; done once for the process.
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    Q_UNUSED(result);
}

} // namespace

CurlMulti::CurlMulti(QObject *parent) : QObject(parent)
{
    globalInit();
    m_multi = curl_multi_init();
    Q_CHECK_PTR(m_multi);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

void CurlMulti::setMaxCachedConnections(long count)
{
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, count);
}

CurlMulti::~CurlMulti()
{
    // Closing the cached connections still reports their sockets, so this object must be whole.
    curl_multi_cleanup(m_multi);
    for (const Watch &w : std::as_const(m_watches)) {
        delete w.read;
        delete w.write;
    }
}

bool CurlMulti::add(CURL *easy)
{
    return curl_multi_add_handle(m_multi, easy) == CURLM_OK;
}

void CurlMulti::remove(CURL *easy)
{
    curl_multi_remove_handle(m_multi, easy);
}

int CurlMulti::onSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
{
    auto *multi = static_cast<CurlMulti *>(self);
    if (what == CURL_POLL_REMOVE)
        multi->unwatch(socket);
    else
        multi->watch(socket, what);
    return 0;
}

int CurlMulti::onTimer(CURLM *, long timeoutMs, void *self)
{
    // curl must not be re-entered from its own callback; even "now" goes through the loop.
    auto *multi = static_cast<CurlMulti *>(self);
    if (timeoutMs < 0)
        multi->m_timer.stop();
    else
        multi->m_timer.start(int(qMin<long>(timeoutMs, INT_MAX)));
    return 0;
}

void CurlMulti::watch(curl_socket_t socket, int what)
{
    Watch &w = m_watches[socket];
    const auto ensure = [this, socket](QSocketNotifier *&notifier, QSocketNotifier::Type type,
                                       int events, bool wanted) {
        if (wanted && !notifier) {
            notifier = new QSocketNotifier(socket, type, this);
            connect(notifier, &QSocketNotifier::activated, this,
                    [this, socket, events] { act(socket, events); });
        }
        if (notifier)
            notifier->setEnabled(wanted);
    };
    ensure(w.read, QSocketNotifier::Read, CURL_CSELECT_IN,
           what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    ensure(w.write, QSocketNotifier::Write, CURL_CSELECT_OUT,
           what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
}

void CurlMulti::unwatch(curl_socket_t socket)
{
    const Watch w = m_watches.take(socket);
    // This may run inside the notifier's own signal: disable now, delete once back in the loop.
    for (QSocketNotifier *notifier : {w.read, w.write}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
}

void CurlMulti::act(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    reportFinished();
}

void CurlMulti::reportFinished()
{
    QList<std::pair<CURL *, CURLcode>> finished;
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg == CURLMSG_DONE)
            finished.append({message->easy_handle, message->data.result});
    }
    // Out of the multi before anyone hears of it, so a receiver may add it again.
    for (const auto &[easy, result] : std::as_const(finished))
        curl_multi_remove_handle(m_multi, easy);
    const QPointer<CurlMulti> alive(this);
    for (const auto &[easy, result] : std::as_const(finished)) {
        if (!alive)
            return;
        emit done(easy, result);
    }
}
