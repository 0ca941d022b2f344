// wiz.h: the buffer shared by all run processes.
#pragma once

// descriptor of the shared-buffer file, -1 when not open
extern int wizfd;

// Decrements the buffer's user count when this process logged on.
void zcblogout();
