// asmtext.h: the source text of the assembler before it is assembled:
// include files, macros and named values are expanded into a list of
// plain lines, each with the file and line it comes from; and the lexical
// helpers that both this stage and the assembler use.
#pragma once

#include <string>
#include <vector>

struct ptx_line {
  std::string file;   // the file it comes from, for messages
  int line = 0;       // its line there (of the macro call for macro lines)
  std::string text;   // the line after expansion
  std::string where;  // " (macro NAME, line N)" for a line of a macro body
};

struct ptx_result {
  std::vector<ptx_line> lines;  // the program, expanded
  std::string errors;           // "file:line: message" lines
  int nerrors = 0;              // their count
};

// Expands src (named srcname): ".include" files looked for beside the file
// that includes them, then in include_dirs; ".macro" definitions and their
// calls; ".equ" names.  is_mnemonic tells the names a macro may not take.
ptx_result ptx_expand(const std::string &src, const std::string &srcname,
                      const std::vector<std::string> &include_dirs,
                      bool (*is_mnemonic)(const std::string &lower));

// Lexical helpers.
std::string ptx_trim(const std::string &t);
bool ptx_is_ident_start(char c);
bool ptx_is_ident(char c);
// the line without its comment (";" outside quotes)
std::string ptx_strip_comment(const std::string &l);
// operands split at commas outside quotes, parentheses and braces
std::vector<std::string> ptx_split_operands(const std::string &t);
