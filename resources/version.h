// The program's version: the version record's numbers and its text, and the
// version a run ping reports. Plain macros, so the resource compiler takes
// them as well as C++; download/run_ping.cpp checks the two agree.
#pragma once

#define ZORVA_VERSION_NUMBERS 6, 0, 0, 0
#define ZORVA_VERSION_TEXT "6.0.0.0"
