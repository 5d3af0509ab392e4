#include "download/download_schedule.h"

// A blip (a reset connection, a Wi-Fi handover, an edge server's 503) has
// mostly cleared after 2 s; a loaded server gets 5 s more. An offline
// machine, whose attempts fail at once, thus shows the failure texts after
// about 7 s. A stall is retried only once, so a server that stops sending
// shows them after 30 + 2 + 30 s, and after at most 72 s should an abort not
// take (30 + 2 + 30 + 10). The budget holds any other mix of faults on a dead
// network to 75 s.
constinit const DownloadSchedule kDownloadSchedule{.stallMs = 30'000,
                                                   .abortGraceMs = 10'000,
                                                   .waitMs = {2'000, 5'000},
                                                   .budgetMs = 75'000};
