// The run ping's Win32 edge: the machine's facts, drawn for the ping alone,
// and its one GET on a thread of its own.
#pragma once

#include "download/run_ping.h"

// How long a ping may take in all, from its start to the process's end.
inline constexpr unsigned kRunPingMs = 3000;

// Start-up, before the worker starts: where the run is reported, and the
// tag's texts language (either may be null). Without a ping URL nothing is
// ever loaded, gathered or sent for a ping.
void PrepareRunPing(const char* pingUrl, const char* tagLanguage);

// The run has ended as `end` says: its ping starts on a thread of its own,
// unless one started already. Any thread; it returns at once. With
// `reportFinal` false the worker may still write the report: the ping reads
// it only once FinishRunReport has been called.
void SendRunPing(RunEnd end, bool reportFinal = true);

// Nothing writes the report any more.
void FinishRunReport();

// Before the process ends: waits for the ping, at most what is left of its
// kRunPingMs. Whatever WinINet does, the process goes on to its end then.
void AwaitRunPing();
