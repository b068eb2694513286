// The end of the run after a fatal error. The installer exits with status 1;
// a program that runs it inside its own process (the fuzz target) sets the
// hook to take control back instead.
#pragma once

// Null in the installer. When set, it is called in place of the exit and
// must not return: it throws or jumps back to whoever started the run.
extern void (*fatal_exit_hook)();

// Ends the run, the private temporary directory removed; the error has
// been reported already.
[[noreturn]] void fatal_exit();
