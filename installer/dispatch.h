// Which handler carries out which kind of setup record.
#pragma once

// Every handler gets the package descriptor, positioned at the payload, and
// the record's prefix; it may leave the file position anywhere.
using RecordHandler = int (*)(int fd, const unsigned char* prefix);

struct RecordHandlerEntry {
    unsigned char kind;
    RecordHandler handler;
    bool result_counts;  // a non-zero result marks the installation as failed
};

// The entry for a record kind in the run the command line chose, or null
// for a kind the installer rejects.
const RecordHandlerEntry* find_record_handler(unsigned char kind);
