#include "rdap/httprdapfetch.h"

#include "net/httpclient.h"
#include "rdap/rdapanswer.h"
#include "rdap/rdapquery.h"

#include <QPointer>

HttpRdapFetch::HttpRdapFetch(HttpClient *http, bool followRedirects, ConnectToMap connectTo,
                             QObject *parent)
    : QObject(parent), m_http(http), m_followRedirects(followRedirects),
      m_connectTo(std::move(connectTo))
{
}

void HttpRdapFetch::fetch(const QUrl &url, Done done, bool fromAnswer)
{
    const QPointer<HttpRdapFetch> self(this);
    if (!IsFollowableRdapLink(url)) {
        QMetaObject::invokeMethod(
            this,
            [done = std::move(done), url] {
                RdapFetchResult refused;
                refused.failure = QStringLiteral("not an https address: ") + url.toString();
                done(refused);
            },
            Qt::QueuedConnection);
        return;
    }
    FetchRequest request;
    request.url = url.toEncoded();
    for (const auto &[name, value] : RdapRequestHeaders())
        request.headers.append(name + ": " + value);
    request.timeoutMs = m_timeoutMs;
    request.sizeCap = SizeCap;
    request.maxRedirects = m_followRedirects ? 5 : 0;
    const int port = url.port(url.scheme() == u"https" ? 443 : 80);
    request.refuseNonPublic =
        fromAnswer && !m_connectTo.resolve(url.host(), quint16(port)).hostNamed;
    m_http->get(request, [done = std::move(done)](const FetchResult &fetched) {
        RdapFetchResult out;
        if (!fetched.ok()) {
            out.failure =
                fetched.errorText.isEmpty() ? QStringLiteral("transfer failed") : fetched.errorText;
            out.refusedNonPublic = fetched.refusedNonPublic;
            out.unreachable =
                !fetched.refusedNonPublic && (fetched.error == FetchResult::Error::Timeout ||
                                              fetched.error == FetchResult::Error::Refused);
            done(out);
            return;
        }
        out.status = int(fetched.status);
        out.ok = out.status >= 200 && out.status < 300;
        out.body = fetched.body;
        out.contentType = fetched.contentType;
        out.retryAfter = fetched.retryAfter;
        if (!fetched.location.isEmpty())
            out.location = QUrl::fromEncoded(fetched.location);
        if (!out.ok)
            out.failure = QStringLiteral("HTTP status %1").arg(out.status);
        done(out);
    });
}

void HttpRdapFetch::abortAll()
{
    m_http->abortAll();
}
