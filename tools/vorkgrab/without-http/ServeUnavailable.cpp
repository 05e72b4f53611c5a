// serve in a build without an HTTP library (the Windows cross builds: Debian's
// cpp-httplib is a Linux library).
#include "Commands.h"
#include "Errors.h"

int ServeCommand(Plugin&, const Options&) {
    throw Failure{"serve is not in this build: it needs cpp-httplib, which this build was made without"};
}
