#include "service/serve_command.h"

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

}  // namespace

int RunServe(int argc, char** argv) {
  const std::string configPath = ConfigPathOf(argc, argv);
  const sigset_t signals = ControlSignals();
  signal(SIGPIPE, SIG_IGN);
  TagService service(configPath, LoadServeState(configPath));
  const ServeConfig& config = service.State()->config;
  HttpServer server(service, config);
  const std::string host = config.listenHost.find(':') == std::string::npos ? config.listenHost : "[" + config.listenHost + "]";
  LogEvent("listening", host + ":" + std::to_string(server.Port()));
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
  server.Drain(limit);
  LogEvent("stopped", "drained");
  return 0;
}
