// The HTTP edge, on libmicrohttpd: a pool of threads, one epoll loop each,
// with the library bounding connections (in all and per address), the
// memory of each (which bounds the request line and headers) and the time a
// client may idle. Each request goes to the TagService as plain values.
#pragma once

#include <chrono>
#include <cstdint>

#include "service/serve_config.h"
#include "service/tag_service.h"

struct MHD_Daemon;

class HttpServer {
 public:
  // Throws ToolError (operational) when it cannot listen.
  HttpServer(TagService& service, const ServeConfig& config);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  std::uint16_t Port() const;
  // Takes no new connection and gives those open up to `limit` to finish;
  // returns how many were still open when it stopped.
  unsigned Drain(std::chrono::milliseconds limit);

 private:
  TagService& service_;
  MHD_Daemon* daemon_ = nullptr;
};
