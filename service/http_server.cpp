#include "service/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

#include <random>
#include <string_view>
#include <thread>

#include "service/serve_log.h"
#include "tools/tag_keys.h"
#include "tools/tool_error.h"

namespace {

struct ListenAddress {
  sockaddr_storage storage{};
  bool ipv6 = false;
};

ListenAddress AddressOf(const ServeConfig& config) {
  ListenAddress address;
  if (inet_pton(AF_INET, config.listenHost.c_str(), &reinterpret_cast<sockaddr_in*>(&address.storage)->sin_addr) == 1) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(config.listenPort);
  } else {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    inet_pton(AF_INET6, config.listenHost.c_str(), &v6->sin6_addr);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(config.listenPort);
    address.ipv6 = true;
  }
  return address;
}

std::string NewRequestId() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  const std::uint64_t id = generator();
  std::uint8_t bytes[8];
  for (int k = 0; k < 8; ++k) bytes[k] = static_cast<std::uint8_t>(id >> (8 * k));
  return HexOf(bytes, sizeof bytes);
}

MHD_Result CollectArgument(void* query, MHD_ValueKind, const char* key, size_t keySize, const char* value,
                           size_t valueSize) {
  // A value may hold a decoded NUL: the sizes keep it, so it fails its
  // pattern instead of cutting the value short.
  static_cast<std::vector<std::pair<std::string, std::string>>*>(query)->emplace_back(
      std::string(key, keySize), value == nullptr ? std::string() : std::string(value, valueSize));
  return MHD_YES;
}

// The response holds a reference to the bytes, which the cache may share,
// until the library has sent them.
void FreeBody(void* body) { delete static_cast<SharedBytes*>(body); }

MHD_Result Send(MHD_Connection* connection, const ServeResponse& response, const std::string& requestId,
                bool closeAfter) {
  static const std::uint8_t kNoBytes = 0;
  auto* body = new SharedBytes(response.body);
  // The library only reads the buffer; its parameter is not const.
  void* bytes = const_cast<std::uint8_t*>(response.body ? response.body->data() : &kNoBytes);
  MHD_Response* reply =
      MHD_create_response_from_buffer_with_free_callback_cls(BodySize(response), bytes, FreeBody, body);
  if (reply == nullptr) {
    FreeBody(body);
    return MHD_NO;
  }
  for (const auto& [name, value] : response.headers) MHD_add_response_header(reply, name.c_str(), value.c_str());
  MHD_add_response_header(reply, "X-Request-Id", requestId.c_str());
  if (closeAfter) MHD_add_response_header(reply, MHD_HTTP_HEADER_CONNECTION, "close");
  const MHD_Result queued = MHD_queue_response(connection, response.status, reply);
  MHD_destroy_response(reply);
  return queued;
}

bool HasBody(MHD_Connection* connection) {
  const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr ||
         (length != nullptr && std::string_view(length) != "0");
}

// The library calls once when the headers are in and again when the body
// is; answering on the second call keeps the connection open for the next
// request. The service takes no bodies: one is refused on the first call,
// which closes the connection after the answer.
MHD_Result HandleRequest(void* serviceAddress, MHD_Connection* connection, const char* url, const char* method,
                         const char*, const char*, size_t*, void** requestState) {
  static int headersSeen;
  if (*requestState == nullptr) {
    *requestState = &headersSeen;
    if (!HasBody(connection)) return MHD_YES;
  }
  const auto start = std::chrono::steady_clock::now();
  auto& service = *static_cast<TagService*>(serviceAddress);
  ServeRequest request;
  request.method = method;
  request.path = url;
  MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, CollectArgument, &request.query);
  if (const char* tag = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH)) {
    request.ifNoneMatch = tag;
  }
  ServeResponse response;
  try {
    response = service.Answer(request);
  } catch (const std::exception&) {
    return MHD_NO;  // closes the connection: out of memory or a fault
  }
  const std::string requestId = NewRequestId();
  const MHD_Result queued = Send(connection, response, requestId, service.Draining());
  LogRequest({requestId, request.method, BodySize(response),
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(), &response});
  return queued;
}

}  // namespace

HttpServer::HttpServer(TagService& service, const ServeConfig& config) : service_(service) {
  const ListenAddress address = AddressOf(config);
  const unsigned threads =
      config.limits.threads != 0 ? config.limits.threads : std::max(1u, std::thread::hardware_concurrency());
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC;
  if (address.ipv6) flags |= MHD_USE_IPv6;
  daemon_ =
      MHD_start_daemon(flags, 0, nullptr, nullptr, HandleRequest, &service, MHD_OPTION_SOCK_ADDR, &address.storage,
                       MHD_OPTION_THREAD_POOL_SIZE, threads, MHD_OPTION_CONNECTION_LIMIT, config.limits.maxConnections,
                       MHD_OPTION_PER_IP_CONNECTION_LIMIT, config.limits.maxConnectionsPerIp,
                       MHD_OPTION_CONNECTION_TIMEOUT, config.limits.timeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                       config.limits.memoryPerConnection, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    throw ToolError(kExitOperationalError,
                    "cannot listen on " + config.listenHost + ":" + std::to_string(config.listenPort));
  }
}

HttpServer::~HttpServer() {
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
}

std::uint16_t HttpServer::Port() const { return MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port; }

unsigned HttpServer::Drain(std::chrono::milliseconds limit) {
  const MHD_socket listening = MHD_quiesce_daemon(daemon_);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const auto open = [this] {
    return MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_CURRENT_CONNECTIONS)->num_connections;
  };
  while (open() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const unsigned cut = open();
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  if (listening != MHD_INVALID_SOCKET) close(listening);
  return cut;
}
