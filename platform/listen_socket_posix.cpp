#include "platform/listen_socket.h"

// SO_REUSEADDR on POSIX: binds beside connections in TIME_WAIT, never beside
// another listener.
bool ClaimListenAddress(boost::asio::ip::tcp::acceptor *acceptor,
                        boost::system::error_code *error) {
  acceptor->set_option(boost::asio::socket_base::reuse_address(true), *error);
  return !*error;
}
