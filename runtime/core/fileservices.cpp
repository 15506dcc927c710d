#include "runtime/core/fileservices.h"

namespace pennaro {
} // namespace pennaro
