// The texts the launcher shows, in English, Italian, French and German, stored in the
// Windows-1252 code page. The language is read from the user's setting at every call.
#ifndef LAUNCHER_MESSAGES_H
#define LAUNCHER_MESSAGES_H

#include <windows.h>

// One numbered message. Format strings carry the same placeholders, in the same order,
// in all four languages.
struct MessageEntry {
    int id;
    const char* english; // also the text of every language without its own column
    const char* italian;
    const char* french;
    const char* german;
};

// Message numbers the launcher and the splash show.
const int kMsgSetupTitle = 0;     // caption of every box
const int kMsgConfirmCancel = 1;  // close confirmation of the splash
const int kMsgLowDiskSpace = 5;   // drive (%s), required and available megabytes (%.1f)

// Number of the closing row; never a valid message number.
const int kMessageTableEnd = 37;

// The numbered messages 0 to 36 in ascending order, then the closing row with empty texts.
// The launcher shows three of them, yet the table holds all 37: it is the message table
// of the whole setup family, whose numbers and texts the other programs share and look up
// by number, and GetMessageText answers every number of it in every language (the tests
// check each row). The other texts cost read-only data, no code.
extern const MessageEntry kMessageTable[kMessageTableEnd + 1];

// GetUserDefaultLangID, GetSystemDefaultLangID, or a test's own.
typedef LANGID(WINAPI* LanguageQuery)();

// The language whose column the texts are taken from: what user reports, or what
// system reports when the user has no language set (0).
LANGID TextLanguage(LanguageQuery user, LanguageQuery system);

// Text of message id in the user's current language, or "unknown msg text" for a number
// that is not in the table. The pointer is into constant data and never freed.
const char* GetMessageText(int id);

// Why a run had to stop after it began to write files. These texts are kept apart from
// the numbered table so that its numbers stay as they are. Each takes one %s: the
// archive or entry that could not be unpacked, the file that could not be written, or
// the temporary folder in which no free name was found.
enum class FailureText {
    UnpackFailed,
    WriteFailed,
    NoFreeName,
};

// The text of a failure in the user's current language.
const char* GetFailureText(FailureText which);

#endif // LAUNCHER_MESSAGES_H
