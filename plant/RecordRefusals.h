#pragma once

#include <QLatin1StringView>

// The plant record's own refusals, by the SQLSTATE each raises (class ZR, the record's
// table zantrel.refusals from its version 9). Programs decide on these codes; the
// server's words are only shown.
namespace refusal {

inline constexpr QLatin1StringView kRecordNeverChanges{"ZR001"};    // a recorded row is never updated or deleted
inline constexpr QLatin1StringView kNotThatDecision{"ZR002"};       // a change names a decision it does not carry out
inline constexpr QLatin1StringView kPackNotInBox{"ZR003"};          // take-out of a pack the box does not hold now
inline constexpr QLatin1StringView kPutIntoVoidBox{"ZR004"};        // put-in into a void box
inline constexpr QLatin1StringView kPackInABox{"ZR005"};            // put-in of a pack that is in a box now
inline constexpr QLatin1StringView kVoidAlready{"ZR006"};           // void of a void box
inline constexpr QLatin1StringView kNotVoid{"ZR007"};               // restore of a box that is not void
inline constexpr QLatin1StringView kRestoreWouldDouble{"ZR008"};    // restore while one of its packs is elsewhere (detail: pack, box, station)
inline constexpr QLatin1StringView kNotAGs1Pack{"ZR009"};           // put-in into a GS1 box of what is no GS1 pack with GTIN and serial
inline constexpr QLatin1StringView kOtherKindThanTheBox{"ZR010"};   // put-in into a GS1 box of another product, lot or expiry
inline constexpr QLatin1StringView kNoSuchMiddleBox{"ZR011"};       // put-in into a middle box that is not one of that outer box

inline constexpr QLatin1StringView kNoSuchBatch{"ZR012"};           // a batch number the record does not have
inline constexpr QLatin1StringView kBatchMoveRefused{"ZR013"};      // a change of state the batch's state does not allow (detail: from, change)
inline constexpr QLatin1StringView kBatchBoxOpen{"ZR014"};          // close while a station has a box of the batch open (detail: station, box)
inline constexpr QLatin1StringView kBatchExists{"ZR015"};           // a batch added with a number the record has

inline constexpr QLatin1StringView kNoSuchOperator{"ZR016"};        // a 工号 the record does not have
inline constexpr QLatin1StringView kOperatorTaken{"ZR017"};         // a 工号 added twice (never reused)
inline constexpr QLatin1StringView kNotSignedByAdmin{"ZR018"};      // an operator change without an active admin's signature
inline constexpr QLatin1StringView kOperatorLocked{"ZR019"};        // the 工号 is locked after failed logins
inline constexpr QLatin1StringView kOperatorChangeMisfit{"ZR020"};  // a change that does not fit the operator as it stands

inline constexpr QLatin1StringView kAll[] = {kRecordNeverChanges, kNotThatDecision, kPackNotInBox,       kPutIntoVoidBox,
                                             kPackInABox,         kVoidAlready,     kNotVoid,            kRestoreWouldDouble,
                                             kNotAGs1Pack,        kOtherKindThanTheBox, kNoSuchMiddleBox,    kNoSuchBatch,
                                             kBatchMoveRefused,   kBatchBoxOpen,    kBatchExists,        kNoSuchOperator,
                                             kOperatorTaken,      kNotSignedByAdmin, kOperatorLocked,    kOperatorChangeMisfit};

} // namespace refusal
