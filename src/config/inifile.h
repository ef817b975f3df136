#pragma once
// Settings files in the Windows private-profile format, read and written the way the
// Windows profile functions do, so files written by either side read the same both ways.
//
// Rules: section and key names match regardless of letter case; a missing file, section or
// key gives the default, a key present with an empty value gives ""; results are cut to
// capacity - 1 units; blanks (white space and ^Z) around section names, keys and values are
// trimmed and one matching outer pair of quotes (" or ') is removed from a value; a value ends
// at a NUL; the default loses its trailing spaces and then one outer pair of quotes, as a
// stored value would; a line splits at its first "="; a section header's name runs from its
// "[" to the last "]" on the line; the first of duplicate sections and keys wins; every line
// of a section that is not a section header is a key line (";" and "#" lines included); CR,
// LF and CR LF all end lines. Files without a byte-order mark are GBK; UTF-16 (LE or BE) and
// UTF-8 files with a mark are read and written in their own encoding. Only regular files of
// at most 64 MiB are read: a FIFO, a device or a larger file reads as missing (and is never
// written), without blocking.
//
// Writing replaces only the key's own line (or adds one), keeping every other byte of the file;
// the new file is written beside the old one and renamed over it, so a crash or a full disk
// never leaves it half written, and a reader never needs a lock. Writers take an advisory lock
// on "<file>.lock" beside it around each read-modify-rename, so writes from several threads
// or processes are never lost. A file the store creates is readable by its owner only; an
// existing file keeps its mode. Both '\' and '/' separate levels in the file path.
//
// A read of a file that has not changed costs one stat: the parsed file is kept, keyed by its
// device, inode, size and modification and change times, and only trusted once those times
// lie more than a clock tick before the read (a version written within the same tick could
// carry the same times).

#include <QString>

QString ReadIniString(const QString& file, const QString& section, const QString& key,
                      const QString& defaultValue = QString(), int capacity = 260);

// False, with the file untouched, when the write cannot be done or could not be read back as
// written: an empty section or key; a line break or NUL in section, key or value; "=" in the
// key; a key line that would read as a section header; characters the file's encoding cannot
// hold (an emoji in a GBK file); a new section appended to a UTF-16 file that ends in half a
// character; a file that is not a regular one of at most 64 MiB, or cannot be read, locked or
// replaced. Refusals and failures are logged under "yfzs.ini".
bool WriteIniString(const QString& file, const QString& section, const QString& key, const QString& value);
