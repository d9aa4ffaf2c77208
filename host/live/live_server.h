#pragma once
// The live view's web server: serves the page and streams state messages to at most
// kMaxClients pages over WebSockets (/stream), about 30 a second, and hands the pages' commands
// on. Built on Boost.Beast and Boost.Asio, on a thread of its own.
//
// A page that does not keep up loses state messages (counted, and told in its next message),
// never holds up anything else: each page has at most one state message waiting beside the one
// being written, and a bounded queue of the other messages. Requests are bounded in size and time.
//
// Threads: Bind, Start, Stop and the Publish calls from the program's main thread; the handlers
// are called on the server's thread. Life cycle: Bind (before anything else starts, so that a
// port in use ends the program at once), Start, Stop (also by the destructor).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/live/live_messages.h"

namespace torva::host::live {

struct LiveServerHandlers {
  std::function<LiveTick()> tick;                   // what the next state messages show
  std::function<void(const LiveCommand&)> command;  // a command from a page
  std::function<void(const std::string&)> refused;  // a message from a page that is no command
};

class LiveServer {
 public:
  static constexpr std::size_t kMaxClients = 8;
  static constexpr std::chrono::milliseconds kTickInterval{33};

  // Listens on address:port (port 0: any free port); null, with `error` saying why, when it
  // cannot.
  static std::unique_ptr<LiveServer> Bind(const std::string& address, std::uint16_t port,
                                          std::string& error);
  ~LiveServer();
  LiveServer(const LiveServer&) = delete;
  LiveServer& operator=(const LiveServer&) = delete;

  std::uint16_t Port() const;
  // Whether it listens on a loopback address (this machine only).
  bool LoopbackOnly() const;
  void Start(LiveServerHandlers handlers);
  void Stop();

  // The layout and trials messages go to every page now and to each page that connects later;
  // a notice goes to the pages connected now.
  void PublishLayout(std::string message);
  void PublishTrials(std::string message);
  void PublishNotice(std::string message);

  class Core;

 private:
  explicit LiveServer(std::unique_ptr<Core> core);
  std::unique_ptr<Core> core_;
};

}  // namespace torva::host::live
