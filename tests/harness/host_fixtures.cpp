// The shared fixtures of the host's suites; see host_fixtures.h.

#include "host_fixtures.h"

#include <chrono>

#include "model/presets.h"

namespace harness {

void HostFixture::SetUp() { host.start(options_); }

void HostFixture::TearDown() { EXPECT_EQ(host.stop(), 0) << host.error_output(); }

void HostWithLead::SetUp() {
  HostFixture::SetUp();
  lead = host.join("Lead");
}

DispatcherFixture::DispatcherFixture()
    : terminals(reactor, std::chrono::milliseconds(10)),
      dispatcher(canvas, terminals, nullptr, host::default_presets(), {}) {}

}  // namespace harness
