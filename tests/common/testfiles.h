#pragma once
// File helpers the test programs share.

#include <QByteArray>
#include <QString>

// The file's bytes, or "<missing>" when it cannot be read (so a comparison shows why it failed).
QByteArray readFile(const QString& path);

// Writes `data` to `path`, creating the folders on the way.
bool writeFile(const QString& path, const QByteArray& data);
