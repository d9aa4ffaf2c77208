// The live server on its own thread with a real WebSocket client: run under the sanitizer builds,
// it shows the hand-over between the server's thread and the program's (ticks, commands,
// published messages) and a stop while a page is still connected.

#include "host/live/live_server.h"

#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <condition_variable>
#include <mutex>

namespace torva::host::live {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr auto kLimit = std::chrono::seconds(30);

TEST(LiveServer, StreamsToAPageTakesItsCommandsAndStopsWithThePageStillConnected) {
  std::string error;
  const auto server = LiveServer::Bind("127.0.0.1", 0, error);
  ASSERT_TRUE(server) << error;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<CommandKind> commands;
  std::vector<std::string> refused;
  std::int64_t frame = 0;
  server->PublishLayout(R"({"type":"layout"})");
  server->Start({[&] {
                   LiveTick tick;
                   tick.view.frame = ++frame;  // only the server's thread ticks
                   return tick;
                 },
                 [&](const LiveCommand& command) {
                   std::lock_guard<std::mutex> lock(mutex);
                   commands.push_back(command.kind);
                   changed.notify_all();
                 },
                 [&](const std::string& text) {
                   std::lock_guard<std::mutex> lock(mutex);
                   refused.push_back(text);
                   changed.notify_all();
                 }});

  asio::io_context io;
  websocket::stream<tcp::socket> page(io);
  const std::string host = "127.0.0.1:" + std::to_string(server->Port());
  page.next_layer().connect({asio::ip::make_address("127.0.0.1"), server->Port()});
  page.set_option(websocket::stream_base::decorator([&](websocket::request_type& request) {
    request.set(beast::http::field::origin, "http://" + host);
  }));
  page.handshake(host, "/stream");
  beast::flat_buffer buffer;
  page.read(buffer);
  EXPECT_EQ(beast::buffers_to_string(buffer.data()), R"({"type":"layout"})");
  buffer.consume(buffer.size());
  server->PublishNotice(NoticeMessage(false, "hello"));
  bool noticed = false;
  for (int message = 0; message < 5 || !noticed; ++message) {
    page.read(buffer);
    const std::string text = beast::buffers_to_string(buffer.data());
    buffer.consume(buffer.size());
    noticed = noticed || text.find("hello") != std::string::npos;
    ASSERT_LT(message, 100) << "no notice among the state messages";
  }

  page.write(asio::buffer(std::string(R"({"command":"record"})")));
  page.write(asio::buffer(std::string("not a command")));
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, kLimit, [&] { return !refused.empty(); }));
    EXPECT_EQ(commands, std::vector<CommandKind>{CommandKind::kRecord});
    EXPECT_EQ(refused, std::vector<std::string>{"not a command"});
  }

  server->Stop();
  beast::error_code closed;
  while (!closed) {
    page.read(buffer, closed);
    buffer.consume(buffer.size());
  }
}

}  // namespace
}  // namespace torva::host::live
