#ifndef FINISHSETUP_RUN_COMMAND_LINE_H
#define FINISHSETUP_RUN_COMMAND_LINE_H

// The command-line tail: what follows the program's name and the separators after it.
const char* CommandLineTail(const char* commandLine);

#endif
