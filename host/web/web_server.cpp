#include "web/web_server.h"

#include <arpa/inet.h>
#include <libwebsockets.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "loop/log.h"
#include "os_error.h"
#include "web/assets.h"

namespace host {
namespace {

constexpr const char* kProtocol = "welkmora-canvas";
constexpr std::string_view kSocketPath = "/ws";
/// The largest send buffer a page keeps between messages.
constexpr std::size_t kKeptBuffer = 1u << 20;
/// Most messages written to a page at one time it can take them.
constexpr int kMessagesPerWrite = 32;
/// How long the listener rests when no descriptor is to spare.
constexpr std::chrono::milliseconds kListenerRest{100};

/// Headers of every answer that carries content.
constexpr std::pair<const char*, const char*> kPageHeaders[] = {
    {"content-security-policy:", "default-src 'self'"},
    {"x-content-type-options:", "nosniff"},
    {"x-frame-options:", "DENY"},
    {"referrer-policy:", "no-referrer"},
    {"cache-control:", "no-store"},
};

os::UniqueFd listen_socket(WebAddress& address) {
  sockaddr_storage storage{};
  socklen_t size;
  if (address.v6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(address.port);
    ::inet_pton(AF_INET6, address.ip.c_str(), &in6->sin6_addr);
    size = sizeof *in6;
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(address.port);
    ::inet_pton(AF_INET, address.ip.c_str(), &in4->sin_addr);
    size = sizeof *in4;
  }
  auto* addr = reinterpret_cast<sockaddr*>(&storage);
  os::UniqueFd fd(::socket(addr->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  int on = 1;
  if (!fd || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd.get(), addr, size) != 0 || ::listen(fd.get(), 64) != 0 || ::getsockname(fd.get(), addr, &size) != 0) {
    throw std::runtime_error("cannot serve the canvas on " + address.authority() + ": " + os::error_text(errno));
  }
  address.port = ntohs(address.v6 ? reinterpret_cast<sockaddr_in6*>(addr)->sin6_port
                                  : reinterpret_cast<sockaddr_in*>(addr)->sin_port);
  return fd;
}

/// Header `token` of the request, empty when absent or too long.
std::string header(lws* wsi, lws_token_indexes token) {
  int length = lws_hdr_total_length(wsi, token);
  if (length <= 0 || length > 4096) return {};
  std::string value(static_cast<std::size_t>(length) + 1, '\0');
  if (lws_hdr_copy(wsi, value.data(), length + 1, token) != length) return {};
  value.resize(static_cast<std::size_t>(length));
  return value;
}

/// Builds the headers of one answer and writes them.
class Headers {
 public:
  Headers(lws* wsi, unsigned status) : wsi_(wsi) { ok_ = lws_add_http_header_status(wsi, status, &p_, end_) == 0; }

  Headers& add(const char* name, std::string_view value) {
    ok_ = ok_ && lws_add_http_header_by_name(wsi_, reinterpret_cast<const unsigned char*>(name),
                                             reinterpret_cast<const unsigned char*>(value.data()),
                                             static_cast<int>(value.size()), &p_, end_) == 0;
    return *this;
  }
  Headers& length(std::size_t bytes) {
    ok_ = ok_ && lws_add_http_header_content_length(wsi_, bytes, &p_, end_) == 0;
    return *this;
  }
  /// False when they did not fit or could not be written.
  bool send() { return ok_ && lws_finalize_write_http_header(wsi_, start_, &p_, end_) == 0; }

 private:
  lws* wsi_;
  bool ok_;
  unsigned char buf_[LWS_PRE + 2048];
  unsigned char* start_ = buf_ + LWS_PRE;
  unsigned char* p_ = start_;
  unsigned char* end_ = buf_ + sizeof buf_ - 1;
};

/// Ends an answer: the connection is kept for the next request, or closed.
int completed(lws* wsi) { return lws_http_transaction_completed(wsi) != 0 ? -1 : 0; }

/// Answers `status` (403 Forbidden, 404 Not Found, ...) and nothing else.
int refuse(lws* wsi, unsigned status) {
  if (!Headers(wsi, status).length(0).send()) return -1;
  return completed(wsi);
}

void log_line(int level, const char* line) {
  std::string_view text(line);
  while (text.ends_with('\n')) text.remove_suffix(1);
  if (level & LLL_ERR) report("canvas server: " + std::string(text));
}

}  // namespace

/// A WebSocket's state, behind libwebsockets' per-session pointer.
struct WebServer::Session {
  std::uint64_t page = 0;
  /// The message being received, until its last fragment.
  std::string incoming;
  /// The message being sent, after libwebsockets' headroom.
  std::string outgoing;
};

/// libwebsockets' callback, with the server as the context's user data.
/// Nothing may be thrown through libwebsockets: a failure closes the
/// connection it came from.
struct WebCallbacks {
  static int callback(lws* wsi, lws_callback_reasons reason, void* user, void* in, std::size_t len) {
    auto* server = static_cast<WebServer*>(lws_context_user(lws_get_context(wsi)));
    try {
      return server->on_event(wsi, reason, user, in, len);
    } catch (const std::exception& e) {
      report(std::string("canvas server: ") + e.what());
      return -1;
    } catch (...) {
      return -1;
    }
  }
};

int WebServer::on_event(lws* wsi, int reason, void* user, void* in, std::size_t len) {
  // What a callback asks of libwebsockets (an answer written, the next
  // message wanted) may make libuv watch a socket for more, so those that
  // ask anything run through with_lws(); the others only read what
  // libwebsockets hands over.
  switch (reason) {
    case LWS_CALLBACK_HTTP:
      return nest_.with_lws([&] { return on_http(wsi, std::string_view(static_cast<const char*>(in))); });
    case LWS_CALLBACK_HTTP_CONFIRM_UPGRADE: return nest_.with_lws([&] { return on_upgrade(wsi); });
    case LWS_CALLBACK_ESTABLISHED: return nest_.with_lws([&] { return on_established(wsi); });
    case LWS_CALLBACK_RECEIVE: {
      auto it = sessions_.find(wsi);
      return it == sessions_.end() ? -1 : on_receive(wsi, *it->second, static_cast<const char*>(in), len);
    }
    case LWS_CALLBACK_SERVER_WRITEABLE: {
      auto it = sessions_.find(wsi);
      return nest_.with_lws([&] { return it == sessions_.end() ? -1 : on_writeable(wsi, *it->second); });
    }
    // Every connection, HTTP or WebSocket, from adoption to its end.
    case LWS_CALLBACK_WSI_CREATE: ++connections_; return 0;
    case LWS_CALLBACK_WSI_DESTROY:
      if (connections_ > 0) --connections_;
      return 0;
    case LWS_CALLBACK_CLOSED:
      if (auto it = sessions_.find(wsi); it != sessions_.end()) {
        pages_.close_page(it->second->page);
        sessions_.erase(it);
      }
      return 0;
    default: return lws_callback_http_dummy(wsi, static_cast<lws_callback_reasons>(reason), user, in, len);
  }
}

namespace {

const lws_protocols kProtocols[] = {
    {kProtocol, &WebCallbacks::callback, 0, 0, 0, nullptr, 0},
    {nullptr, nullptr, 0, 0, 0, nullptr, 0},
};

}  // namespace

WebServer::WebServer(Reactor& reactor, const WebAddress& address, std::string key, PageHost& pages, WebLimits limits)
    : reactor_(reactor), gate_(address, std::move(key)), pages_(pages), limits_(limits), nest_(reactor) {
  WebAddress bound = address;
  listener_ = listen_socket(bound);
  gate_ = Gate(bound, gate_.key());
  lws_set_log_level(LLL_ERR, log_line);

  nest_.with_lws([&] { create_context(); });
  listener_watch_ = Reactor::Watch(reactor_, listener_.get(), POLLIN, [this](unsigned) { accept_clients(); });
}

void WebServer::create_context() {
  lws_context_creation_info info{};
  void* loops[] = {nest_.loop()};
  info.options = LWS_SERVER_OPTION_LIBUV | LWS_SERVER_OPTION_EXPLICIT_VHOSTS | LWS_SERVER_OPTION_VALIDATE_UTF8 |
                 LWS_SERVER_OPTION_UV_NO_SIGSEGV_SIGFPE_SPIN;
  info.foreign_loops = loops;
  info.user = this;
  info.pcontext = &context_;
  context_ = lws_create_context(&info);
  if (context_ == nullptr) {
    throw std::runtime_error(
        "cannot start the canvas server (libwebsockets with its libuv plugin, "
        "libwebsockets-evlib-uv, is needed)");
  }
  lws_context_creation_info vhost{};
  vhost.port = CONTEXT_PORT_NO_LISTEN_SERVER;
  vhost.protocols = kProtocols;
  vhost.max_http_header_data = 8192;
  vhost.options = info.options;
  vhost_ = lws_create_vhost(context_, &vhost);
  if (vhost_ == nullptr) {
    close_context();
    throw std::runtime_error("cannot start the canvas server: no virtual host");
  }
}

WebServer::~WebServer() {
  reactor_.timers().cancel(rest_timer_);
  listener_watch_.reset();
  close_context();
}

void WebServer::close_context() {
  // On a loop of its own libwebsockets finishes closing in the loop's
  // callbacks, and a second call frees what is left; it clears context_
  // once all is gone.
  lws_context_destroy(context_);
  nest_.drain();
  if (context_ != nullptr) lws_context_destroy(context_);
  nest_.drain();
}

void WebServer::accept_clients() {
  for (;;) {
    if (limits_.room && !limits_.room()) return rest_listener();
    int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE) return rest_listener();
      return;  // EAGAIN: all accepted
    }
    // Frames are small and each matters at once (a reply, then the screen
    // with the key's echo): none waits for the acknowledgement of the last.
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // libwebsockets owns the descriptor from here, and closes it on failure.
    nest_.with_lws([&] { lws_adopt_socket_vhost(vhost_, fd); });
  }
}

