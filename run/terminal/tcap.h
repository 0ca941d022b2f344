// tcap.h: terminal capabilities of the active terminal.
#pragma once

// output-speed bits of the terminal (c_cflag & 0x100F) as found at start,
// kept by settty for the screen timing
extern unsigned ztc_ospeed;

// Reads the terminal's capabilities.
void inicap();
