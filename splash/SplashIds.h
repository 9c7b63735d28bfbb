// Resource numbers of the splash window, shared by the code and the resource script
// (which is why they are macros).
#ifndef SPLASH_SPLASH_IDS_H
#define SPLASH_SPLASH_IDS_H

// Dialog template of the splash: a borderless popup with a one-pixel frame.
#define IDD_SPLASH 103
// The splash picture.
#define IDB_SPLASH 134
// Icon group of the program, the class icon of the splash.
#define IDI_KALMORA 101

#endif // SPLASH_SPLASH_IDS_H
