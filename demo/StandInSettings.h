// How tests and demonstrations steer the stand-in setup program. The launcher reads no
// environment at all; only these stand-ins do.
#ifndef DEMO_STAND_IN_SETTINGS_H
#define DEMO_STAND_IN_SETTINGS_H

#include <string>
#include <windows.h>

struct StandInSettings {
    std::string reportPath;    // KM_STANDIN_REPORT; empty: no report
    std::string installFolder; // KM_STANDIN_INSTALL_DIR, with a trailing backslash
    DWORD holdMilliseconds;    // KM_STANDIN_HOLD_MS; 0 when unset or not a number
    bool exitAtOnce;           // KM_STANDIN_EXIT_AT_ONCE set to anything but "" or "0"
    bool cleanupAtOnce;        // KM_STANDIN_CLEANUP_AT_ONCE, likewise
    bool noWindow;             // KM_STANDIN_NO_WINDOW, likewise
};

// The default install folder is "Kalmora Photo" in the system's program files folder.
StandInSettings ReadStandInSettings();

// Decimal digits, clamped to kMaxHoldMilliseconds; anything else gives 0.
DWORD ParseHoldMilliseconds(const std::string& text);

// Ten minutes: a forgotten setting must not leave a window behind for good.
const DWORD kMaxHoldMilliseconds = 600000;

#endif
