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
    int failures = 0;
    for (const auto &make : registeredTests()) {
        std::unique_ptr<QObject> test(make());
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
