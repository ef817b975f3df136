#pragma once
// What the archive tests share: a picture of a folder tree, data that compresses, and edits of
// the bytes of an archive that minizip's writer would not make.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Every path below `root`, relative, sorted; folders end with '/', links with '@'.
QStringList Tree(const QString& root);

QByteArray Compressible(int size);

// Gives the archive at `path` (written without a comment) a comment of `comment`.
bool AppendArchiveComment(const QString& path, const QByteArray& comment);

// Calls `edit` with the bytes of every central header in turn (index, header from its
// signature on) and writes the archive back.
bool EditCentralHeaders(const QString& path, const std::function<void(int, char*)>& edit);

void PutLe32(char* at, quint32 value);
quint32 GetLe32(const char* at);
