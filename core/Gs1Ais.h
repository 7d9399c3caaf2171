#pragma once

#include <QString>

// The AIs the station itself works with, by their numbers; every other AI is read
// and kept by the table (core/Gs1AiTable.h) without the station knowing its meaning.
namespace gs1::ai {

inline const QString kSscc = QStringLiteral("00");
inline const QString kGtin = QStringLiteral("01");
inline const QString kContent = QStringLiteral("02");
inline const QString kLot = QStringLiteral("10");
inline const QString kExpiry = QStringLiteral("17");
inline const QString kSerial = QStringLiteral("21");
inline const QString kCount = QStringLiteral("37");

} // namespace gs1::ai
