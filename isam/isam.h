/* isam.h: the public interface of the ISAM engine (C-compatible).
 *
 * Indexed files: NAME.dat holds fixed-length records, NAME.idx the
 * dictionary and the B+-tree indexes (docs/isam-format.md).  Every call
 * returns a negative value on failure with the reason in iserrno, and
 * clears iserrno when it starts. */
#ifndef QUILLON_ISAM_H
#define QUILLON_ISAM_H

#ifdef __cplusplus
extern "C" {
#endif

/* open modes: one access mode, one lock mode, options */
#define ISINPUT 0
#define ISOUTPUT 1
#define ISINOUT 2
#define ISTRANS 4
#define ISNOLOG 8
#define ISFIXLEN 0
#define ISVARLEN 0x10
#define ISAUTOLOCK 0x200
#define ISMANULOCK 0x400
#define ISEXCLLOCK 0x800

/* read and start modes */
#define ISFIRST 0
#define ISLAST 1
#define ISNEXT 2
#define ISPREV 3
#define ISPREVIOUS 3
#define ISCURR 4
#define ISEQUAL 5
#define ISGREAT 6
#define ISGTEQ 7

/* lock flags added to the read mode (ISKEEPLOCK to the start mode) */
#define ISLOCK 0x100
#define ISSKIPLOCK 0x200
#define ISWAIT 0x400
#define ISLCKW 0x500
#define ISKEEPLOCK 0x800

/* key flags */
#define ISNODUPS 0
#define ISDUPS 1
#define DCOMPRESS 2
#define LCOMPRESS 4
#define TCOMPRESS 8
#define COMPRESS 14
#define ISCLUSTER 0x10

/* key part types */
#define CHARTYPE 0
#define DECIMALTYPE 0
#define INTTYPE 1
#define LONGTYPE 2
#define DOUBLETYPE 3
#define FLOATTYPE 4
#define ISDESC 0x80
#define CHARSIZE 1
#define INTSIZE 2
#define LONGSIZE 4
#define FLOATSIZE ((int)sizeof(float))
#define DOUBLESIZE ((int)sizeof(double))

#define NPARTS 8
#define MAXKEYSIZE 120

struct keypart {
  short kp_start; /* byte offset of the part in the record */
  short kp_leng;  /* length of the part in bytes */
  short kp_type;  /* type code, optionally + ISDESC */
};

struct keydesc {
  short k_flags;                 /* ISDUPS/ISNODUPS + compression flags */
  short k_nparts;                /* parts in use, 0..NPARTS */
  struct keypart k_part[NPARTS]; /* the parts in key order */
  short k_len;                   /* total key length, set by the engine */
  long k_rootnode;               /* engine-internal */
};
#define k_start k_part[0].kp_start
#define k_leng k_part[0].kp_leng
#define k_type k_part[0].kp_type

struct dictinfo {
  short di_nkeys;   /* number of indexes */
  short di_recsize; /* record length */
  short di_idxsize; /* primary key length */
  long di_nrecords; /* records now in the file */
};

/* error numbers */
#define EDUPL 100
#define ENOTOPEN 101
#define EBADARG 102
#define EBADKEY 103
#define ETOOMANY 104
#define EBADFILE 105
#define ENOTEXCL 106
#define ELOCKED 107
#define EKEXISTS 108
#define EPRIMKEY 109
#define EENDFILE 110
#define ENOREC 111
#define ENOCURR 112
#define EFLOCKED 113
#define EFNAME 114
#define ENOLOK 115
#define EBADMEM 116
#define EBADCOLL 117
#define ELOGREAD 118
#define EBADLOG 119
#define ELOGOPEN 120
#define ELOGWRIT 121
#define ENOTRANS 122
#define ENOSHMEM 123
#define ENOBEGIN 124
#define ENONFS 125
#define EBADROWID 126
#define ENOPRIM 127
#define ENOLOG 128
#define EUSER 129
#define ENODBS 130
#define ENOFREE 131
#define EROWSIZE 132
#define EAUDIT 133
#define ENOLOCKS 134

/* iserrio: file code + operation code of a failed system call */
#define IO_OPEN 0x10
#define IO_CREA 0x20
#define IO_SEEK 0x30
#define IO_READ 0x40
#define IO_WRIT 0x50
#define IO_LOCK 0x60
#define IO_IDX 1
#define IO_DAT 2

extern int iserrno;              /* error of the last call, 0 after success */
extern int iserrio;              /* which file and operation failed for a system error */
extern long isrecnum;            /* record number of the last record handled; input to
                                    reads in record-number order */
extern int isreclen;             /* length of the last record read */
extern int is_nerr;              /* one past the last engine error number */
extern const char *is_errlist[]; /* texts of errors 100..is_nerr-1 */

extern int ismaxfds; /* descriptor limit; 0 leaves the engine's own */
extern int isdupsiz; /* width of the duplicate counter: 2 or 4 */

/* The region-lock primitive: every lock the engine takes or tests goes
 * through it (cmd F_SETLK, F_SETLKW or F_GETLK).  Defaults to fcntl;
 * a caller may point it at its own wrapper. */
struct flock;
extern int (*islockfn)(int fd, int cmd, struct flock *fl);

int isbuild(const char *name, int reclen, struct keydesc *key, int mode);
int isopen(const char *name, int mode);
int isclose(int isfd);
int iserase(const char *name);
int isrename(const char *oldname, const char *newname);
int isflush(int isfd);
int isindexinfo(int isfd, void *buffer, int number);
int isaddindex(int isfd, struct keydesc *key);
int isdelindex(int isfd, struct keydesc *key);
int isstart(int isfd, struct keydesc *key, int length, char *record, int mode);
int isread(int isfd, char *record, int mode);
int iswrite(int isfd, const char *record);
int iswrcurr(int isfd, const char *record);
int isrewrite(int isfd, const char *record);
int isrewcurr(int isfd, const char *record);
int isrewrec(int isfd, long recnum, const char *record);
int isdelete(int isfd, const char *record);
int isdelcurr(int isfd);
int isdelrec(int isfd, long recnum);
int islock(int isfd);
int isunlock(int isfd);
int isrelease(int isfd);
int isrelrec(int isfd, long recnum);
int isrelcurr(int isfd);
int iscleanup(void);
int islogopen(const char *logname);
int islogclose(void);
int isbegin(void);
int iscommit(void);
int isrollback(void);
int isrecover(void);

#ifdef __cplusplus
}
#endif

#endif
