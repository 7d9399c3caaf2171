#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Every change the platform layer makes to files and folders, told after it was
// made, for tests that rebuild the disk as a power cut would leave it. Nothing is
// told unless a test set a tracer; the station never does.
namespace filetrace {

struct Event
{
    enum Kind {
        Opened,       // path opened for writing (created when `created`); inode
        Wrote,        // inode, offset, data
        Truncated,    // inode, offset: the new size
        Synced,       // inode: its data and size on disk (fsync or fdatasync)
        Renamed,      // path to `to`; inode of what moved
        Removed,      // path
        MadeFolder,   // path
        SyncedFolder, // path: the folder's entries on disk
    };
    Kind kind;
    std::string path;
    std::string to;
    uint64_t inode = 0;
    int64_t offset = 0;
    std::string data;
    bool created = false;
};

// Called from whichever thread made the change; one call at a time.
void setTracerForTests(std::function<void(const Event &)> tracer);

} // namespace filetrace
