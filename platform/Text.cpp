#include "platform/wtwin.h"

#include <cstring>

int lstrlenA(LPCSTR text)
{
    return text ? static_cast<int>(std::strlen(text)) : 0;
}
