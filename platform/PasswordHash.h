#pragma once

#include <QString>
#include <optional>

// Passwords kept only as verifiers: argon2id strings ("$argon2id$v=19$m=…") with their own
// salt and limits (libsodium's interactive ones), never the password. The password's
// memory is wiped once the verifier is made or checked.
namespace passwordhash {

// The verifier of a password; nothing when the library cannot make one (out of memory).
std::optional<QString> make(QString password);

// Whether the password is the one the verifier was made of. False for anything that is
// not a verifier.
bool verify(const QString &verifier, QString password);

// Overwrites the text's characters, so that a password does not stay in memory.
void wipe(QString &secret);

} // namespace passwordhash
