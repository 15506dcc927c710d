#include "runtime/core/textservices.h"

namespace pennaro {
} // namespace pennaro
