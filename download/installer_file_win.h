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
// bytes go), and holds it for writing. False when that cannot be done.
bool StartInstallerFileOver();

// Appends `count` bytes; false when the write fails or the file would pass
// 4 GB.
bool AppendToInstallerFile(const std::uint8_t* bytes, std::uint32_t count);

// The bytes the file holds.
std::uint32_t InstallerFileKept();

// Ends the writing and holds the file for the run instead, read-only, until
// it is discarded: true when every byte read through that handle is the
// installer `request` pins, or without a pin the bytes that were written;
// false otherwise, the file no longer held.
bool HoldCheckedInstallerFile(const DownloadRequest& request);

const char16_t* InstallerFilePath();

// True from just before the installer's process is created until it has
// ended: DiscardInstallerFile then leaves the file where it is.
void MarkInstallerRunning(bool running);

// Lets go of the file and deletes it with its folder, unless an installer may
// be running from it. Any thread, once the worker has stopped using the file.
void DiscardInstallerFile();
