#pragma once
// Which answer a request to the live server gets, decided from the request's line and headers
// alone: the page and its assets by name, the stream for a WebSocket upgrade of /stream from the
// page's own origin, 404 for anything else.
//
// Only the page the program serves may open the stream: a browser names the page a script comes
// from in the upgrade's Origin, so a page from elsewhere open in the same browser is refused
// (403). When the server listens on a loopback address, the Host the browser used must be a
// loopback name too, so that a foreign name made to point at 127.0.0.1 (DNS rebinding) gains
// nothing.
//
// Threads: none; plain functions.

#include <string>
#include <string_view>

namespace torva::host::live {

// A file of the page, built into the program.
struct PageFile {
  std::string_view path;  // "/", "/live.js", ...
  std::string_view contentType;  // all of them UTF-8 text
  std::string_view body;
};

// The page file served at `target` (its query, if any, ignored); null when there is none.
const PageFile* FindPageFile(std::string_view target);

enum class RouteKind {
  kPageFile,          // 200 with the file
  kStream,            // accept the WebSocket
  kNotFound,          // 404
  kForbidden,         // 403: an upgrade from another origin or for a foreign host name
  kMethodNotAllowed,  // 405: not GET
};

struct RouteRequest {
  std::string_view method;
  std::string_view target;
  bool upgrade = false;
  std::string_view host;    // the Host header
  std::string_view origin;  // the Origin header ("" when absent)
  bool loopbackOnly = true;  // the server listens on a loopback address
};

struct Route {
  RouteKind kind = RouteKind::kNotFound;
  const PageFile* file = nullptr;  // kPageFile
};

Route Decide(const RouteRequest& request);

}  // namespace torva::host::live
