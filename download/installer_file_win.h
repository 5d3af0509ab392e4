// The installer file the worker writes (Win32 edge): created in the setup's
// own folder, held so that no other process can write, rename or delete it
// while it is written, and again from its check, which reads it through the
// handle that holds it, until the installer's process exists; deleted once
// nothing runs from it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "download/download_url.h"

// The body is read into this, and the check reads the file through it. Used
// by the worker thread alone.
inline constexpr std::size_t kTransferBufferSize = 64 * 1024;
extern std::uint8_t transferBuffer[kTransferBufferSize];

// Creates the folder and the empty file, or empties the file again (the kept
// bytes go), and holds it for writing. False, GetLastError telling why, when
// that cannot be done.
bool StartInstallerFileOver();

// Appends `count` bytes: 0, or the error that stopped it, ERROR_FILE_TOO_LARGE
// when the file would pass 4 GB.
std::uint32_t AppendToInstallerFile(const std::uint8_t* bytes, std::uint32_t count);

// The bytes the file holds.
std::uint32_t InstallerFileKept();

// What the check of the whole file found.
enum class FileCheck {
  kHeld,        // every byte read back is the installer: the file is held for the run
  kMismatch,    // it was read back whole, but it is not the installer
  kUnreadable,  // it could not be opened or read again: `failure` says why
};

// Ends the writing and holds the file for the run instead, read-only, until
// it is discarded, when every byte read through that handle is the
// installer `request` pins, or without a pin the bytes that were written;
// otherwise the file is no longer held.
FileCheck HoldCheckedInstallerFile(const DownloadRequest& request, std::uint32_t& failure);

const char16_t* InstallerFilePath();

// Lets go of the file and deletes it with its folder. The worker's alone, like
// every function here: a file a run ended from outside left, or a cancel,
// goes with the next run (StartInstallerFileOver's first call removes the
// files that runs no longer alive left, unless something holds them).
void DiscardInstallerFile();
