#pragma once
// Giving memory the process no longer uses back to the system. The browser view asks for this
// after every completed navigation and on load progress, so a long-running program that shows
// many page loads does not keep its peak footprint.

namespace platform {

// Returns free heap pages to the system. No visible effect; safe to call from any thread.
void TrimFreeMemory();

} // namespace platform
