#pragma once
// The loop's one catch boundary: each handler of a descriptor and each
// timer runs under a guard, so that a step that throws (memory running out,
// a constructor that cannot build a client's connection) leaves that one
// piece of work undone and reported, and the host, its other clients and
// every terminal go on.

#include <exception>
#include <new>
#include <string>

#include "loop/log.h"

namespace host {

template <class Work>
void run_guarded(Work&& work) noexcept {
  try {
    work();
  } catch (const std::bad_alloc&) {
    report("out of memory while serving; going on");
  } catch (const std::exception& e) {
    report(std::string(e.what()) + "; going on");
  }
}

}  // namespace host
