#include "web/pagetext.h"

#include "text/recordfield.h"
#include "web/htmldocument.h"

std::optional<QByteArray> TryRecordTextUtf8(const QByteArray &html, Site site,
                                            const ParseLimits &limits)
{
    const HtmlDocument document(html, limits);
    if (!document.isParsed())
        return std::nullopt;
    const QString id = Sites::recordElementId(site);
    const GumboNode *element =
        id.isEmpty() ? document.firstElementByTagName("pre") : document.elementById(id);
    return document.innerTextUtf8(element);
}

std::optional<QString> TryRecordText(const QString &html, Site site, const ParseLimits &limits)
{
    const std::optional<QByteArray> record = TryRecordTextUtf8(html.toUtf8(), site, limits);
    if (!record)
        return std::nullopt;
    return textFromUtf8(*record);
}

QString RecordText(const QString &html, Site site)
{
    return TryRecordText(html, site).value_or(QString());
}

QString InnerText(const QString &html, const QString &elementId)
{
    const HtmlDocument document(html);
    return document.innerText(elementId.isEmpty() ? document.body()
                                                  : document.elementById(elementId));
}
