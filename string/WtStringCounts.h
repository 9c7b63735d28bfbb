// Reference counts with a meaning of their own (WtStringData::refCount).
#ifndef WTSTRINGCOUNTS_H
#define WTSTRINGCOUNTS_H

#include "platform/wtwin.h"

// One owner that has made its buffer private with LockBuffer.
const LONG kLockedCount = -1;
// The static empty record: never counted, written or freed.
const LONG kEmptyRecordCount = -2;

#endif // WTSTRINGCOUNTS_H
