#include "testregistry.h"

#ifdef QUORVANE_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif
#include <QTest>

#include <memory>

std::vector<std::function<QObject *()>> &registeredTests()
{
    static std::vector<std::function<QObject *()>> tests;
    return tests;
}

int main(int argc, char *argv[])
{
    TestApplication app(argc, argv);
    // QUORVANE_TEST_CLASS=Name runs only that class, so its functions can be named alone.
    const QByteArray only = qgetenv("QUORVANE_TEST_CLASS");
    int failures = 0;
    for (const auto &make : registeredTests()) {
        std::unique_ptr<QObject> test(make());
        if (!only.isEmpty() && only != test->metaObject()->className())
            continue;
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
