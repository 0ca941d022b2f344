// zioc.h: ending all I/O of the program.
#pragma once

// Releases the shared-buffer lock, closes the printer, the pipes, the
// child slots and every open data file.
void zioc();
