// SPDX-License-Identifier: MIT
// A child process for the crash-handler and process-termination tests.
// Usage: sysutils_child <handlers> <action>
//   handlers: plain (no callback), callback, replaced (a second callback replaces the first),
//             nested (the callback itself raises SIGSEGV), none (no handlers at all)
//   action:   segv, ill, fpe, abrt, term, int (raised here), new (the allocation-failure
//             handler), terminate (std::terminate), wait (prints READY and waits for a signal)
// The signals are raised rather than caused, so that sanitizers see no real fault.
#include <ravixcore/sys/sysutils.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <unistd.h>

namespace {

void say(const char *text)
{
    // Only async-signal-safe output from inside a signal handler.
    const ssize_t ignored = ::write(STDOUT_FILENO, text, std::strlen(text));
    (void)ignored;
}

int signalOf(const char *name)
{
    const struct
    {
        const char *name;
        int sig;
    } table[] = {{"segv", SIGSEGV}, {"ill", SIGILL},   {"fpe", SIGFPE},
                 {"abrt", SIGABRT}, {"term", SIGTERM}, {"int", SIGINT}};
    for (const auto &e : table)
        if (std::strcmp(name, e.name) == 0)
            return e.sig;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 100;
    const char *handlers = argv[1];
    const char *action = argv[2];

    if (std::strcmp(handlers, "plain") == 0) {
        ravix::SysUtils::catchSystemExceptions();
    } else if (std::strcmp(handlers, "callback") == 0) {
        ravix::SysUtils::catchSystemExceptions([] { say("CALLBACK\n"); });
    } else if (std::strcmp(handlers, "replaced") == 0) {
        ravix::SysUtils::catchSystemExceptions([] { say("FIRST\n"); });
        ravix::SysUtils::catchSystemExceptions([] { say("SECOND\n"); });
    } else if (std::strcmp(handlers, "nested") == 0) {
        ravix::SysUtils::catchSystemExceptions([] {
            say("CALLBACK\n");
            std::raise(SIGSEGV);
            say("NOT REACHED\n");
        });
    } else if (std::strcmp(handlers, "none") != 0) {
        return 101;
    }

    if (const int sig = signalOf(action)) {
        std::raise(sig);
        return 102; // the handler should have ended the process
    }
    if (std::strcmp(action, "new") == 0) {
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            return 103;
        handler();
        return 104;
    }
    if (std::strcmp(action, "terminate") == 0) {
        std::terminate();
    }
    if (std::strcmp(action, "wait") == 0) {
        say("READY\n");
        for (;;)
            ::pause();
    }
    return 105;
}
