// Reading the run's string values from the registry: into a buffer of 131072 bytes, the text up to its
// terminating null; any error, also a value that does not fit, counts as absent.
#pragma once

#include <string>

#include "platform/Platform.h"

constexpr size_t kRegistryStringBufferBytes = 131072;

// The value as text, up to its first null character (UTF-16LE, as the wide calls store it). False when
// the value is absent, is not a string, or does not fit the buffer.
bool ReadRegistryString(plat::Registry& registry, const std::wstring& key, const std::wstring& name,
                        std::wstring& text, bool view32 = false);
