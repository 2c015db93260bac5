// What happened to a TCP connection to a gateway, and the sentence that tells the operator
// what to do about it. Pure: the errno and resolver codes come from the port's thread.
#pragma once

#include <cstdint>
#include <string>

enum class TTcpState : std::uint8_t {
    Connected,
    NameNotFound, // the host name did not resolve
    Refused,      // nobody listens on that port
    Unreachable,  // no route, or no answer to the connection request in time
    Dropped,      // a connection that was made is gone
    Failed,       // the system refused a socket or a thread
};

// "10.0.0.5:502", "[fe80::1]:502".
std::string TcpEndpointText(const std::string& host, std::uint16_t port);

// The state a failed connect's errno stands for.
TTcpState ConnectErrorState(int error);

// The sentence for a host name that did not resolve (gaiError from getaddrinfo).
std::string NameFailureText(const std::string& host, int gaiError);

// The sentence for a connection that could not be made; timeoutMs is the time it was given.
std::string ConnectFailureText(const std::string& host, std::uint16_t port, int error,
                               int timeoutMs);

// The sentence for a connection that was lost: error 0 when the gateway closed it.
std::string DropText(const std::string& host, std::uint16_t port, int error);
