#pragma once
// The canvas's web server: HTTP for the page's files and one WebSocket per
// open page, from libwebsockets on the host's event loop through UvNest
// (uv_nest.h says why three loops nest, and how every call into
// libwebsockets goes). The host listens itself, on the address of --web,
// and hands each accepted connection to libwebsockets, which parses HTTP
// and frames WebSocket messages; this class applies the Gate's rules to
// every request, serves the embedded assets, and passes whole WebSocket
// messages to and from the PageHost. Malformed HTTP or WebSocket input
// closes that connection only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "loop/reactor.h"
#include "unique_fd.h"
#include "web/gate.h"
#include "web/uv_nest.h"

struct lws;
struct lws_context;
struct lws_vhost;

namespace host {

/// What serves the open pages; the server only carries their messages.
class PageHost {
 public:
  virtual ~PageHost() = default;
  /// A page has connected. `wake` asks for next_message() once the page
  /// can take a message (now or later); it may be called at any time
  /// until close_page().
  virtual std::uint64_t open_page(std::function<void()> wake) = 0;
  /// A whole text message from the page; false when it is malformed, which
  /// closes the page.
  virtual bool receive(std::uint64_t page, std::string_view message) = 0;
  /// Appends the next message for the page to `out`; false when none is
  /// due now.
  virtual bool next_message(std::uint64_t page, std::string& out) = 0;
  virtual void close_page(std::uint64_t page) = 0;
};

struct WebLimits {
  /// The longest WebSocket message taken from a page.
  std::size_t max_message = 8u << 20;
  /// True when one more connection leaves the host's descriptor margin
  /// free; until it is, new connections wait in the backlog. Empty: always.
  std::function<bool()> room;
};

class WebServer {
 public:
  /// Listens on `address` (port 0: any free one). Throws std::runtime_error
  /// with a message for the user when it cannot.
  WebServer(Reactor& reactor, const WebAddress& address, std::string key, PageHost& pages, WebLimits limits = {});
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  /// The address with its real port, and the key.
  const Gate& gate() const { return gate_; }
  /// The connections open now, each a descriptor.
  std::size_t connections() const { return connections_; }
  /// "http://ADDR:PORT/#key=KEY": what the person opens (and may bookmark).
  std::string url() const { return gate_.served().origin() + "/#key=" + gate_.key(); }

 private:
  friend struct WebCallbacks;
  struct Session;

  /// libwebsockets' callback `reason` (an lws_callback_reasons) for `wsi`.
  int on_event(lws* wsi, int reason, void* user, void* in, std::size_t len);
  void accept_clients();
  /// Stops accepting for a moment: no descriptor is to spare.
  void rest_listener();
  /// Makes libwebsockets' context on the nested loop, with one virtual host
  /// that takes the adopted connections. Throws std::runtime_error.
  void create_context();
  /// Closes every connection and frees libwebsockets' context.
  void close_context();
  int on_http(lws* wsi, std::string_view path);
  int on_upgrade(lws* wsi);
  /// A WebSocket is open: its page is opened, and asks for writes by itself.
  int on_established(lws* wsi);
  int on_receive(lws* wsi, Session& session, const char* data, std::size_t size);
  int on_writeable(lws* wsi, Session& session);
  /// Applies the gate to a WebSocket: Host, Origin, then the key.
  bool admitted(lws* wsi);

  Reactor& reactor_;
  Gate gate_;
  PageHost& pages_;
  WebLimits limits_;
  os::UniqueFd listener_;
  Reactor::Watch listener_watch_;
  UvNest nest_;
  lws_context* context_ = nullptr;
  lws_vhost* vhost_ = nullptr;
  /// The open pages' WebSockets.
  std::unordered_map<lws*, std::unique_ptr<Session>> sessions_;
  std::size_t connections_ = 0;
  /// The timer of a resting listener; 0 while it listens.
  Timers::Id rest_timer_ = 0;
};

}  // namespace host
