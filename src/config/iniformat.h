#pragma once
// The private-profile text format as the settings store reads and writes it: the file's
// encoding, its lines, section headers and key lines, and the index a read looks keys up in.
// Internal to the store (inifile.cpp); the rules themselves are listed in inifile.h.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

namespace config::ini {

enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };

struct Line
{
    qsizetype begin; // raw offsets: content start, content end, start of the next line
    qsizetype end;
    qsizetype next;
};

struct Document
{
    QByteArray raw;
    Encoding encoding = Encoding::Ansi;
    qsizetype bom = 0;
    bool oddTail = false; // a UTF-16 file whose last byte is half a character
    QList<Line> lines;
};

QString Decode(Encoding encoding, QByteArrayView bytes);
QByteArray Encode(Encoding encoding, QStringView text);

// True when `text` comes back unchanged from the file's encoding (GBK holds no emoji, UTF-8
// no lone surrogate).
bool CanEncode(Encoding encoding, QStringView text);

Document Parse(QByteArray raw);

// Decodes line i into `buffer` and returns a view of it.
QStringView LineText(const Document& doc, qsizetype i, QString& buffer);

// White space, and ^Z (the old end-of-file mark), count as blanks around names and values.
QStringView TrimBlanks(QStringView text);

// A section header "[name]" gives true and its trimmed name, which runs to the last "]" on
// the line ("[]" is a section with no name).
bool SectionName(QStringView line, QStringView& name);

struct KeyLine
{
    QStringView key;
    QStringView value; // cut at a NUL, trimmed, one outer pair of matching quotes removed
};

KeyLine SplitKey(QStringView line);

// A caller's default as a read returns it: trailing spaces dropped, then one outer pair of
// matching quotes, as the Windows functions treat it.
QStringView DefaultValue(QStringView value);

// Names as the index keeps them: letter case folded.
QString Fold(QStringView name);

// Section → key → value, names folded; the first of duplicate sections and keys wins and a
// later duplicate section is not searched.
struct Index
{
    QHash<QString, QHash<QString, QString>> sections;
};

Index BuildIndex(const Document& doc);

} // namespace config::ini
