// Answers the next message box of the calling thread, for tests of code that asks
// the user. A CBT hook waits for the box to be activated, notes what it shows and
// posts the chosen button to it, so no test waits on a clock.
#ifndef SPLASH_TESTDATA_MESSAGE_BOX_ANSWER_H
#define SPLASH_TESTDATA_MESSAGE_BOX_ANSWER_H

#include <windows.h>

#include <string>

struct AnsweredBox
{
    bool seen = false;
    std::string caption;
    std::string text;
    HWND owner = nullptr;
};

// Installs the hook; the first dialog window activated afterwards gets a click on the
// button answer (IDYES, IDNO, ...). The hook is removed on destruction.
class MessageBoxAnswer
{
public:
    explicit MessageBoxAnswer(int answer);
    ~MessageBoxAnswer();
    MessageBoxAnswer(const MessageBoxAnswer&) = delete;
    MessageBoxAnswer& operator=(const MessageBoxAnswer&) = delete;

    const AnsweredBox& Box() const;

private:
    HHOOK hook_;
};

#endif // SPLASH_TESTDATA_MESSAGE_BOX_ANSWER_H
