// The socket option a listening socket of the station's HTTP server needs
// on each platform: it must fail to bind a port that another program
// listens on, yet bind at once when the station is started again while
// connections of its last run linger in TIME_WAIT.
#pragma once

#include <boost/asio/ip/tcp.hpp>

// Sets the option on an open acceptor; false with `error` set when it could
// not.
bool ClaimListenAddress(boost::asio::ip::tcp::acceptor *acceptor, boost::system::error_code *error);
