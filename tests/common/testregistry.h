#pragma once

#include <QObject>

#include <functional>
#include <vector>

// Several test classes make up one test program per area; each source file registers its
// classes, and the program's main runs them all.
std::vector<std::function<QObject *()>> &registeredTests();

template <class T> struct TestRegistration
{
    TestRegistration()
    {
        registeredTests().push_back([] { return new T; });
    }
};

#define QUORVANE_REGISTER_TEST(Class) static TestRegistration<Class> registration##Class;
