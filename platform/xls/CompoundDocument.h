#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace xls {

// One entry of an OLE2 compound document: a stream with its bytes, or a storage
// with entries of its own. The root is a storage.
struct CompoundEntry
{
    std::string name;
    bool storage = false;
    std::string data; // streams only
    std::vector<CompoundEntry> children;
    std::array<uint8_t, 16> classId {};
    bool hasClassId = false;

    // The direct child of that name, or nullptr.
    CompoundEntry *child(const std::string &childName);
    const CompoundEntry *child(const std::string &childName) const;
};

// Every stream and storage of a compound document in memory. Raises a RuntimeError
// when the bytes are not a compound document libgsf can read.
CompoundEntry readCompoundDocument(const QByteArray &fileBytes);

// The bytes of a compound document holding exactly these entries, in this order.
// Raises a RuntimeError when the container cannot be built.
QByteArray writeCompoundDocument(const CompoundEntry &root);
// Straight into a file open for writing, at offset 0: 0, or the errno value of a
// failed write. Raises a RuntimeError when the container cannot be built.
int writeCompoundDocument(const CompoundEntry &root, int fd);

} // namespace xls
