// Resource numbers of the test bitmaps in test.rc.
#ifndef SPLASH_TESTDATA_TEST_IDS_H
#define SPLASH_TESTDATA_TEST_IDS_H

#define IDB_TEST_RLE8 901
#define IDB_TEST_PAL8 902
#define IDB_TEST_TOPDOWN 903

#endif // SPLASH_TESTDATA_TEST_IDS_H
