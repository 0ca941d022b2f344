// zblock.h: straight runs of numeric instructions, decoded once.
//
// Where control lands after a jump, the dispatch loop asks for the block
// that starts there: the numeric instructions up to the next jump, decoded
// into operations on words with their operands resolved to data addresses.
// A block is used only while its code bytes and the descriptor bytes it
// read are unchanged; it never raises an error (anything that could is
// left to the handlers), and it leaves the stack as its instructions would.
#pragma once

// set by the handlers where control lands at a jump's target or after a
// conditional jump not taken
extern bool zb_target;

// Runs the blocks that start at zp.preg, one after the other, while they
// hold and may run (no monitor, no pending output, budget left).
void zb_run();

// Forgets every block; each start of execute calls it, as the image may
// have changed in between.
void zb_reset();
