#pragma once

namespace lumira {

// What the peer of a TCP socket has sent on it so far (the kernel's count); 0 when unknown.
// In a file of its own: the kernel's newer definition of the socket's figures clashes with the
// C library's, which the HTTP library's header takes in.
unsigned long long receivedBytes(int socket);

} // namespace lumira
