#include "report/http_server.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <thread>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "platform/listen_socket.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ParsePort(std::string_view text, unsigned short *port) {
  if (!AllDigits(text) || text.size() > 5) return false;
  long value = std::stol(std::string(text));
  if (value < 1 || value > 65535) return false;
  *port = static_cast<unsigned short>(value);
  return true;
}

}  // namespace

std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string *error) {
  ListenAddress address;
  std::string_view host, port = text;
  bool hasHost = true;
  if (!text.empty() && text.front() == '[') {
    std::size_t close = text.find("]:");
    if (close == std::string_view::npos) {
      *error = "an IPv6 address is written [ADDRESS]:PORT";
      return std::nullopt;
    }
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else if (std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) {
      *error = "an IPv6 address is written [ADDRESS]:PORT";
      return std::nullopt;
    }
  } else {
    hasHost = false;
  }
  if (!ParsePort(port, &address.port)) {
    *error = "the port must be a number from 1 to 65535";
    return std::nullopt;
  }
  if (hasHost) {
    boost::system::error_code ec;
    net::ip::address parsed = net::ip::make_address(std::string(host), ec);
    // Brackets hold an IPv6 address, and an IPv6 address needs them. An
    // IPv4 address has its four numbers: some systems' parsers would take
    // "1.2.3" as 1.2.0.3.
    bool v4Written = std::count(host.begin(), host.end(), '.') == 3 &&
                     host.find_first_not_of("0123456789.") == std::string_view::npos;
    if (ec || parsed.is_v6() != (text.front() == '[') || (parsed.is_v4() && !v4Written)) {
      *error = "\"" + std::string(host) + "\" is not an IPv4 or [IPv6] address";
      return std::nullopt;
    }
    address.host = std::string(host);
  }
  return address;
}

std::string ListenAddressText(const ListenAddress &address) {
  bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

namespace {

using Clock = std::chrono::steady_clock;

class Session;

// What every connection of a server shares.
struct ServerCore {
  ContentProvider content;
  HttpLimits limits;
  std::atomic<std::size_t> open{0};
  std::atomic<long long> evicted{0};
};

}  // namespace

struct HttpServer::Impl {
  // Counted from the sessions' constructors and destructors, which may run
  // while the io_context below is destroyed: declared before it.
  ServerCore core;
  net::io_context io{1};
  tcp::acceptor acceptor{io};
  net::steady_timer acceptPause{io};
  // The server thread's list of its connections, the oldest first.
  std::list<std::weak_ptr<Session>> sessions;
  std::thread thread;

  void Accept();
  void MakeRoom();
  void CloseAll();
};

namespace {

// One connection: reads a request, answers it, and reads the next while the
// client keeps the connection; every step bounded in time.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, ServerCore *server)
      : stream_(std::move(socket)), server_(server), buffer_(2 * server->limits.maxHeaderBytes) {
    ++server_->open;
  }
  ~Session() { --server_->open; }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  void ReadRequest() {
    waitingSince_ = Clock::now();
    writing_ = false;
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(server_->limits.maxHeaderBytes));
    parser_->body_limit(0);
    stream_.expires_after(server_->limits.requestTimeout);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRequest(ec); });
  }

  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

  bool Writing() const { return writing_; }
  Clock::time_point WaitingSince() const { return waitingSince_; }

 private:
  void OnRequest(beast::error_code ec) {
    if (ec == http::error::header_limit || ec == net::error::no_buffer_space ||
        ec == http::error::buffer_overflow) {
      return Refuse(http::status::request_header_fields_too_large);
    }
    if (ec == http::error::body_limit || ec == http::error::unexpected_body) {
      // A body is never read; for a method other than GET or HEAD (a POST
      // with its data) the method is what is wrong.
      http::verb method = parser_->get().method();
      bool reads = method == http::verb::get || method == http::verb::head;
      return Refuse(reads ? http::status::payload_too_large : http::status::method_not_allowed);
    }
    // A request that is not HTTP; anything else (time-out, end of the
    // connection, a request cut off) ends the connection without a word.
    if (ec && ec.category() == http::make_error_code(http::error::bad_method).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message) {
      return Refuse(http::status::bad_request);
    }
    if (ec) return Close();
    Answer(parser_->get());
  }

  // An answer that ends the connection: the rest of the request is not read.
  void Refuse(http::status status) {
    auto answer = std::make_shared<http::response<http::string_body>>(status, 11);
    answer->set(http::field::content_type, "text/plain; charset=utf-8");
    answer->body() = std::string(answer->reason()) + "\n";
    if (status == http::status::method_not_allowed) answer->set(http::field::allow, "GET, HEAD");
    answer->keep_alive(false);
    answer->prepare_payload();
    Send(answer);
  }

  void Answer(const http::request<http::empty_body> &request) {
    bool head = request.method() == http::verb::head;
    if (request.method() != http::verb::get && !head) {
      auto answer = Plain(http::status::method_not_allowed, request);
      answer->set(http::field::allow, "GET, HEAD");
      return Send(answer);
    }
    std::string_view target(request.target().data(), request.target().size());
    std::string_view path = target.substr(0, target.find_first_of("?#"));
    if (path.empty() || path.front() != '/') {
      return Send(Plain(http::status::bad_request, request));
    }
    std::optional<HttpContent> content = server_->content(path);
    if (!content || !content->body) return Send(Plain(http::status::not_found, request));
    body_ = content->body;  // kept until the answer is written
    if (head) {
      auto answer =
          std::make_shared<http::response<http::empty_body>>(http::status::ok, request.version());
      Headers(answer.get(), request, content->contentType);
      answer->content_length(body_->size());
      return Send(answer);
    }
    auto answer = std::make_shared<http::response<http::span_body<const char>>>(http::status::ok,
                                                                                request.version());
    Headers(answer.get(), request, content->contentType);
    answer->body() = {body_->data(), body_->size()};
    answer->prepare_payload();
    Send(answer);
  }

  template <typename Message>
  void Headers(Message *answer, const http::request<http::empty_body> &request,
               const std::string &contentType) {
    answer->set(http::field::server, "rwstation");
    answer->set(http::field::content_type, contentType);
    // Every answer shows the figures of its moment.
    answer->set(http::field::cache_control, "no-store");
    answer->keep_alive(request.keep_alive());
  }

  // A short text answer (the status's reason); none for HEAD, with its length.
  std::shared_ptr<http::response<http::string_body>> Plain(
      http::status status, const http::request<http::empty_body> &request) {
    auto answer = std::make_shared<http::response<http::string_body>>(status, request.version());
    Headers(answer.get(), request, "text/plain; charset=utf-8");
    std::string text = std::string(answer->reason()) + "\n";
    if (request.method() == http::verb::head) {
      answer->content_length(text.size());
    } else {
      answer->body() = std::move(text);
      answer->prepare_payload();
    }
    return answer;
  }

  template <typename Message>
  void Send(std::shared_ptr<Message> answer) {
    writing_ = true;
    stream_.expires_after(server_->limits.writeTimeout);
    http::async_write(stream_, *answer,
                      [self = shared_from_this(), answer](beast::error_code ec, std::size_t) {
                        self->body_.reset();
                        if (ec || !answer->keep_alive()) return self->Close();
                        self->ReadRequest();
                      });
  }

  beast::tcp_stream stream_;
  ServerCore *server_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::empty_body>> parser_;
  std::shared_ptr<const std::string> body_;
  bool writing_ = false;
  Clock::time_point waitingSince_ = Clock::now();
};

}  // namespace

