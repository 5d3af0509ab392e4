// The download schedule of the test builds, which meet a bad network within
// seconds: the program's shape (a stall retried once, growing waits, room in
// the budget for a second stall but not a third attempt after it) with bounds
// a test can wait out. Linked ahead of the core library, so the program's own
// schedule is not.
#include "download/download_schedule.h"

constinit const DownloadSchedule kDownloadSchedule{
    .stallMs = 5'000, .abortGraceMs = 2'000, .waitMs = {500, 1'000}, .budgetMs = 14'000};
