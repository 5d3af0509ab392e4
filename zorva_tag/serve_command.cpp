#include "zorva_tag/serve_command.h"

#include <signal.h>

#include <chrono>
#include <string>

#include "service/http_server.h"
#include "service/serve_log.h"
#include "service/tag_service.h"
#include "tools/tool_error.h"

namespace {

std::string ConfigPathOf(int argc, char** argv) {
  if (argc == 4 && std::string(argv[2]) == "--config") return argv[3];
  throw ToolError(kExitUsageError, "serve needs --config FILE and nothing else (zorva-tag --help for usage)");
}

// Blocked in every thread, the service's threads included, so that only the
// main thread's sigwait takes them.
sigset_t ControlSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

// The address as it is reached, with the port the system chose for port 0.
std::string ListenAddressOf(const ServeConfig& config, std::uint16_t port) {
  const bool ipv6 = config.listenHost.find(':') != std::string::npos;
  return (ipv6 ? "[" + config.listenHost + "]" : config.listenHost) + ":" + std::to_string(port);
}

}  // namespace

int RunServe(int argc, char** argv) {
  const std::string configPath = ConfigPathOf(argc, argv);
  const sigset_t signals = ControlSignals();
  signal(SIGPIPE, SIG_IGN);
  TagService service(configPath, LoadServeState(configPath));
  HttpServer server(service, service.State()->config);
  LogEvent("listening", ListenAddressOf(service.State()->config, server.Port()));
  for (;;) {
    int received = 0;
    sigwait(&signals, &received);
    if (received != SIGHUP) break;
    if (const auto refusal = service.Reload()) {
      LogEvent("reload_refused", *refusal + "; the previous config stays in use");
    } else {
      LogEvent("reloaded", configPath);
    }
  }
  service.StartDraining();
  const auto limit = std::chrono::seconds(service.State()->config.limits.timeoutSeconds);
  const unsigned cut = server.Drain(limit);
  LogEvent("stopped", cut == 0 ? "drained" : std::to_string(cut) + " connection(s) still open were closed");
  return 0;
}
