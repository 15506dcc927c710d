#include "runtime/core/processlauncher.h"

namespace pennaro {
} // namespace pennaro
