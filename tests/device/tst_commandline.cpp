// What the program's arguments become: the Playlist's entries, each with the exact bytes
// of its path, and what was skipped with why. Real files in a temporary folder; names
// are bytes, not all of them UTF-8.

#include "platform/CommandLine.h"
#include "platform/FileNames.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace sequora::platform;
using Why = SkippedArgument::Why;

namespace {

// A Shift_JIS name, as an archive unpacked on Linux leaves it.
const QByteArray kSjisName = "\x83\x5a\x83\x8b.mid";

// Non-UTF-8 names go through the C library, which takes bytes.
void touch(const QByteArray& path)
{
    if (std::FILE* f = std::fopen(path.constData(), "wb"))
        std::fclose(f);
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_root = QFile::encodeName(m_dir.path());
        for (const char* name : { "a.mid", "B.MID", "c.kar", "d.rmi", "notes.txt", "x y.mid" })
            touch(m_root + '/' + name);
        touch(m_root + '/' + kSjisName);
        QVERIFY(::mkdir((m_root + "/album").constData(), 0700) == 0);
        for (const char* name : { "02.mid", "01.MID", "cover.jpg", ".hidden.mid" })
            touch(m_root + "/album/" + name);
        QVERIFY(::mkdir((m_root + "/album/disc2").constData(), 0700) == 0);
        touch(m_root + "/album/disc2/03.mid");
        QVERIFY(::mkdir((m_root + "/empty").constData(), 0700) == 0);
    }

    void arguments_data()
    {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<QList<QByteArray>>("entries"); // relative to the folder
        QTest::addColumn<QList<QByteArray>>("skipped"); // as given
        QTest::addColumn<QList<int>>("why");
        QTest::addColumn<bool>("enqueue");

        using L = QList<QByteArray>;
        const QByteArray root = QFile::encodeName(m_dir.path());
        QTest::newRow("files in the order given, any case")
            << L { "c.kar", "B.MID", "a.mid", "d.rmi" } << L { "c.kar", "B.MID", "a.mid", "d.rmi" }
            << L {} << QList<int> {} << false;
        QTest::newRow("absolute, with a blank")
            << L { root + "/x y.mid" } << L { "x y.mid" } << L {} << QList<int> {} << false;
        QTest::newRow("a folder gives its songs by name, not its subfolders")
            << L { "album" } << L { "album/01.MID", "album/02.mid" } << L {} << QList<int> {}
            << false;
        QTest::newRow("raw bytes of a Shift_JIS name")
            << L { kSjisName } << L { kSjisName } << L {} << QList<int> {} << false;
        QTest::newRow("file URI, percent-decoded to bytes")
            << L { "file://" + root.toPercentEncoding("/") + "/%83%5A%83%8B.mid" }
            << L { kSjisName } << L {} << QList<int> {} << false;
        QTest::newRow("file URI of localhost, and file:/ with one slash")
            << L { "file://localhost" + root + "/a.mid", "file:" + root + "/c.kar" }
            << L { "a.mid", "c.kar" } << L {} << QList<int> {} << false;
        QTest::newRow("mixed, with what is skipped")
            << L { "a.mid", "notes.txt", "missing.mid", "empty", "http://example.org/a.mid",
                   "file://elsewhere.example/x.mid", "album" }
            << L { "a.mid", "album/01.MID", "album/02.mid" }
            << L { "notes.txt", "missing.mid", "empty", "http://example.org/a.mid",
                   "file://elsewhere.example/x.mid" }
            << QList<int> { int(Why::NotSong), int(Why::Missing), int(Why::NoSongs),
                   int(Why::NotLocal), int(Why::NotLocal) }
            << false;
        QTest::newRow("--enqueue, and -- before a name like an option")
            << L { "--enqueue", "a.mid", "--", "--enqueue" } << L { "a.mid" } << L { "--enqueue" }
            << QList<int> { int(Why::Missing) } << true;
        QTest::newRow("an unknown option")
            << L { "--shuffle", "a.mid" } << L { "a.mid" } << L { "--shuffle" }
            << QList<int> { int(Why::UnknownOption) } << false;
        QTest::newRow("a relative path is cleaned")
            << L { "./album/../a.mid" } << L { "a.mid" } << L {} << QList<int> {} << false;
        QTest::newRow("nothing") << L {} << L {} << L {} << QList<int> {} << false;
    }

