#pragma once
// Links of the program's own URL scheme: registering the program as their handler, and turning
// a link into a pack install. A link is the scheme name and "://" (eleven characters, not
// compared), the archive's address without "http://", "&" and the pack kind as its last
// character: VEDERU77://host/path/pack.zip&2.

#include <QString>

class QWidget;

struct ParsedLink
{
    QString address;  // from after the scheme to the last "&"
    QString fileName; // from after the last "/" to the last "&"
    QString type;     // the last character
};

enum class LinkCheck { Ok, Malformed, UnknownType };

// Cuts a link apart by position only. Malformed: no "&" or "/", an empty file name, a file name
// whose first "." is its first character or that has none, or one that holds "\" or ".." (it
// would name a file outside the Downloads folder). UnknownType: a kind other than 1, 2 or 3.
LinkCheck ParseLink(const QString& link, ParsedLink& out);

// Registers the program for VEDERU77 links, following the executable when it was moved.
void RegisterUrlProtocol();

// Checks the link, finds the game folder and runs the install dialog. Returns only after the
// dialog has closed; true when it ran.
bool HandleLink(const QString& link, QWidget* owner);
