#pragma once

#include "platform/runtimeerror.h"

#include <QList>

// What the list-view models (the address list, the results table) share.
namespace ListViewRoles {

// Built once: a role list made per change would cost an allocation for every cell written.
inline const QList<int> &display()
{
    static const QList<int> roles{Qt::DisplayRole};
    return roles;
}

inline const QList<int> &checkState()
{
    static const QList<int> roles{Qt::CheckStateRole};
    return roles;
}

// An index out of range raises a run-time error, as a list control does.
[[noreturn]] inline void outOfBounds()
{
    throw RuntimeError(QStringLiteral("Index out of bounds"));
}

} // namespace ListViewRoles
