// zsubr.h: small conversions shared by the intrinsics, the file
// statements, the monitor and the screen: decimal and hexadecimal digits,
// the date and time text, and the user's login name.
#pragma once

#include <ctime>

// Writes n (0..999) as exactly three decimal digits through zoutc.
void outdec(int n);
// The l (1..4) lowest hexadecimal digits of n, upper case, most
// significant first; the text lives until the next call.
const char *dectohex(unsigned n, int l);
// Writes four hexadecimal digits of n through zsmsg.
void outhex(unsigned n);
// The value of the hexadecimal digits (either case) at str, at most maxlen
// of them, up to the first other character.
unsigned hexit(const char *str, int maxlen);
// Writes n (0..99) as two digits at p; returns p + 2.
char *dtecvt(int n, char *p);

constexpr int DTE_SHORT = 12;  // MMDDYYhhmmss
constexpr int DTE_LONG = 14;   // CCYYMMDDhhmmss
// Writes the local time t as text at dst: fmt 0 the 12-character form,
// any other fmt the 14-character form; returns the length.
int get_dte(char *dst, time_t t, int fmt);
// get_dte for the current time.
int dte(char *p, int fmt);

// The login name of uid: the first field (at most 8 characters) of the
// first line of the password file whose third field is uid, or eight
// question marks.  The file is read once; later calls return the name
// found then.
const char *getuname(unsigned uid);
// Forgets the name and reads path instead of /etc/passwd next time.
void getuname_reset_for_test(const char *path);
