// The floor of the tagging service's unique-tag rate: the least a server on
// the same HTTP library can do for each request and still answer a new tag.
// It signs a fresh 767-byte payload (the request's query in zeros) with
// OpenSSL as the service's PEM signer does, and answers the base file's
// bytes followed by a 1024-byte tail (a byte, the signature, the payload),
// with the service's threads and event loop. It places nothing, checks
// nothing, caches nothing and logs nothing. Like the service, it answers
// from one buffer: libmicrohttpd 0.9.75 sends a vectored body in writes of
// its own after the headers, which costs more than the copy of 45 KB.
//
// Usage: serve_floor PORT PRIVATE.pem BASE-FILE THREADS
// Answers until SIGTERM or SIGINT.
#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr std::size_t kPayloadSize = 767;
constexpr std::size_t kSignatureSize = 256;
constexpr std::size_t kTailSize = 1 + kSignatureSize + kPayloadSize;

struct Floor {
  EVP_PKEY* key;
  std::vector<unsigned char> base;
};

using Answer = std::vector<unsigned char>;

MHD_Result AppendArgument(void* payload, MHD_ValueKind, const char* key, const char* value) {
  auto& text = *static_cast<std::string*>(payload);
  text.append(key).append("=").append(value == nullptr ? "" : value).append("&");
  return MHD_YES;
}

bool Sign(EVP_PKEY* key, const unsigned char* message, unsigned char* signature) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  std::size_t size = kSignatureSize;
  const bool signed_ = context != nullptr && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                       EVP_DigestSign(context, signature, &size, message, kPayloadSize) == 1 && size == kSignatureSize;
  EVP_MD_CTX_free(context);
  return signed_;
}

void FreeAnswer(void* answer) { delete static_cast<Answer*>(answer); }

MHD_Result Respond(void* floorAddress, MHD_Connection* connection, const char*, const char*, const char*,
                  const char*, size_t*, void** requestState) {
  static int headersSeen;
  if (*requestState == nullptr) {
    *requestState = &headersSeen;
    return MHD_YES;
  }
  const Floor& floor = *static_cast<const Floor*>(floorAddress);
  std::string query;
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, AppendArgument, &query);
  auto* answer = new Answer(floor.base);
  answer->resize(floor.base.size() + kTailSize);
  unsigned char* tail = answer->data() + floor.base.size();
  tail[0] = 1;
  std::memcpy(tail + 1 + kSignatureSize, query.data(), std::min(query.size(), kPayloadSize));
  if (!Sign(floor.key, tail + 1 + kSignatureSize, tail + 1)) {
    FreeAnswer(answer);
    return MHD_NO;
  }
  MHD_Response* response =
      MHD_create_response_from_buffer_with_free_callback_cls(answer->size(), answer->data(), FreeAnswer, answer);
  if (response == nullptr) {
    FreeAnswer(answer);
    return MHD_NO;
  }
  const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return queued;
}

volatile std::sig_atomic_t stopping = 0;
void Stop(int) { stopping = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: serve_floor PORT PRIVATE.pem BASE-FILE THREADS\n");
    return 2;
  }
  FILE* keyFile = std::fopen(argv[2], "r");
  EVP_PKEY* key = keyFile != nullptr ? PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr) : nullptr;
  if (keyFile != nullptr) std::fclose(keyFile);
  std::ifstream baseFile(argv[3], std::ios::binary);
  Floor floor{key, {std::istreambuf_iterator<char>(baseFile), {}}};
  if (key == nullptr || !baseFile) {
    std::fprintf(stderr, "serve_floor: cannot read the key or the base file\n");
    return 1;
  }
  std::signal(SIGTERM, Stop);
  std::signal(SIGINT, Stop);
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  MHD_Daemon* daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC, 0, nullptr, nullptr, Respond, &floor,
      MHD_OPTION_SOCK_ADDR, &loopback, MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(std::atoi(argv[4])),
      MHD_OPTION_CONNECTION_LIMIT, 1024u, MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_END);
  if (daemon == nullptr) {
    std::fprintf(stderr, "serve_floor: cannot listen\n");
    return 1;
  }
  while (stopping == 0) pause();
  MHD_stop_daemon(daemon);
  EVP_PKEY_free(key);
  return 0;
}
