      *> files_bench.cob: the data-file workloads of bench/files in
      *> GnuCOBOL: a line sequential file of 100-byte records written and
      *> read back, and a relative file of 10,000 records of 100 bytes read
      *> at random with a lock and rewritten, or locked and unlocked.  In
      *> the manual lock mode a record's lock goes with the next statement
      *> on the file (the REWRITE, the next READ); the UNLOCK statement is
      *> not used, since GnuCOBOL makes it wait for the disk each time.
      *>   files_cob seqw N | seqr | relmk | relrw N | lock N
       IDENTIFICATION DIVISION.
       PROGRAM-ID. FILESBENCH.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT SEQ-FILE ASSIGN TO "cobol_seq"
               ORGANIZATION IS LINE SEQUENTIAL.
           SELECT REL-FILE ASSIGN TO "cobol_rel"
               ORGANIZATION IS RELATIVE
               ACCESS MODE IS RANDOM
               RELATIVE KEY IS WS-K
               LOCK MODE IS MANUAL
               FILE STATUS IS WS-ST.
       DATA DIVISION.
       FILE SECTION.
       FD SEQ-FILE.
       01 SEQ-REC PIC X(100).
       FD REL-FILE.
       01 REL-REC PIC X(100).
       WORKING-STORAGE SECTION.
       01 WS-MODE  PIC X(10).
       01 WS-NTEXT PIC X(12).
       01 WS-N     PIC 9(9) COMP.
       01 WS-I     PIC 9(9) COMP.
       01 WS-K     PIC 9(9) COMP.
       01 WS-X     PIC 9(18) COMP.
       01 WS-ST    PIC XX.
       01 WS-EOF   PIC X VALUE "N".
       PROCEDURE DIVISION.
           ACCEPT WS-MODE FROM ARGUMENT-VALUE
           ACCEPT WS-NTEXT FROM ARGUMENT-VALUE
           MOVE FUNCTION NUMVAL(WS-NTEXT) TO WS-N
           EVALUATE WS-MODE
             WHEN "seqw"
               OPEN OUTPUT SEQ-FILE
               MOVE ALL "0123456789" TO SEQ-REC
               PERFORM VARYING WS-I FROM 1 BY 1 UNTIL WS-I > WS-N
                 WRITE SEQ-REC
               END-PERFORM
               CLOSE SEQ-FILE
             WHEN "seqr"
               OPEN INPUT SEQ-FILE
               MOVE 0 TO WS-I
               PERFORM UNTIL WS-EOF = "Y"
                 READ SEQ-FILE
                   AT END MOVE "Y" TO WS-EOF
                   NOT AT END ADD 1 TO WS-I
                 END-READ
               END-PERFORM
               CLOSE SEQ-FILE
               DISPLAY WS-I
             WHEN "relmk"
               OPEN OUTPUT REL-FILE
               MOVE ALL "0123456789" TO REL-REC
               PERFORM VARYING WS-K FROM 1 BY 1 UNTIL WS-K > 10000
                 WRITE REL-REC
               END-PERFORM
               CLOSE REL-FILE
             WHEN "relrw"
               OPEN I-O REL-FILE
               MOVE 12345 TO WS-X
               PERFORM VARYING WS-I FROM 1 BY 1 UNTIL WS-I > WS-N
                 COMPUTE WS-X = FUNCTION MOD(WS-X * 16807, 2147483647)
                 COMPUTE WS-K = FUNCTION MOD(WS-X, 10000) + 1
                 READ REL-FILE WITH LOCK
                 REWRITE REL-REC
               END-PERFORM
               CLOSE REL-FILE
             WHEN "lock"
               OPEN I-O REL-FILE
               PERFORM VARYING WS-I FROM 1 BY 1 UNTIL WS-I > WS-N
                 COMPUTE WS-K = FUNCTION MOD(WS-I, 10000) + 1
                 READ REL-FILE WITH LOCK
               END-PERFORM
               CLOSE REL-FILE
           END-EVALUATE
           STOP RUN.
