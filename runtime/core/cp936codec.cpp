#include "runtime/core/cp936codec.h"

namespace pennaro {
} // namespace pennaro
