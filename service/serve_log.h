// One JSON line on stdout per request, never with the client's address.
// Parameter values appear only as their SHA-256: an invite code can name a
// person. A ping's line holds its outcome, reason and detail alone.
#pragma once

#include <string>

#include "service/tag_service.h"

struct RequestLogEntry {
  std::string requestId;
  std::string method;
  std::size_t bytes = 0;  // the body's, which HEAD leaves unsent
  double milliseconds = 0;
  const ServeResponse* response = nullptr;
};

void LogRequest(const RequestLogEntry& entry);
// An event of the service itself: start-up, reload, shutdown.
void LogEvent(const std::string& event, const std::string& detail);
