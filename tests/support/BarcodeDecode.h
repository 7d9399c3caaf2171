#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The page in a file of the folder, for the tools that read files.
inline QString writtenTo(const QTemporaryDir &dir, const QByteArray &pdf)
{
    const QString page = dir.filePath(QStringLiteral("page.pdf"));
    QFile f(page);
    f.open(QIODevice::WriteOnly);
    f.write(pdf);
    return page;
}

// A printed page as a scanner sees it: the PDF rasterised at the printer's
// resolution without smoothing (pdftoppm, poppler-utils), then read by a decoder
// nobody here wrote (zbarimg, zbar-tools). The texts of every symbol found; *why
// says what failed when a tool is missing or fails.
inline QStringList decodePage(const QByteArray &pdf, int dpi, QString *why)
{
    QTemporaryDir dir;
    const QString page = writtenTo(dir, pdf);
    QProcess raster;
    raster.setProcessChannelMode(QProcess::MergedChannels);
    raster.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"),
                                              QStringLiteral("-aa"), QStringLiteral("no"), QStringLiteral("-aaVector"),
                                              QStringLiteral("no"), QStringLiteral("-png"), QStringLiteral("-singlefile"),
                                              page, dir.filePath(QStringLiteral("page"))});
    if (!raster.waitForFinished(60000) || raster.exitCode() != 0) {
        *why = QStringLiteral("pdftoppm (poppler-utils): ") + QString::fromLocal8Bit(raster.readAll()) + raster.errorString();
        return {};
    }
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), dir.filePath(QStringLiteral("page.png"))});
    if (!zbar.waitForFinished(60000) || zbar.exitStatus() != QProcess::NormalExit) {
        *why = QStringLiteral("zbarimg (zbar-tools): ") + zbar.errorString();
        return {};
    }
    if (zbar.exitCode() == 4) // no symbol found
        return {};
    QStringList found;
    for (const QByteArray &line : zbar.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            found << QString::fromUtf8(line);
    return found;
}

// The page's text (pdftotext, poppler-utils).
inline QString pageText(const QByteArray &pdf)
{
    QTemporaryDir dir;
    const QString page = writtenTo(dir, pdf);
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {page, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}