void WebServer::rest_listener() {
  // The clients stay queued in the backlog while the listener rests,
  // rather than waking every round at once.
  if (rest_timer_ != 0) return;
  listener_watch_.set_events(0);
  rest_timer_ = reactor_.timers().at(Clock::now() + kListenerRest, [this] {
    rest_timer_ = 0;
    listener_watch_.set_events(POLLIN);
  });
}

bool WebServer::admitted(lws* wsi) {
  return gate_.host_ok(header(wsi, WSI_TOKEN_HOST)) && gate_.origin_ok(header(wsi, WSI_TOKEN_ORIGIN)) &&
         gate_.protocols_ok(header(wsi, WSI_TOKEN_PROTOCOL));
}

int WebServer::on_http(lws* wsi, std::string_view path) {
  // The page's files hold no data: only the Host is checked, so that a
  // foreign name (DNS rebinding) gets nothing at all.
  if (!gate_.host_ok(header(wsi, WSI_TOKEN_HOST))) return refuse(wsi, HTTP_STATUS_FORBIDDEN);
  if (lws_hdr_total_length(wsi, WSI_TOKEN_GET_URI) <= 0) return refuse(wsi, HTTP_STATUS_METHOD_NOT_ALLOWED);
  const Asset* asset = find_asset(path);
  if (asset == nullptr) return refuse(wsi, HTTP_STATUS_NOT_FOUND);
  Headers headers(wsi, HTTP_STATUS_OK);
  headers.add("content-type:", asset->type).length(asset->body.size());
  for (auto [name, value] : kPageHeaders) headers.add(name, value);
  if (!headers.send()) return -1;
  // libwebsockets keeps what the socket does not take now and sends it on.
  std::string body(LWS_PRE, '\0');
  body.append(asset->body);
  auto* start = reinterpret_cast<unsigned char*>(body.data()) + LWS_PRE;
  if (lws_write(wsi, start, asset->body.size(), LWS_WRITE_HTTP_FINAL) < 0) return -1;
  return completed(wsi);
}

