#pragma once

namespace pennaro {

// Every page brings buffers of half a megabyte or more that live only for that page. Keeping
// freed memory in the process, instead of returning it to the system and faulting it back in
// for the next page, halves the cost of turning a page into names.
void keepFreedMemoryForReuse();

} // namespace pennaro
