#ifndef FINISHSETUP_RUN_WIN_MAIN_H
#define FINISHSETUP_RUN_WIN_MAIN_H

// The run: only commandTail is used; the result, the exit code, is always 0.
int WinMain(void* instance, void* previousInstance, const char* commandTail, int showCommand);

#endif
