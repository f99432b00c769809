#pragma once

#include <QString>

// True when the path names an existing file or folder whose modification time can be read.
// Never fails.
bool FileExists(const QString &path);
