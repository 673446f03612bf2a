#pragma once

#include <functional>

// The signals that ask a program to close: SIGTERM (a logout, `kill`, a script's `timeout`),
// SIGINT (Ctrl-C) and SIGHUP (the terminal went away).
namespace platform {

// Catches the close signals from now on (once; later calls do nothing). Each signal is handed on
// from a thread of this layer, never from inside the signal handler. The first goes to the
// handler of OnCloseSignal, or waits for one to be set. A second one ends the program at once
// with `secondExitCode`, after removing the temporary folder: whoever sent it will not wait for
// the orderly end that the first began.
void CatchCloseSignals(int secondExitCode);

// Sets what the first close signal does; an empty function removes it, and returns only once a
// call of the handler that was under way has ended. The handler runs on another thread: it should
// only hand the work to the program's own thread. Setting a handler starts afresh: unless a
// signal is still waiting for it, the next one counts as the first.
void OnCloseSignal(std::function<void()> handler);

// A reader that closes our standard output early must not end the program in the middle of a
// transfer: writes to a closed pipe then fail (EPIPE) instead of raising SIGPIPE.
void IgnoreBrokenPipe();

}  // namespace platform
