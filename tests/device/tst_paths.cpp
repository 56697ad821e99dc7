// Short path tokens: one blank-free word for any existing file, mapped back to the
// same file by the open command; nothing for a file that does not exist.

#include "platform/System.h"
#include "platform/mci/MciCommand.h"

#include <QtTest>

#include <filesystem>
#include <fstream>
#include <memory>

using namespace sequora::platform;
namespace fs = std::filesystem;

class TestPaths : public QObject {
    Q_OBJECT

private slots:
    void init();
    void roundTrip_data();
    void roundTrip();
    void missingFileGivesNothing();
    void smallBufferGetsNothing();
    void relativePathSurvivesChangeOfDirectory();
    void literalPercentPathTypedByHand();
    void versionIsNtFamily();

private:
    fs::path makeFile(const std::string& name, const std::string& content);

    std::unique_ptr<QTemporaryDir> m_dir; // fresh for every test function
};

fs::path TestPaths::makeFile(const std::string& name, const std::string& content)
{
    const fs::path path = fs::path(m_dir->path().toStdString()) / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

void TestPaths::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPaths::roundTrip_data()
{
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("plain") << QByteArray("song.mid");
    QTest::newRow("blanks") << QByteArray("My Song  two.mid");
    QTest::newRow("leading and trailing blank") << QByteArray(" lead trail .mid ");
    QTest::newRow("non-ASCII") << QByteArray(
        "\xe6\x9b\xb2 \xef\xbe\x83\xef\xbd\xbd\xef\xbe\x84.mid");
    QTest::newRow("double quotes") << QByteArray("say \"hi\".mid");
    QTest::newRow("percent") << QByteArray("100%.mid");
    QTest::newRow("percent that looks encoded") << QByteArray("a%20b%zz.mid");
    QTest::newRow("newline and tab") << QByteArray("line\nbreak\ttab.mid");
    QTest::newRow("keyword as name") << QByteArray("type");
}

void TestPaths::roundTrip()
{
    QFETCH(QByteArray, name);
    // The content tells the files apart: the token must lead back to this one.
    const fs::path file = makeFile(name.toStdString(), "content of " + name.toStdString());

    char buffer[512];
    std::memset(buffer, 0, sizeof buffer);
    const uint32_t n = GetShortPathNameA(file.c_str(), buffer, sizeof buffer);
    QVERIFY(n > 0);
    const std::string token(buffer);
    QCOMPARE(std::size_t(n), token.size());

    for (unsigned char c : token)
        QVERIFY2(c > ' ' && c < 0x7F && c != '"', qPrintable(QString::fromStdString(token)));

    // In an open command the token stays one word, is not taken for a keyword, and
    // reaches the device exactly as made.
    const auto parsed = mci::parseCommand("open " + token + " type sequencer alias midifile");
    QCOMPARE(parsed.code, kMciOk);
    QCOMPARE(parsed.command.path, token);
    QCOMPARE(QByteArray::fromStdString(parsed.command.alias), QByteArray("midifile"));

    const fs::path resolved = resolveShortPath(token);
    QVERIFY(fs::equivalent(resolved, file));
    std::ifstream in(resolved, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QCOMPARE(content, "content of " + name.toStdString());
}

void TestPaths::missingFileGivesNothing()
{
    const std::string missing = m_dir->path().toStdString() + "/no such file.mid";
    char buffer[512];
    std::memset(buffer, 0, sizeof buffer);
    QCOMPARE(GetShortPathNameA(missing.c_str(), buffer, sizeof buffer), 0u);
    QCOMPARE(GetShortPathNameA("", buffer, sizeof buffer), 0u);
    QCOMPARE(GetShortPathNameA(nullptr, buffer, sizeof buffer), 0u);
    for (char c : buffer)
        QCOMPARE(c, '\0');

    // A dangling link names no file either.
    const fs::path link = fs::path(m_dir->path().toStdString()) / "dangling.mid";
    fs::create_symlink(missing, link);
    QCOMPARE(GetShortPathNameA(link.c_str(), buffer, sizeof buffer), 0u);
    QCOMPARE(buffer[0], '\0');
}

void TestPaths::smallBufferGetsNothing()
{
    const fs::path file = makeFile("a b.mid", "x");
    char probe[512];
    const uint32_t length = GetShortPathNameA(file.c_str(), probe, sizeof probe);
    QVERIFY(length > 0);

    // One byte short of room for the NUL: nothing written, and the size needed is
    // reported, which is more than what was offered.
    std::string buffer(length, '#');
    const uint32_t needed = GetShortPathNameA(file.c_str(), buffer.data(), length);
    QCOMPARE(needed, length + 1);
    QCOMPARE(buffer, std::string(length, '#'));

    buffer.assign(length + 1, '#');
    QCOMPARE(GetShortPathNameA(file.c_str(), buffer.data(), length + 1), length);
    QCOMPARE(std::string(buffer.c_str()), std::string(probe));
}

void TestPaths::relativePathSurvivesChangeOfDirectory()
{
    const fs::path file = makeFile("rel ative.mid", "x");
    const fs::path before = fs::current_path();
    fs::current_path(m_dir->path().toStdString());
    char buffer[512] = {};
    const uint32_t n = GetShortPathNameA("rel ative.mid", buffer, sizeof buffer);
    fs::current_path("/");
    const std::string resolved = resolveShortPath(buffer);
    fs::current_path(before);

    QVERIFY(n > 0);
    QVERIFY(fs::equivalent(resolved, file));
}

void TestPaths::literalPercentPathTypedByHand()
{
    // Someone typing the path of a file really named "a%20b.mid" gets that file, as
    // long as no "a b.mid" exists beside it.
    const fs::path literal = makeFile("a%20b.mid", "literal");
    QCOMPARE(fs::path(resolveShortPath(literal.string())), literal);

    const fs::path decoded = makeFile("a b.mid", "decoded");
    QCOMPARE(fs::path(resolveShortPath(literal.string())), decoded);

    // A plain path without escapes passes unchanged, existing or not.
    QCOMPARE(resolveShortPath("/no/such/dir/x.mid"), std::string("/no/such/dir/x.mid"));
}

void TestPaths::versionIsNtFamily()
{
    OSVERSIONINFOA info;
    QVERIFY(GetVersionExA(&info));
    QCOMPARE(info.dwPlatformId, kVerPlatformWin32Nt);

    OSVERSIONINFOA wrongSize;
    wrongSize.dwOSVersionInfoSize = 20;
    QVERIFY(!GetVersionExA(&wrongSize));
    QCOMPARE(wrongSize.dwPlatformId, 0u);
    QVERIFY(!GetVersionExA(nullptr));
}

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
