#pragma once

#include <QString>

// Where the store lives and whether a path may be used as one.
namespace StoreFile {

// $XDG_DATA_HOME/Quorvane/answers.sqlite (~/.local/share/Quorvane/answers.sqlite).
QString defaultPath();

// Why the path cannot be a store, or empty when it can: a symbolic link, or anything but a
// regular file (a folder, a device, a pipe) is refused, as are such things in place of the
// database's own side files (-wal, -shm, -journal); so is a file that is not empty and does not
// start as an SQLite database does. Nothing is opened for writing.
QString refusal(const QString &path);

// Makes the folder (mode 0700 where it is made) and an empty file of mode 0600 when there is
// none yet, so the database and its side files are readable by their owner only. An error text
// on failure.
QString prepare(const QString &path);

} // namespace StoreFile