void HttpServer::Impl::Accept() {
  acceptor.async_accept(io, [this](beast::error_code ec, tcp::socket socket) {
    if (!acceptor.is_open()) return;
    if (ec) {
      // Out of descriptors, most likely: try again a moment later rather
      // than at once and for ever.
      acceptPause.expires_after(std::chrono::milliseconds(100));
      acceptPause.async_wait([this](beast::error_code) { Accept(); });
      return;
    }
    MakeRoom();
    auto session = std::make_shared<Session>(std::move(socket), &core);
    sessions.push_back(session);
    session->ReadRequest();
    Accept();
  });
}

// At the bound, closes the connection that has waited longest for a request
// (one being answered only when none waits), so that a crowd of idle or slow
// clients never locks out a new one.
void HttpServer::Impl::MakeRoom() {
  sessions.remove_if([](const std::weak_ptr<Session> &s) { return s.expired(); });
  if (sessions.size() < core.limits.maxConnections) return;
  std::shared_ptr<Session> oldest;
  for (const auto &weak : sessions) {
    std::shared_ptr<Session> session = weak.lock();
    if (!session) continue;
    bool better = !oldest || (oldest->Writing() && !session->Writing()) ||
                  (oldest->Writing() == session->Writing() &&
                   session->WaitingSince() < oldest->WaitingSince());
    if (better) oldest = session;
  }
  if (!oldest) return;
  oldest->Close();
  ++core.evicted;
  sessions.remove_if([&](const std::weak_ptr<Session> &s) { return s.lock() == oldest; });
}

void HttpServer::Impl::CloseAll() {
  beast::error_code ignored;
  acceptor.close(ignored);
  acceptPause.cancel();
  for (const auto &weak : sessions) {
    if (std::shared_ptr<Session> session = weak.lock()) session->Close();
  }
  sessions.clear();
}

HttpServer::HttpServer(ContentProvider content, HttpLimits limits) : impl_(new Impl) {
  impl_->core.content = std::move(content);
  impl_->core.limits = limits;
}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Listen(const ListenAddress &address, std::string *error) {
  beast::error_code ec;
  net::ip::address ip = net::ip::make_address(address.host, ec);
  if (ec) {
    *error = "\"" + address.host + "\" is not an IPv4 or IPv6 address";
    return false;
  }
  tcp::endpoint endpoint(ip, address.port);
  tcp::acceptor &acceptor = impl_->acceptor;
  const char *step = "open a socket";
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) {
    step = "set the socket's options";
    ClaimListenAddress(&acceptor, &ec);
  }
  if (!ec) {
    step = "bind";
    acceptor.bind(endpoint, ec);
  }
  if (!ec) {
    step = "listen";
    acceptor.listen(net::socket_base::max_listen_connections, ec);
  }
  if (!ec) return true;
  *error = "cannot listen on " + ListenAddressText(address) + " (" + step + "): " + ec.message();
  acceptor.close(ec);
  return false;
}

unsigned short HttpServer::Port() const {
  beast::error_code ec;
  tcp::endpoint endpoint = impl_->acceptor.local_endpoint(ec);
  return ec ? 0 : endpoint.port();
}

void HttpServer::Start() {
  if (impl_->thread.joinable() || !impl_->acceptor.is_open()) return;
  impl_->Accept();
  impl_->thread = std::thread([impl = impl_.get()] { impl->io.run(); });
}

void HttpServer::Stop() {
  if (!impl_->thread.joinable()) {
    impl_->CloseAll();
    return;
  }
  // With every connection and the acceptor closed, their handlers end with
  // an error and the thread runs out of work.
  net::post(impl_->io, [impl = impl_.get()] { impl->CloseAll(); });
  impl_->thread.join();
}

std::size_t HttpServer::OpenConnections() const { return impl_->core.open; }
long long HttpServer::EvictedConnections() const { return impl_->core.evicted; }
