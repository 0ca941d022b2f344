// zhooks.h: the points where the dispatch loop hands an instruction, or
// the end of a run, to the layers above it: the monitor, the intrinsics,
// the I/O statements and the screen.  Those layers fill zh_table at
// start-up; the procedure calls and the data lists are the loop's own.
//
// A hand-over left null behaves as if its layer had nothing to do: no
// stop for the monitor, nothing to flush, close or clear; an intrinsic or
// an I/O statement without its layer is malformed p-code (error 102).
#pragma once

struct zh_table {
  int (*debug)(int stepping, int tracing);           // the monitor's test
  void (*hierarchy)(int fd);                         // the call hierarchy to fd
  int (*intr)(int n);                                // intrinsic n
  void (*ioinit)();                                  // I/O statement: begin,
  void (*zionbr)();                                  //   number item,
  void (*ziostr)();                                  //   string item,
  void (*ioterm)();                                  //   end
  void (*io_abandon)();                              // an I/O statement cut short
  void (*close_all)();                               // every unit and the printer
  void (*flush)(int force);                          // pending screen output
  void (*screen_cleanup)();                          // the screen back to one level
  void (*screen_control)(const char *seq, int len);  // a screen control
};
extern zh_table zh;

// the monitor's test before each instruction; 1 = stop and report
int zh_debug(int stepping, int tracing);
// intrinsic n (n <= 64); 0 continue, -1 convert the top to a string,
// -2 switch the monitor on, other values end the run with that result
int zh_intr(int n);
// procedure call (opcode 118 with n >= 65) and return (opcode 100)
void zh_proc_call(int n);
void zh_return();
// I/O statement: begin, number item, string item, end
void zh_ioinit();
void zh_zionbr();
void zh_ziostr();
void zh_ioterm();
// data lists: read a number, read a string, restart at a label
void zh_irdnbr();
void zh_irdstr();
void zh_restore();
// releases what a stopping program leaves: the monitor's debug heads
// and the saved calling programs
void zh_stop_cleanup();
// the hand-overs of a run's end and of the error report
void zh_hierarchy(int fd);
void zh_io_abandon();
void zh_close_all();
void zh_flush(int force);
void zh_screen_cleanup();
void zh_screen_control(const char *seq, int len);
