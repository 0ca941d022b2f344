// env.h: the environment of run: the defaults file, the settings tables,
// our own putenv, the unit-alias table, the printer table and the
// terminal slot.  env_init runs once at start-up, env_upd whenever the
// program changes the environment.
#pragma once

// Reads the defaults file, the command-line assignments and the
// environment; 0, or -1 when memory runs out.
int env_init(int argc, char **argv);

// Applies one assignment NAME=value; 0 applied, 1 ignored, -1 no memory.
int set_var(char *p, int deflt, int first_time);

// Re-applies the run-time settings after the program changed the
// environment; 0 or -1.
int env_upd(char *assignment);

// Index of the entry NAME in the environment (of the terminating null when
// absent); *value_p receives the value or null.
int igetenv(const char *variable, const char **value_p);
// The value of name, or null.
const char *vx_getenv(const char *name);
// Replaces or appends the entry; the string itself becomes the entry.
int vx_putenv(char *assignment);
// A copy of s kept for the life of the process (freed by
// env_reset_for_test), for an entry the program sets; null without memory.
char *env_keep(const char *s);

// The directory given to unit n by a unitN= assignment, or null.
const char *unit_alias_dir(int unit);

extern const char *active_terminal;  // TERM, or "du" when unset
extern const char *tty_name;         // the terminal list file
extern char *l_ttyname;              // device of standard error's terminal
extern int sc_dump_fd;               // VXSCDUMP descriptor, -1 when none

// Enters a unitN=directory assignment into the alias table; 0 or -1.
int get_u_name(const char *assignment);
int get_unit_names(char **envp);
// The terminal's line number in the terminal list, or -1.
int gettyslot();

// Makes env the environment again and forgets the owned copy (tests).
void env_reset_for_test(char **env);
