#include "cli/jsonlsink.h"

#include "cli/jsonline.h"

namespace {

constexpr qsizetype GatheredBytes = qsizetype(64) << 10;

} // namespace

void JsonlSink::add(const LookupResult &result)
{
    if (m_writes == Writes::EachLine) {
        m_out.write(JsonLine::format(result));
        return;
    }
    m_gathered += JsonLine::format(result);
    if (m_gathered.size() >= GatheredBytes) {
        m_out.write(m_gathered);
        m_gathered.resize(0); // keeps its room for the next lines
    }
}

void JsonlSink::finish()
{
    if (!m_gathered.isEmpty()) {
        m_out.write(m_gathered);
        m_gathered.clear();
    }
    m_out.close();
}
