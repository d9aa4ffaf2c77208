#include "host/live/live_routes.h"

namespace torva::host::live {

namespace {

constexpr std::string_view kStreamTarget = "/stream";

// The host part of a Host header: "127.0.0.1" of "127.0.0.1:8080", "::1" of "[::1]:8080".
std::string_view HostName(std::string_view host) {
  if (!host.empty() && host.front() == '[') {
    const auto end = host.find(']');
    return end == std::string_view::npos ? std::string_view() : host.substr(1, end - 1);
  }
  return host.substr(0, host.find(':'));
}

bool LoopbackName(std::string_view name) {
  return name == "localhost" || name == "::1" || name.substr(0, 4) == "127.";
}

std::string_view WithoutQuery(std::string_view target) {
  return target.substr(0, target.find_first_of("?#"));
}

}  // namespace

Route Decide(const RouteRequest& request) {
  if (request.method != "GET") return {RouteKind::kMethodNotAllowed, nullptr};
  const std::string_view path = WithoutQuery(request.target);
  if (!request.upgrade) {
    const PageFile* file = FindPageFile(path);
    return file != nullptr ? Route{RouteKind::kPageFile, file} : Route{RouteKind::kNotFound, nullptr};
  }
  if (path != kStreamTarget) return {RouteKind::kNotFound, nullptr};
  if (request.host.empty() || (request.loopbackOnly && !LoopbackName(HostName(request.host))))
    return {RouteKind::kForbidden, nullptr};
  const std::string_view scheme = "http://";
  const bool ownOrigin = request.origin.size() == scheme.size() + request.host.size() &&
                         request.origin.substr(0, scheme.size()) == scheme &&
                         request.origin.substr(scheme.size()) == request.host;
  return ownOrigin ? Route{RouteKind::kStream, nullptr} : Route{RouteKind::kForbidden, nullptr};
}

}  // namespace torva::host::live
