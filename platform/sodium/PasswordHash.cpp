#include "platform/PasswordHash.h"

#include <QByteArray>
#include <sodium.h>

namespace passwordhash {

namespace {

bool ready()
{
    static const bool initialised = sodium_init() >= 0;
    return initialised;
}

void wipeBytes(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        sodium_memzero(bytes.data(), size_t(bytes.size()));
    bytes.clear();
}

} // namespace

void wipe(QString &secret)
{
    if (!secret.isEmpty())
        sodium_memzero(secret.data(), size_t(secret.size()) * sizeof(QChar));
    secret.clear();
}

std::optional<QString> make(QString password)
{
    QByteArray bytes = password.toUtf8();
    wipe(password);
    if (!ready()) {
        wipeBytes(bytes);
        return std::nullopt;
    }
    char out[crypto_pwhash_STRBYTES];
    const int made = crypto_pwhash_str(out, bytes.constData(), size_t(bytes.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                       crypto_pwhash_MEMLIMIT_INTERACTIVE);
    wipeBytes(bytes);
    if (made != 0)
        return std::nullopt;
    return QString::fromLatin1(out);
}

bool verify(const QString &verifier, QString password)
{
    QByteArray bytes = password.toUtf8();
    wipe(password);
    const QByteArray stored = verifier.toLatin1();
    const bool same = ready() && verifier.startsWith(QLatin1String("$argon2id$")) && stored.size() < crypto_pwhash_STRBYTES
                      && crypto_pwhash_str_verify(stored.constData(), bytes.constData(), size_t(bytes.size())) == 0;
    wipeBytes(bytes);
    return same;
}

} // namespace passwordhash
