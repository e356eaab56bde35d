// The product's registration: its key below HKEY_LOCAL_MACHINE, the record read
// from it, and the service level written back after the copies.
#pragma once

#include "installer/installer.h"
#include "platform/platform.h"

// Fills keyPath with the path of the product's key. Cannot fail.
void composeKeyPath(ComposedText& keyPath);

// Opens the product's key for reading; a stop means the product is not installed.
[[nodiscard]] RunOutcome openKeyForReading(const char* keyPath, platform::KeyHandle* key);

// Reads the three values into record, stopping at the first that is missing or unusable.
[[nodiscard]] RunOutcome readInstallRecord(platform::KeyHandle key, InstallRecord* record);

// True when the key opens for writing; closes it again at once.
[[nodiscard]] bool keyOpensForWriting(const char* keyPath);

// Opens the key for writing and sets the service level of this update; stops
// with status 2 when either step failed.
[[nodiscard]] RunOutcome recordUpdateLevel(const char* keyPath);
