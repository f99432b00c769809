#pragma once

#include <QString>

// A shared library opened while the program runs, by its soname, rather than linked: the
// libraries only some runs need (HTTP, workbooks, international names) then cost the others
// nothing at start-up. It stays loaded for the life of the process.
class RuntimeLibrary
{
public:
    explicit RuntimeLibrary(const char *soname);

    bool isLoaded() const { return m_handle != nullptr && m_error.isEmpty(); }
    // Why the library or one of its functions could not be had; empty while all is well.
    const QString &error() const { return m_error; }

    // Sets `function` to the library's function of that name; false (and error() says so) when
    // the library is not loaded or lacks it.
    template <class F> bool resolve(const char *name, F &function)
    {
        function = reinterpret_cast<F>(symbol(name));
        return function != nullptr;
    }

private:
    void *symbol(const char *name);

    const char *m_soname;
    void *m_handle = nullptr;
    QString m_error;
};
