#pragma once

class Box;
struct ExportReceipt;

// Where a box goes once it is in its workbook, when the plant keeps a record of
// every station's boxes.
class PlantHandoff
{
public:
    virtual ~PlantHandoff() = default;
    // The box as written (its export target carries its id): on disk, on its way to
    // the record, before this returns. Raises a RuntimeError, keeping nothing, when
    // it cannot; the box must then not be emptied.
    virtual void handOver(const Box &box, const ExportReceipt &receipt) = 0;
};
