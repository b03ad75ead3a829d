// trelvo-slot-worker: the process an isolated slot runs its plug-in in. Trelvo starts it
// with the shared memory on descriptor 3; it is not meant to be started by hand.
#include "host/IsolationChannel.h"

int main() {
    return trelvo::host::isolation::runWorker();
}
