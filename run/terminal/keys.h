// keys.h: the key-sequence table of the keyboard reader.
#pragma once

// Builds the table of function-key sequences from the capabilities.
void realloc_ctrl_keys();
