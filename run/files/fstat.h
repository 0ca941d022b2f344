// fstat.h: the file-status intrinsics.  Their arguments lie on the stack
// in source order, the last on top; count is the number the program
// pushed.  Both refuse to run while a statement uses the record buffer
// (110) and raise the file layer's errors as runtime errors.
#pragma once

// Function 31: unit, format variable, type variable, three numeric
// variables, [date variable (12 characters)], [name variable].  The
// format gets "F" (fixed-length records) or "V", the type the
// organisation; the numbers: for a relative file its record count, 0 and
// the current record; for a sequential or unstructured file its size in
// blocks of 512 bytes, 0 and 0; for an indexed file the records it can
// hold in all, those still free, and the last record number handled.  An
// unopened unit gives spaces and zeros.
void zfstat(int count);
// Function 32: unit number of the directory layer, type variable, number
// variable: "U" when the unit's directory can be searched and read (else
// a space), and the record length 0.
void zustat(int count);
// Function 36 (ikey.cpp): unit, key number, n pairs of start and length
// variables (1 to 8), flags variable.  Key number k: each pair gets the
// start of the index's part (negative in the key area, positive in the
// data) and its length, 0 and 0 past its parts; the flags 1 when the
// index allows duplicates.  Key number 0 (one pair only): the number of
// indexes, the data length of a record, and in the flags the current
// index.  Another count is 104.
void zistat(int count);
