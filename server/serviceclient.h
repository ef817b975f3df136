#pragma once
// A blocking client of the service protocol, for tests, benchmarks and manual checks: sends a
// request, ends its sending side and reads the reply until the host closes.

#include <string>

namespace svc {

// The reply bytes; empty when the host could not be reached or said nothing. `from` is the
// local address to connect from ("" lets the system choose).
std::string Exchange(int port, const std::string& request, const std::string& host = "127.0.0.1",
                     const std::string& from = {});

} // namespace svc
