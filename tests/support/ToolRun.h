#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// One run of a program beside the station (zantrel-find, zantrel-db), as a person
// runs it: exit status (-1 when it crashed), what it printed and what it complained of.
struct ToolRun
{
    int status = -1;
    QString out;
    QString errors;

    // The tool of that name in the build's program folder.
    static ToolRun of(const QString &tool, const QStringList &args)
    {
        QProcess p;
        p.start(qEnvironmentVariable("ZANTREL_BUILD_DIR") + "/station/" + tool, args);
        p.waitForFinished(60000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
};
