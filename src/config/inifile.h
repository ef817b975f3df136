#pragma once
// Settings files in the Windows private-profile format, read and written the way the
// Windows profile functions do, so files written by either side read the same both ways.
//
// Rules: section and key names match regardless of letter case; a missing file, section or
// key gives the default, a key present with an empty value gives ""; results are cut to
// capacity - 1 units; white space around section names, keys and values is trimmed and one
// matching outer pair of quotes (" or ') is removed from a value; a line splits at its first
// "="; the first of duplicate sections and keys wins; every line of a section that is not a
// section header is a key line (";" and "#" lines included); CR, LF and CR LF all end lines.
// Files without a byte-order mark are GBK; UTF-16 (LE or BE) and UTF-8 files with a mark are
// read and written in their own encoding.
//
// Writing replaces only the key's own line (or adds one), keeping every other byte of the file;
// the new file is written beside the old one and renamed over it, so a crash or a full disk
// never leaves it half written. Each single-key read and write holds a process-wide lock for
// that file. Both '\' and '/' separate levels in the file path.

#include <QString>

QString ReadIniString(const QString& file, const QString& section, const QString& key,
                      const QString& defaultValue = QString(), int capacity = 260);

// False, with the file untouched, when the write cannot be done: an empty section or key, a
// line break in section, key or value (it would split the entry into other lines), or a file
// that cannot be read or replaced.
bool WriteIniString(const QString& file, const QString& section, const QString& key,
                    const QString& value);
