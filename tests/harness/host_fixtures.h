#pragma once
// The fixtures the host's suites share: a real welkmora-host started for
// each test (alone, or with the shell "Lead" joined, as most suites want
// it), and the dispatcher with its canvas and terminals in this process,
// without a socket or a state file. Suites derive from them and add their
// own helpers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client_run.h"
#include "host_process.h"
#include "loop/reactor.h"
#include "model/canvas.h"
#include "protocol/dispatcher.h"
#include "pty/terminal_set.h"

namespace harness {

/// A real host for each test: started before it, with `options` after
/// `welkmora-host serve` and its socket and state file, and stopped after
/// it. A host that does not end with status 0 then fails the test, with
/// what it wrote to standard error.
class HostFixture : public ::testing::Test {
 protected:
  explicit HostFixture(std::vector<std::string> options = {}) : options_(std::move(options)) {}
  void SetUp() override;
  void TearDown() override;

  HostProcess host;

 private:
  std::vector<std::string> options_;
};

/// HostFixture with the shell "Lead" joined once the host listens.
class HostWithLead : public HostFixture {
 protected:
  using HostFixture::HostFixture;
  void SetUp() override;

  /// Lead's environment: the socket and its credentials.
  Env lead;
};

/// The dispatcher in this process, on an empty canvas and the built-in
/// presets, with no state file; a hung-up program has 10 ms to end before
/// it is killed.
class DispatcherFixture : public ::testing::Test {
 protected:
  DispatcherFixture();

  host::Canvas canvas;
  host::Reactor reactor;
  host::TerminalSet terminals;
  host::Dispatcher dispatcher;
};

}  // namespace harness
