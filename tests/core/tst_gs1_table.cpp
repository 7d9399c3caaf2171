#include "core/Gs1AiTable.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

QString sourceDir()
{
    return qEnvironmentVariable("ZANTREL_SOURCE_DIR");
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One AI as the dictionary's line says it, written out the way the table's entry
// is compared: "N18 csum,gcppos2 | [N..12]" …
struct Line
{
    bool predefined = false;
    bool digitalLink = false;
    QStringList components;
    QString req, ex, title;
};

QString shown(const gs1::AiComponent &c)
{
    QString s = QString(QChar(c.type)) + (c.least == c.most ? QString() : QStringLiteral("..")) + QString::number(c.most);
    if (c.optional)
        s = '[' + s + ']';
    for (gs1::Lint l : c.lints)
        if (l != gs1::Lint::none)
            s += ',' + QString::fromLatin1(gs1::lintName(l));
    return s;
}

// The dictionary read on its own, by its header's rules, not by the generator's script.
QMap<QString, Line> readDictionary(const QByteArray &text)
{
    QMap<QString, Line> out;
    const QRegularExpression component(QStringLiteral("^\\[?[NXYZ](\\.\\.)?\\d+\\]?(,\\w+)*$"));
    for (const QString &raw : QString::fromUtf8(text).split('\n')) {
        const qsizetype hash = raw.indexOf('#');
        const QString body = hash < 0 ? raw : raw.left(hash);
        QStringList tokens = body.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (tokens.isEmpty())
            continue;
        Line line;
        line.title = hash < 0 ? QString() : raw.mid(hash + 1).trimmed();
        const QString ais = tokens.takeFirst();
        if (!tokens.isEmpty() && !component.match(tokens.first()).hasMatch()) {
            const QString flags = tokens.takeFirst();
            line.predefined = flags.contains('*');
            line.digitalLink = flags.contains('?');
        }
        QStringList req, ex;
        bool attributes = false;
        for (const QString &t : tokens) {
            if (!attributes && component.match(t).hasMatch()) {
                // "[N3],iso3166" and "[N3,iso3166]" mean the same: an optional component.
                QString c = t;
                const bool optional = c.startsWith('[');
                c.remove('[').remove(']');
                const qsizetype comma = c.indexOf(',');
                const QString type = comma < 0 ? c : c.left(comma);
                const QString lints = comma < 0 ? QString() : c.mid(comma);
                line.components << (optional ? '[' + type + ']' : type) + lints;
                continue;
            }
            attributes = true;
            if (t.startsWith(QLatin1String("req=")))
                req << t.mid(4);
            else if (t.startsWith(QLatin1String("ex=")))
                ex << t.mid(3);
        }
        line.req = req.join(' ');
        line.ex = ex.join(' ');
        const QStringList range = ais.split('-');
        const int first = range.first().toInt(), last = range.last().toInt();
        for (int ai = first; ai <= last; ++ai)
            out.insert(QString::number(ai).rightJustified(range.first().size(), '0'), line);
    }
    return out;
}

} // namespace

class TestGs1Table : public QObject
{
    Q_OBJECT
private slots:
    // The station's table says what GS1's dictionary says, AI by AI.
    void theTableIsTheDictionary()
    {
        const QByteArray ours = bytesOf(sourceDir() + "/core/gs1/gs1-syntax-dictionary.txt");
        QVERIFY(!ours.isEmpty());
        // The dictionary this workplace keeps: a newer release there is one the table
        // must be generated from again (scripts/gs1-ai-table.py).
        const QString shared = sourceDir() + "/../shared/gs1/gs1-syntax-dictionary.txt";
        if (QFile::exists(shared))
            QVERIFY2(bytesOf(shared) == ours, "a new release of the dictionary: copy it into core/gs1/ and run scripts/gs1-ai-table.py");

        const QMap<QString, Line> dictionary = readDictionary(ours);
        QCOMPARE(gs1::kAiTableSize, int(dictionary.size()));
        for (int i = 0; i < gs1::kAiTableSize; ++i) {
            const gs1::AiEntry &e = gs1::kAiTable[i];
            const QString ai = QString::fromLatin1(e.ai);
            QVERIFY2(dictionary.contains(ai), e.ai);
            const Line &d = dictionary[ai];
            QStringList components;
            for (int c = 0; c < e.componentCount; ++c)
                components << shown(e.components[c]);
            QCOMPARE(components, d.components);
            QCOMPARE(e.predefinedLength, d.predefined);
            QCOMPARE(e.digitalLink, d.digitalLink);
            QCOMPARE(QString::fromLatin1(e.req), d.req);
            QCOMPARE(QString::fromLatin1(e.ex), d.ex);
            QCOMPARE(QString::fromUtf8(e.title), d.title);
            QCOMPARE(gs1::aiEntry(ai), &e);
            QCOMPARE(gs1::aiLengthOfPrefix(ai.left(2)), int(ai.size()));
        }
        // Not allocated: nothing, and no prefix of its own.
        QCOMPARE(gs1::aiEntry(u"23"), nullptr);
        QCOMPARE(gs1::aiEntry(u"7160"), nullptr);
        QCOMPARE(gs1::aiLengthOfPrefix(u"05"), 0);
        // GS1 General Specifications §7.8.5: the predefined-length prefixes that have AIs.
        for (int i = 0; i < gs1::kAiTableSize; ++i) {
            static const QStringList predefined{"00", "01", "02", "03", "11", "12", "13", "15", "16", "17", "20",
                                                "31", "32", "33", "34", "35", "36", "41"};
            QCOMPARE(gs1::kAiTable[i].predefinedLength, predefined.contains(QString::fromLatin1(gs1::kAiTable[i].ai).left(2)));
        }
    }
};

QTEST_GUILESS_MAIN(TestGs1Table)
#include "tst_gs1_table.moc"
