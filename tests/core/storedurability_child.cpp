// Saves the content of one file over another the way the program saves its list, for a test
// that kills it at a random moment. Usage: storedurability_child TARGET SOURCE. Writes one byte
// to its standard output just before the save starts; exits with 0 when the save succeeded.

#include "runtime/core/fileservices.h"

#include <unistd.h>

int main(int argc, char* argv[]) {
    if (argc != 3)
        return 2;
    const pennaro::Bytes content = pennaro::loadFileBytes(pennaro::Text(argv[2]));
    if (content.isEmpty())
        return 2;
    // The parent times its kill from here.
    if (::write(STDOUT_FILENO, "s", 1) != 1)
        return 2;
    return pennaro::storeFileBytes(pennaro::Text(argv[1]), {content}) ? 0 : 1;
}
