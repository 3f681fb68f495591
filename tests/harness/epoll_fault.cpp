// A shim for LD_PRELOAD: while the file named by WELKMORA_EPOLL_FAULT
// exists, every epoll_ctl(EPOLL_CTL_ADD) of the process fails with ENOSPC,
// as it does when the user's limit of epoll watches is reached. Tests start
// a host with it to see what a descriptor the loop cannot watch does.

#include <dlfcn.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern "C" int epoll_ctl(int epfd, int op, int fd, epoll_event* event) {
  using Real = int (*)(int, int, int, epoll_event*);
  static Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "epoll_ctl"));
  const char* trigger = std::getenv("WELKMORA_EPOLL_FAULT");
  if (op == EPOLL_CTL_ADD && trigger != nullptr && ::access(trigger, F_OK) == 0) {
    errno = ENOSPC;
    return -1;
  }
  return real(epfd, op, fd, event);
}
