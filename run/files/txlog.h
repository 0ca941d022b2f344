// txlog.h: the transaction log of indexed files.
#pragma once

// 0 no transaction log, 2 log open and no transaction, 1 a transaction
// is active.
extern int vx_txflag;

// Opens the transaction log named by VXTXLOG (null or empty: none);
// 0, or nonzero after writing a message.
int vxtxlogopen(const char *name);
