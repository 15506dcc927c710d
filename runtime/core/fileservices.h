#pragma once

#include "runtime/core/textdefs.h"

#include <initializer_list>

namespace pennaro {

// The directory of the program's executable, without a trailing separator.
Text programDirectory();
// programDirectory() joined with the platform's separator and "tieba.txt".
Text listFilePath();

// The whole file; empty for an empty path or a file that cannot be read, silently.
Bytes loadFileBytes(const Text& path);

// Replaces the file with the parts written one after the other. The new content goes to a
// temporary file beside it that is flushed to disk and then renamed over the old one, so a
// failure (reported as false) leaves the previous file exactly as it was. A read-only file is
// not replaced. An empty path returns false and touches nothing.
bool storeFileBytes(const Text& path, std::initializer_list<QByteArrayView> parts);

} // namespace pennaro
