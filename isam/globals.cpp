// globals.cpp: the engine's global variables and its error texts.
#include "isam/isam.h"

int ismaxfds;
int isdupsiz = 2;
int iserrno;
int iserrio;
long isrecnum;
int isreclen;

const char *is_errlist[] = {
    "duplicate record",          // 100
    "file not open",             // 101
    "illegal argument",          // 102
    "illegal key descriptor",    // 103
    "too many files open",       // 104
    "bad isam file format",      // 105
    "non-exclusive access",      // 106
    "record locked",             // 107
    "key already exists",        // 108
    "is primary key",            // 109
    "end or beginning of file",  // 110
    "no record found",           // 111
    "no current record",         // 112
    "file locked",               // 113
    "file name too long",        // 114
    "can't create lock file",    // 115
    "can't allocate memory",     // 116
    "bad custom collating",      // 117
    "can't read log record",     // 118
    "bad log record",            // 119
    "can't open log file",       // 120
    "can't write log record",    // 121
    "no transaction",            // 122
    "no shared memory",          // 123
    "no begin work yet",         // 124
    "can't use nfs",             // 125
    "bad rowid",                 // 126
    "no primary key",            // 127
    "no logging",                // 128
    "too many users",            // 129
    "no such dbspace",           // 130
    "no free disk space",        // 131
    "record too long",           // 132
    "audit trail exists",        // 133
    "no more locks",             // 134
};
int is_nerr = 100 + int(sizeof is_errlist / sizeof is_errlist[0]);
