#include "io/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vesk::io {

int ensure_standard_descriptors() {
  int opened = 0;
  for (int wanted = 0; wanted <= 2; ++wanted) {
    if (::fcntl(wanted, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is `wanted` itself, since the lower ones are open.
    int got = ::open("/dev/null", O_RDWR);
    if (got < 0) break;
    if (got != wanted) {
      ::dup2(got, wanted);
      ::close(got);
    }
    ++opened;
  }
  return opened;
}

}  // namespace vesk::io
