// txlog.h: the transaction log of indexed files.
#pragma once

// Opens the transaction log named by VXTXLOG (null or empty: none);
// 0, or nonzero after writing a message.
int vxtxlogopen(const char *name);
