// Preloaded into Wine's 32-bit processes when they run under qemu-i386 on a kernel that cannot
// execute i386 code. It mends two things qemu 7.2 does differently from the kernel:
// - MAP_FIXED_NOREPLACE is only a hint to qemu: a mapping that lands elsewhere is undone and
//   fails with EEXIST, as the kernel fails it, so that Wine's address-space reservation skips
//   a taken range at once instead of mapping it piece by piece. Wine's i386 code maps through
//   mmap64 only (it is built with 64-bit file offsets).
// - qemu's signal frames carry trap number -1: Wine would take every page fault for an
//   illegal instruction. The trap number is set from si_code before Wine's handler runs.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <ucontext.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

#if defined(__i386__)

typedef void* (*Mmap64Function)(void*, size_t, int, int, int, off64_t);
typedef int (*SigactionFunction)(int, const struct sigaction*, struct sigaction*);

static void* Refuse(void* wanted, void* result, size_t length, int flags)
{
    if (result == MAP_FAILED || !(flags & MAP_FIXED_NOREPLACE) || result == wanted) return result;
    munmap(result, length);
    errno = EEXIST;
    return MAP_FAILED;
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, off64_t offset)
{
    static Mmap64Function next;
    if (!next) next = (Mmap64Function)dlsym(RTLD_NEXT, "mmap64");
    return Refuse(address, next(address, length, protection, flags, fd, offset), length, flags);
}

// The handlers Wine installed for SIGSEGV and SIGFPE, called from Trampoline.
static void (*handlers[NSIG])(int, siginfo_t*, void*);

static int TrapNumber(int signal, int code)
{
    if (signal == SIGSEGV) return (code == SEGV_MAPERR || code == SEGV_ACCERR) ? 14 : 13;
    if (code == FPE_INTDIV) return 0;
    return code == FPE_INTOVF ? 4 : 16;
}

static void Trampoline(int signal, siginfo_t* info, void* context)
{
    ucontext_t* frame = context;
    if (frame->uc_mcontext.gregs[REG_TRAPNO] == -1)
        frame->uc_mcontext.gregs[REG_TRAPNO] = TrapNumber(signal, info->si_code);
    handlers[signal](signal, info, context);
}

int sigaction(int signal, const struct sigaction* action, struct sigaction* previous)
{
    static SigactionFunction next;
    if (!next) next = (SigactionFunction)dlsym(RTLD_NEXT, "sigaction");
    if ((signal != SIGSEGV && signal != SIGFPE) || !action || !(action->sa_flags & SA_SIGINFO))
        return next(signal, action, previous);
    struct sigaction wrapped = *action;
    handlers[signal] = action->sa_sigaction;
    wrapped.sa_sigaction = Trampoline;
    return next(signal, &wrapped, previous);
}

#endif
