#include "platform/listen_socket.h"

// On Windows SO_REUSEADDR would let a second program bind the same port and
// take part of its connections; SO_EXCLUSIVEADDRUSE keeps the port ours.
bool ClaimListenAddress(boost::asio::ip::tcp::acceptor *acceptor,
                        boost::system::error_code *error) {
  using ExclusiveAddressUse =
      boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
  acceptor->set_option(ExclusiveAddressUse(true), *error);
  return !*error;
}
