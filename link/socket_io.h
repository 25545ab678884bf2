#pragma once
// Blocking socket calls as the event channel uses them.

namespace zent {

// Receives exactly `count` bytes unless the peer closes first. Returns count when all arrived,
// -1 when a receive failed (time-out included; bytes already received are dropped), or the
// number that arrived before the peer closed.
int ReceiveAll(int socket, char* buffer, int count);

// One send call; -1 on error. Never raises SIGPIPE on a closed peer.
int SendBytes(int socket, const void* data, int count);

}  // namespace zent
