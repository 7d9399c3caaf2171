#pragma once

class RecordGrid;

// Where a full outer box goes. It must leave the grid as it was when it fails
// (raising a RuntimeError); emptying the list after success is the caller's job.
class BoxExport
{
public:
    virtual ~BoxExport() = default;
    virtual void exportBox(const RecordGrid &grid) = 0;
};
