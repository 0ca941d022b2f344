// istring.h: the intrinsic functions on strings and numbers.  Each takes
// the argument count (already checked against the function's table row),
// pops its arguments and pushes its result; 0, or -1 for the number to
// text function, whose text the dispatch loop makes.
#pragma once

int istr_edit(int count);    // 1: number through an edit mask
int istr_char(int count);    // 9: the character of a code
int istr_len(int count);     // 14: length of a string
int istr_find(int count);    // 18: position of a string or a pattern
int istr_value(int count);   // 19: the number a string spells, else 0
int istr_text(int count);    // 20: number to text (by the dispatch loop)
int istr_int(int count);     // 22: integer part
int istr_code(int count);    // 24: code of the first character
int istr_upper(int count);   // 37: a string variable to upper case
int istr_lower(int count);   // 38: a string variable to lower case
int istr_repeat(int count);  // 47: a string repeated
int istr_rtrim(int count);   // 48: without trailing spaces
int istr_trim(int count);    // 54: without leading, trailing or both
int istr_abs(int count);     // 57: absolute value
