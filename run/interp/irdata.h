// irdata.h: the DATA lists that READ takes its constants from.
#pragma once

#include <cstdint>

constexpr int ERR_DATA = 62;     // bad DATA contents
constexpr int ERR_NODATA = 109;  // no (more) DATA

// RESTORE: reading starts again at the block labelled label (a code
// offset; 0: the routine's first block).
void irrst(uint32_t label);
// The next byte of the data list; follows the chain of blocks.
uint32_t irget();
// READ into the numeric variable whose reference is on top of the stack.
void irdnbr();
// READ into the string variable whose reference is on top of the stack.
void irdstr();
// Machine command 0: RESTORE to the label in the top entry's pointer word.
void irrestore_top();
