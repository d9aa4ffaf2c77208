#include "host/live/live_server.h"

#include <pthread.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "host/live/live_routes.h"

namespace torva::host::live {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

constexpr std::size_t kHeaderLimit = 8 * 1024;
constexpr std::size_t kBodyLimit = 8 * 1024;
constexpr std::size_t kCommandLimit = 4 * 1024;
constexpr std::size_t kMaxQueuedMessages = 64;
constexpr std::chrono::seconds kRequestTimeout{30};
constexpr std::chrono::seconds kIdleTimeout{60};
constexpr const char* kThreadName = "torva-live";

class StreamSession;

}  // namespace

// Everything on the server's thread: the acceptor, the pages' sessions, the tick.
class LiveServer::Core {
 public:
  Core() : acceptor_(io_), timer_(io_) {}

  asio::io_context io_;
  tcp::acceptor acceptor_;
  asio::steady_timer timer_;
  bool loopbackOnly_ = true;
  LiveServerHandlers handlers_;
  std::vector<std::weak_ptr<StreamSession>> streams_;
  std::size_t upgrading_ = 0;  // upgrades accepted whose session has not registered yet
  std::string layout_;
  std::string trials_;
  std::thread thread_;

  void Accept();
  void Tick();
  std::size_t Clients();
  void Broadcast(const std::string& message);
};

namespace {

using Core = LiveServer::Core;

// One page's WebSocket: writes one message at a time; the newest state message waits beside it.
class StreamSession : public std::enable_shared_from_this<StreamSession> {
 public:
  StreamSession(beast::tcp_stream stream, Core& core) : ws_(std::move(stream)), core_(core) {}

  void Accept(http::request<http::string_body> request) {
    request_ = std::move(request);
    ws_.set_option(websocket::stream_base::timeout{kRequestTimeout, kIdleTimeout, true});
    ws_.read_message_max(kCommandLimit);
    ws_.text(true);
    ws_.async_accept(request_, [self = shared_from_this()](beast::error_code error) {
      --self->core_.upgrading_;
      if (error) return;
      self->core_.streams_.push_back(self);
      self->QueueMessage(self->core_.layout_);
      self->QueueMessage(self->core_.trials_);
      self->Read();
    });
  }

  void QueueState(const LiveTick& tick, std::size_t clients) {
    if (state_) ++lost_;
    state_ = StateMessage(tick, lost_, clients);
    Pump();
  }

  void QueueMessage(const std::string& message) {
    if (message.empty() || closed_) return;
    if (queue_.size() >= kMaxQueuedMessages) {
      queue_.pop_front();
      ++lost_;
    }
    queue_.push_back(message);
    Pump();
  }

  void Close() {
    closed_ = true;
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws_).close();
  }

  bool Closed() const { return closed_; }

 private:
  void Read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (error) {
        self->closed_ = true;
        return;
      }
      const std::string text = beast::buffers_to_string(self->buffer_.data());
      self->buffer_.consume(self->buffer_.size());
      if (const std::optional<LiveCommand> command = ParseCommand(text)) {
        if (self->core_.handlers_.command) self->core_.handlers_.command(*command);
      } else if (self->core_.handlers_.refused) {
        self->core_.handlers_.refused(text);
      }
      self->Read();
    });
  }

  void Pump() {
    if (writing_ || closed_) return;
    if (!queue_.empty()) {
      outgoing_ = std::move(queue_.front());
      queue_.pop_front();
    } else if (state_) {
      outgoing_ = std::move(*state_);
      state_.reset();
    } else {
      return;
    }
    writing_ = true;
    ws_.async_write(asio::buffer(outgoing_),
                    [self = shared_from_this()](beast::error_code error, std::size_t) {
                      self->writing_ = false;
                      if (error) {
                        self->closed_ = true;
                        return;
                      }
                      self->Pump();
                    });
  }

  websocket::stream<beast::tcp_stream> ws_;
  Core& core_;
  http::request<http::string_body> request_;
  beast::flat_buffer buffer_;
  std::deque<std::string> queue_;
  std::optional<std::string> state_;
  std::string outgoing_;
  bool writing_ = false;
  bool closed_ = false;
  std::uint64_t lost_ = 0;
};

// One HTTP connection: reads requests one after the other, answers each, hands a stream upgrade
// over to a StreamSession.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, Core& core) : stream_(std::move(socket)), core_(core) {}

  void Read() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    stream_.expires_after(kRequestTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                       if (error) {
                         beast::error_code ignored;
                         self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
                         return;
                       }
                       self->Answer(self->parser_->release());
                     });
  }

 private:
  void Answer(http::request<http::string_body> request) {
    const auto header = [&](http::field field) {
      const auto found = request.find(field);
      return found == request.end() ? std::string_view()
                                    : std::string_view(found->value().data(), found->value().size());
    };
    const Route route = Decide({std::string_view(request.method_string().data(),
                                                 request.method_string().size()),
                                std::string_view(request.target().data(), request.target().size()),
                                websocket::is_upgrade(request), header(http::field::host),
                                header(http::field::origin), core_.loopbackOnly_});
    switch (route.kind) {
      case RouteKind::kPageFile:
        return Send(request, http::status::ok,
                    std::string(route.file->contentType) + "; charset=utf-8", route.file->body);
      case RouteKind::kStream:
        if (core_.Clients() >= LiveServer::kMaxClients) {
          return Send(request, http::status::service_unavailable, "text/plain; charset=utf-8",
                      "Too many pages are watching: at most 8 at once. Close one and reload.\n");
        }
        ++core_.upgrading_;
        stream_.expires_never();
        std::make_shared<StreamSession>(std::move(stream_), core_)->Accept(std::move(request));
        return;
      case RouteKind::kForbidden:
        return Send(request, http::status::forbidden, "text/plain; charset=utf-8",
                    "Only the page this program serves may open its stream.\n");
      case RouteKind::kMethodNotAllowed:
        return Send(request, http::status::method_not_allowed, "text/plain; charset=utf-8",
                    "Only GET is served.\n");
      case RouteKind::kNotFound:
        return Send(request, http::status::not_found, "text/plain; charset=utf-8",
                    "Not found.\n");
    }
  }

  void Send(const http::request<http::string_body>& request, http::status status,
            const std::string& type, std::string_view body) {
    auto response = std::make_shared<http::response<http::string_body>>(status, request.version());
    response->set(http::field::server, "torva-host");
    response->set(http::field::content_type, type);
    response->set(http::field::cache_control, "no-store");
    response->set("X-Content-Type-Options", "nosniff");
    response->set("X-Frame-Options", "DENY");
    response->keep_alive(request.keep_alive() && status == http::status::ok);
    response->body() = std::string(body);
    response->prepare_payload();
    http::async_write(stream_, *response,
                      [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                        if (error || !response->keep_alive()) {
                          beast::error_code ignored;
                          self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
                          return;
                        }
                        self->Read();
                      });
  }

  beast::tcp_stream stream_;
  Core& core_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

}  // namespace

