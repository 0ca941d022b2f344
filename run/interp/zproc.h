// zproc.h: procedure calls and returns, and the frame of a call of another
// program with parameters.
#pragma once

// Calls procedure n - 65: reads the argument count, pushes the procedure
// frame, switches to the callee and binds its formal parameters.  Raises
// 101 (active), 102 (bad header or routine number), 104 (count or shape),
// 106 (no room for the frame).
void zproc_call(int n);
// Returns from a procedure (delivering one value as its result) or from a
// called program; 102 for two results or a frame of another kind.
void zproc_return();
// After a call of another program with n_param parameters: pushes the
// program-call frame on the called program's stack and binds the main
// routine's formal parameters to them.
void zproc_program_frame(int n_param);

// The stepping mode of the run in progress (the monitor's sp keeps the
// statement level across calls); set by execute.
extern int zx_stepping_mode;
