#include "platform/runtimelibrary.h"

#include <dlfcn.h>

RuntimeLibrary::RuntimeLibrary(const char *soname) : m_soname(soname)
{
    m_handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!m_handle)
        m_error = QString::fromLocal8Bit(dlerror());
}

void *RuntimeLibrary::symbol(const char *name)
{
    if (!isLoaded())
        return nullptr;
    void *found = dlsym(m_handle, name);
    if (!found)
        m_error = QLatin1StringView(m_soname) + QStringLiteral(" lacks ") +
                  QLatin1StringView(name) + QStringLiteral(", which this program calls");
    return found;
}
