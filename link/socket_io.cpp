#include "link/socket_io.h"

#include <sys/socket.h>

#include <cerrno>

namespace zent {

int ReceiveAll(int socket, char* buffer, int count) {
  int remaining = count;
  while (remaining > 0) {
    const ssize_t n = ::recv(socket, buffer + (count - remaining), static_cast<size_t>(remaining), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    remaining -= static_cast<int>(n);
  }
  return count - remaining;
}

int SendBytes(int socket, const void* data, int count) {
  for (;;) {
    const ssize_t n = ::send(socket, data, static_cast<size_t>(count), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<int>(n);
  }
}

}  // namespace zent