int WebServer::on_established(lws* wsi) {
  auto session = std::make_unique<Session>();
  session->page = pages_.open_page([this, wsi] { nest_.with_lws([wsi] { lws_callback_on_writable(wsi); }); });
  sessions_[wsi] = std::move(session);
  lws_callback_on_writable(wsi);
  return 0;
}

int WebServer::on_upgrade(lws* wsi) {
  if (header(wsi, WSI_TOKEN_GET_URI) == kSocketPath && admitted(wsi)) return 0;
  // Answered here; libwebsockets ends the transaction.
  return Headers(wsi, HTTP_STATUS_FORBIDDEN).length(0).send() ? 1 : -1;
}

int WebServer::on_receive(lws* wsi, Session& session, const char* data, std::size_t size) {
  if (lws_frame_is_binary(wsi) != 0 || session.incoming.size() + size > limits_.max_message) return -1;
  session.incoming.append(data, size);
  if (lws_is_final_fragment(wsi) == 0 || lws_remaining_packet_payload(wsi) > 0) return 0;
  std::string message = std::exchange(session.incoming, {});
  return pages_.receive(session.page, message) ? 0 : -1;
}

int WebServer::on_writeable(lws* wsi, Session& session) {
  // As many messages as the socket takes now, a bounded number; what it
  // does not take of the last one libwebsockets keeps and sends first.
  std::string& out = session.outgoing;
  for (int sent = 0; sent < kMessagesPerWrite && lws_send_pipe_choked(wsi) == 0; ++sent) {
    out.assign(LWS_PRE, '\0');
    if (!pages_.next_message(session.page, out)) return 0;
    auto* start = reinterpret_cast<unsigned char*>(out.data()) + LWS_PRE;
    if (lws_write(wsi, start, out.size() - LWS_PRE, LWS_WRITE_TEXT) < 0) return -1;
  }
  if (out.capacity() > kKeptBuffer) std::string().swap(out);  // assigning would keep the allocation
  lws_callback_on_writable(wsi);
  return 0;
}

}  // namespace host