void LiveServer::Core::Accept() {
  acceptor_.async_accept([this](beast::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted || !acceptor_.is_open()) return;
    if (!error) std::make_shared<HttpSession>(std::move(socket), *this)->Read();
    Accept();
  });
}

std::size_t LiveServer::Core::Clients() {
  std::vector<std::weak_ptr<StreamSession>> open;
  for (const auto& weak : streams_)
    if (const auto stream = weak.lock(); stream && !stream->Closed()) open.push_back(weak);
  streams_.swap(open);
  return streams_.size() + upgrading_;
}

void LiveServer::Core::Tick() {
  // Evenly spaced ticks; after a pause (a stopped process, a busy machine) the next comes one
  // interval from now rather than a burst catching up.
  const auto now = asio::steady_timer::clock_type::now();
  timer_.expires_at(std::max(timer_.expiry() + kTickInterval, now));
  timer_.async_wait([this](beast::error_code error) {
    if (error) return;
    const std::size_t clients = Clients();
    if (!streams_.empty() && handlers_.tick) {
      const LiveTick tick = handlers_.tick();
      for (const auto& weak : streams_)
        if (const auto stream = weak.lock()) stream->QueueState(tick, clients);
    }
    Tick();
  });
}

void LiveServer::Core::Broadcast(const std::string& message) {
  for (const auto& weak : streams_)
    if (const auto stream = weak.lock()) stream->QueueMessage(message);
}

std::unique_ptr<LiveServer> LiveServer::Bind(const std::string& address, std::uint16_t port,
                                             std::string& error) {
  auto core = std::make_unique<Core>();
  beast::error_code code;
  const asio::ip::address ip = asio::ip::make_address(address, code);
  if (code) {
    error = "--listen " + address + ": not an IP address";
    return nullptr;
  }
  const tcp::endpoint endpoint(ip, port);
  core->acceptor_.open(endpoint.protocol(), code);
  if (!code) core->acceptor_.set_option(asio::socket_base::reuse_address(true), code);
  if (!code) core->acceptor_.bind(endpoint, code);
  if (!code) core->acceptor_.listen(asio::socket_base::max_listen_connections, code);
  if (code) {
    error = "cannot listen on " + address + " port " + std::to_string(port) + ": " +
            code.message();
    return nullptr;
  }
  core->loopbackOnly_ = ip.is_loopback();
  return std::unique_ptr<LiveServer>(new LiveServer(std::move(core)));
}

LiveServer::LiveServer(std::unique_ptr<Core> core) : core_(std::move(core)) {}

LiveServer::~LiveServer() { Stop(); }

std::uint16_t LiveServer::Port() const { return core_->acceptor_.local_endpoint().port(); }

bool LiveServer::LoopbackOnly() const { return core_->loopbackOnly_; }

void LiveServer::Start(LiveServerHandlers handlers) {
  core_->handlers_ = std::move(handlers);
  core_->Accept();
  core_->timer_.expires_after(kTickInterval);
  core_->Tick();
  core_->thread_ = std::thread([core = core_.get()] {
    pthread_setname_np(pthread_self(), kThreadName);
    core->io_.run();
  });
}

void LiveServer::Stop() {
  if (!core_->thread_.joinable()) return;
  // The sessions still open go with the io_context, which the core destroys last.
  asio::post(core_->io_, [core = core_.get()] {
    beast::error_code ignored;
    core->acceptor_.close(ignored);
    core->timer_.cancel();
    for (const auto& weak : core->streams_)
      if (const auto stream = weak.lock()) stream->Close();
    core->io_.stop();
  });
  core_->thread_.join();
}

void LiveServer::PublishLayout(std::string message) {
  asio::post(core_->io_, [core = core_.get(), message = std::move(message)] {
    core->layout_ = message;
    core->Broadcast(message);
  });
}

void LiveServer::PublishTrials(std::string message) {
  asio::post(core_->io_, [core = core_.get(), message = std::move(message)] {
    core->trials_ = message;
    core->Broadcast(message);
  });
}

void LiveServer::PublishNotice(std::string message) {
  asio::post(core_->io_, [core = core_.get(), message = std::move(message)] { core->Broadcast(message); });
}

}  // namespace torva::host::live
