// TinyProxy on Windows: tinyproxy is a Linux program, so it is never available and the tests that
// need it skip.
#include "loopback_http_server.h"

namespace vg::test {

TinyProxy::TinyProxy(int) {}
TinyProxy::~TinyProxy() = default;
std::string TinyProxy::log() const { return {}; }

}  // namespace vg::test
