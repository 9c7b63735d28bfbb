// kmarc's help texts: the overview that `kmarc --help` prints and one text per
// command for `kmarc COMMAND --help` and `kmarc help COMMAND`. The man page kmarc.1
// says the same at more length; a test holds the three together.
#ifndef KMARC_HELP_TEXT_H
#define KMARC_HELP_TEXT_H

#include <string>

// The commands, usage, the options every command takes, the rules for names, sizes,
// links and time stamps, and the exit status.
extern const char kOverviewHelp[];

// The help of one command: its usage, what it does and each of its options. Null for
// a name that is no command.
const char* CommandHelp(const std::string& command);

#endif
