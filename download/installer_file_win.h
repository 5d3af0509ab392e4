// The installer file the worker writes (Win32 edge): created in the setup's
// own folder, held so that no other process can write, rename or delete it
// while it is written, and from then on until the installer's process
// exists, with no moment between in which another writer could get in;
// deleted once nothing runs from it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "download/download_url.h"

// The body is read into this. Used by the worker thread alone.
inline constexpr std::size_t kTransferBufferSize = 64 * 1024;
extern std::uint8_t transferBuffer[kTransferBufferSize];

// Chooses the run's folder (removing what earlier runs left), then creates
// the folder and the empty file and holds it for writing; a `digested` file
// (a pinned download) is hashed as its bytes are written. False,
// GetLastError telling why, when that cannot be done.
bool CreateInstallerFile(bool digested);

// Empties the file again (the kept bytes go) the same way.
bool StartInstallerFileOver();

// Appends `count` bytes: 0, or the error that stopped it, ERROR_FILE_TOO_LARGE
// when the file would pass 4 GB.
std::uint32_t AppendToInstallerFile(const std::uint8_t* bytes, std::uint32_t count);

// The bytes the file holds.
std::uint32_t InstallerFileKept();

// What the check of the whole file found.
enum class FileCheck {
  kHeld,         // it is the installer: the file is held for the run
  kMismatch,     // it is not the pinned installer, or not the file written
  kUnreadable,   // it could not be opened again: `failure` says why
  kNotAProgram,  // Windows cannot load it as a program: `failure` says why
};

// Ends the writing and holds the file for the run instead, read-only, until
// it is discarded, when its digest, taken as it was written, is the one
// `request` pins (without a pin, the bytes written are the installer) and
// the file held is still the file written, unchanged; on a mismatch of the
// digest the file stays held for writing, to be started over; otherwise it
// is no longer held.
FileCheck HoldCheckedInstallerFile(const DownloadRequest& request, std::uint32_t& failure);

const char16_t* InstallerFilePath();

// Lets go of the file and deletes it with its folder. The worker's alone, like
// every function here: a file a run ended from outside left, or a cancel,
// goes with the next run (CreateInstallerFile removes the
// files that runs no longer alive left, unless something holds them).
void DiscardInstallerFile();