    void arguments()
    {
        QFETCH(QList<QByteArray>, args);
        QFETCH(QList<QByteArray>, entries);
        QFETCH(QList<QByteArray>, skipped);
        QFETCH(QList<int>, why);
        QFETCH(bool, enqueue);

        const StartRequest request = readArguments(args, m_root);
        QList<QByteArray> got;
        for (const NamedPath& entry : request.entries) {
            got << entry.bytes().mid(m_root.size() + 1);
            // What the list shows is the path decoded, whatever its code page.
            QCOMPARE(entry.text, displayPath(entry.bytes()));
        }
        QCOMPARE(got, entries);
        QList<QByteArray> gotSkipped;
        QList<int> gotWhy;
        for (const SkippedArgument& s : request.skipped) {
            gotSkipped << s.given;
            gotWhy << int(s.why);
        }
        QCOMPARE(gotSkipped, skipped);
        QCOMPARE(gotWhy, why);
        QCOMPARE(request.enqueue, enqueue);
    }

    void shiftJisNameShowsDecoded()
    {
        const StartRequest request = readArguments({ kSjisName }, m_root);
        QCOMPARE(request.entries.size(), 1);
        QVERIFY(request.entries.first().text.endsWith(QStringLiteral("セル.mid")));
        QCOMPARE(request.entries.first().bytes(), m_root + '/' + kSjisName);
    }

    void aThousandArguments()
    {
        QList<QByteArray> args;
        for (int i = 0; i < 1000; ++i)
            args << (i % 3 == 0 ? QByteArray("notes.txt") : i % 2 ? "a.mid" : "B.MID");
        const StartRequest request = readArguments(args, m_root);
        QCOMPARE(request.entries.size() + request.skipped.size(), 1000);
        QCOMPARE(request.skipped.size(), 334);
        // Order kept, duplicates kept.
        QCOMPARE(request.entries.first().bytes(), m_root + "/a.mid");
        QCOMPARE(request.entries.at(1).bytes(), m_root + "/B.MID");
    }

    void namesFiles_data()
    {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<bool>("files");
        QTest::newRow("none") << QList<QByteArray> {} << false;
        QTest::newRow("only --enqueue") << QList<QByteArray> { "--enqueue" } << false;
        QTest::newRow("only --") << QList<QByteArray> { "--" } << false;
        QTest::newRow("a file") << QList<QByteArray> { "--enqueue", "a.mid" } << true;
        QTest::newRow("an unknown option") << QList<QByteArray> { "-x" } << true;
        QTest::newRow("--enqueue after --") << QList<QByteArray> { "--", "--enqueue" } << true;
    }

    void namesFiles()
    {
        QFETCH(QList<QByteArray>, args);
        QFETCH(bool, files);
        QCOMPARE(sequora::platform::namesFiles(args), files);
    }

    void uris_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("plain path")
            << QByteArray("/a/b.mid") << int(UriKind::NotUri) << QByteArray();
        QTest::newRow("name with a colon")
            << QByteArray("a:b.mid") << int(UriKind::NotUri) << QByteArray();
        QTest::newRow("file, three slashes")
            << QByteArray("file:///a/b%20c.mid") << int(UriKind::Local) << QByteArray("/a/b c.mid");
        QTest::newRow("scheme in capitals, query and fragment")
            << QByteArray("FILE:///a.mid?x=1#y") << int(UriKind::Local) << QByteArray("/a.mid");
        QTest::newRow("encoded slash and hash stay in the name")
            << QByteArray("file:///a%23b.mid") << int(UriKind::Local) << QByteArray("/a#b.mid");
        QTest::newRow("another host")
            << QByteArray("file://server/a.mid") << int(UriKind::Foreign) << QByteArray();
        QTest::newRow("another scheme")
            << QByteArray("smb://server/a.mid") << int(UriKind::Foreign) << QByteArray();
        QTest::newRow("a NUL byte")
            << QByteArray("file:///a%00b.mid") << int(UriKind::Foreign) << QByteArray();
        QTest::newRow("no path") << QByteArray("file://localhost") << int(UriKind::Foreign)
                                 << QByteArray();
    }

    void uris()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, kind);
        QFETCH(QByteArray, path);
        QByteArray got;
        QCOMPARE(int(readUri(text, &got)), kind);
        QCOMPARE(got, path);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_root;
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
