#pragma once
// How long the service client waits. The defaults are the program's; tests shorten them.

#include <chrono>

namespace service {

struct Timings
{
    std::chrono::milliseconds connect{10000};       // establishing the connection
    std::chrono::milliseconds reply{10000};         // the first reply bytes after the request
    std::chrono::milliseconds loginDoneDelay{1000}; // from a login attempt's end to LoginDone
};

Timings CurrentTimings();
void SetTimings(const Timings& timings);

} // namespace service
