#ifndef FINISHSETUP_RUN_COMMAND_LINE_H
#define FINISHSETUP_RUN_COMMAND_LINE_H

// The command-line tail: what follows the program's name and the separators after it, taken
// from the command line in UTF-16.
const char16_t* CommandLineTail(const char16_t* commandLine);

#endif
