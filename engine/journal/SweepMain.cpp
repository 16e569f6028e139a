// SPDX-License-Identifier: MIT
// vexalo4-journal-sweep FOLDER: deletes the entries the journal in FOLDER
// gave up for room. The programs start it after a run, so that neither the
// run's end nor their exit waits for thousands of deletions, and it loads
// nothing but the C library, so that starting it costs the run next to
// nothing. The program starts it in a session of its own and does not wait
// for it; it works on at the lowest priority after the program is gone. If
// it is stopped, the next run's end starts it again.
#include "engine/journal/FolderSweep.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2 || argv[1][0] != '/')
        return 2;
    // Holds nothing of the program's: a flock held by an inherited
    // descriptor would keep a journal looking busy.
    if (::close_range(3, ~0U, 0) != 0) {
        for (int fd = 3; fd < 65536; ++fd)
            ::close(fd);
    }
    ::setpriority(PRIO_PROCESS, 0, 19);
    constexpr int ioprioClassIdle = 3;
    constexpr int ioprioClassShift = 13;
    ::syscall(SYS_ioprio_set, 1 /* IOPRIO_WHO_PROCESS */, 0, ioprioClassIdle << ioprioClassShift);
    vexalo::journal::sweepDropped(argv[1]);
    return 0;
}
