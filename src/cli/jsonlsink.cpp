#include "cli/jsonlsink.h"

#include "cli/jsonline.h"

void JsonlSink::add(const LookupResult &result)
{
    m_out.write(JsonLine::format(result));
}
