#include "net/TcpFailure.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>

std::string TcpEndpointText(const std::string& host, std::uint16_t port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

TTcpState ConnectErrorState(int error) {
    switch (error) {
    case ECONNREFUSED:
        return TTcpState::Refused;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
    case EADDRNOTAVAIL:
        return TTcpState::Unreachable;
    default:
        return TTcpState::Failed;
    }
}

std::string NameFailureText(const std::string& host, int gaiError) {
    const std::string name = "\"" + host + "\"";
    switch (gaiError) {
    case EAI_NONAME:
    case EAI_NODATA:
    case EAI_FAMILY:
        return "The gateway's name " + name +
               " is not known on this network: check the host name, or enter the gateway's IP "
               "address instead.";
    case EAI_AGAIN:
        return "The gateway's name " + name +
               " could not be looked up, the name server did not answer: check the network "
               "connection, or enter the gateway's IP address instead.";
    default:
        return "The gateway's name " + name + " could not be looked up (" + gai_strerror(gaiError) +
               "): check the host name, or enter the gateway's IP " + "address instead.";
    }
}

std::string ConnectFailureText(const std::string& host, std::uint16_t port, int error,
                               int timeoutMs) {
    const std::string at = "The gateway at " + TcpEndpointText(host, port);
    switch (error) {
    case ECONNREFUSED:
        return at + " refused the connection: check the host and port.";
    case ETIMEDOUT:
        return at + " did not accept the connection within " + std::to_string(timeoutMs) +
               " ms: check that it is switched on and connected to the network, and its address.";
    default:
        break;
    }
    if (ConnectErrorState(error) == TTcpState::Unreachable) {
        return at + " cannot be reached (" + std::strerror(error) +
               "): check the network cable and settings of this computer, and the gateway's "
               "address.";
    }
    return "No connection to the gateway at " + TcpEndpointText(host, port) + " could be made (" +
           std::strerror(error) + "): close other programs that use the network and try again.";
}

std::string DropText(const std::string& host, std::uint16_t port, int error) {
    const std::string at = "The gateway at " + TcpEndpointText(host, port);
    if (error == 0) {
        return at +
               " closed the connection: if this repeats, check that it is switched on and that "
               "its idle time-out is longer than the polling interval.";
    }
    return "The connection to the gateway at " + TcpEndpointText(host, port) + " was lost (" +
           std::strerror(error) + "): check the network cable and that the gateway is switched on.";
}
