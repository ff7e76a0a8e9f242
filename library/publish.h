#pragma once
// Publishing an output file: the bytes go to a file beside the output that gets the output's
// name only when complete, so a reader sees the old file or the whole new one. Only a regular
// file, or a symbolic link to one, is ever replaced. An existing FIFO, device or socket named as
// output is refused as existing when creating; when replacing, the bytes are written straight
// into it, as cp would, and the node stays. Prints nothing, touches no signal handler, keeps no
// state outside the record: any number of threads may publish at once.
#include <limits.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>

enum PublishMode : int32_t {
    PUBLISH_CREATE = 0,   // the name must be free when the file is complete
    PUBLISH_REPLACE = 1,  // the file at the end of the name's links is replaced (or written into)
};

enum { PUBLISH_HIDDEN_NAME_SIZE = 32, PUBLISH_REASON_SIZE = 128 };

struct Publication {
    int fd;      // where the bytes go
    int folder;  // the output's folder (O_PATH); -1 when writing straight into a stream
    int32_t mode;
    int durable;   // flush to disk before naming
    int unnamed;   // the file has no name yet (O_TMPFILE)
    int replaced;  // a regular file is there: its mode, owner and group were copied
    char name[NAME_MAX + 1];  // the output's name within folder
    // A caller that removes hidden names on a signal reads these two from its handler: they
    // change only while heldSignals (when given) are blocked in the publishing thread.
    char hiddenName[PUBLISH_HIDDEN_NAME_SIZE];
    volatile sig_atomic_t hiddenExists;
    const sigset_t* heldSignals;
    char reason[PUBLISH_REASON_SIZE];  // the system's reason for the last failure
};

// A record to pass to beginPublication; heldSignals may be set afterwards.
Publication emptyPublication();

// Each call returns 0 or the errno of the failure (its text in publication->reason); after a
// failure of writePublication the caller calls abandonPublication, the others clean up by
// themselves.
int beginPublication(const char* outputName, int32_t mode, int durable, Publication* publication);
int writePublication(Publication* publication, const char* bytes, size_t length);
int finishPublication(Publication* publication);
void abandonPublication(Publication* publication);

// The whole content at once: begin, write, finish.
int publishBytes(const char* outputName, int32_t mode, int durable, const char* bytes,
                 size_t length, Publication* publication);
