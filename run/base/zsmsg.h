// zsmsg.h: the message writer.  Messages end in "\r\n" because the
// terminal runs without output processing.
#pragma once

// Writes a message: through the screen layer once it is started, else
// directly to standard output.
void zsmsg(const char *text);

// The screen layer installs its writer here when it starts; null until then.
extern void (*zsmsg_screen)(const char *text);
