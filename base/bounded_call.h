// Runs a blocking call that has no time limit of its own (the system's
// reverse lookup) within one: the caller goes on when the limit passes and
// the call finishes, unheard, on its own thread.
#pragma once

#include <functional>
#include <string>

// Calls work(result) on a thread of its own and waits for it at most
// timeoutMs milliseconds; with a negative timeout, calls it on the caller's
// thread and waits for ever. True with
// result set when work returned true in time; false when it returned false
// or the time ran out. work must own or copy everything it uses.
bool CallWithin(int timeoutMs, std::function<bool(std::string&)> work, std::string& result);
