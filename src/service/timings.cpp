#include "service/timings.h"

#include <mutex>

namespace service {
namespace {

std::mutex lock;
Timings current;

} // namespace

Timings CurrentTimings()
{
    std::lock_guard guard(lock);
    return current;
}

void SetTimings(const Timings& timings)
{
    std::lock_guard guard(lock);
    current = timings;
}

} // namespace service
