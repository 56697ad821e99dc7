// The command-string parser on its own: which strings are accepted, what they mean,
// and which result code each malformed one earns.

#include "platform/mci/MciCommand.h"

#include <QtTest>

using namespace sequora::platform;
using namespace sequora::platform::mci;

Q_DECLARE_METATYPE(sequora::platform::mci::Verb)
Q_DECLARE_METATYPE(sequora::platform::mci::SeekTarget)

class TestMciParser : public QObject {
    Q_OBJECT

private slots:
    void resultCodes_data();
    void resultCodes();
    void openFields_data();
    void openFields();
    void playRange_data();
    void playRange();
    void seekTarget_data();
    void seekTarget();
    void tokenizerKeepsQuotedTextWhole();
};

void TestMciParser::resultCodes_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<uint>("code");

    // Exactly what the device class sends, trailing blanks included.
    QTest::newRow("stop with trailing blank") << QByteArray("stop midifile ") << kMciOk;
    QTest::newRow("close") << QByteArray("close midifile") << kMciOk;
    QTest::newRow("play") << QByteArray("play midifile") << kMciOk;
    QTest::newRow("play from 0") << QByteArray("play midifile from 0") << kMciOk;
    QTest::newRow("pause with trailing blank") << QByteArray("pause midifile ") << kMciOk;
    QTest::newRow("resume with trailing blank") << QByteArray("resume midifile ") << kMciOk;
    QTest::newRow("seek to START") << QByteArray("seek midifile to START") << kMciOk;
    QTest::newRow("seek to END") << QByteArray("seek midifile to END") << kMciOk;
    QTest::newRow("seek to digits") << QByteArray("seek midifile to 1234") << kMciOk;
    QTest::newRow("status position") << QByteArray("status midifile position") << kMciOk;
    QTest::newRow("quoted alias with a blank") << QByteArray("status \"my song\" length") << kMciOk;
    QTest::newRow("open") << QByteArray("open /tmp/a.mid type sequencer alias midifile") << kMciOk;

    // Case and blanks are not significant.
    QTest::newRow("upper-case words") << QByteArray("PLAY MidiFile FROM 5 TO 9") << kMciOk;
    QTest::newRow("tabs and runs of blanks")
        << QByteArray("  status\t\tmidifile   MODE \t ") << kMciOk;
    QTest::newRow("CR LF at the end") << QByteArray("stop midifile\r\n") << kMciOk;

    QTest::newRow("empty") << QByteArray("") << kMciErrMissingCommandString;
    QTest::newRow("blanks only") << QByteArray("   \t ") << kMciErrMissingCommandString;
    QTest::newRow("unknown verb") << QByteArray("rewind midifile") << kMciErrUnrecognizedCommand;
    QTest::newRow("quoted verb is no verb")
        << QByteArray("\"play\" midifile") << kMciErrUnrecognizedCommand;
    QTest::newRow("verb alone") << QByteArray("play") << kMciErrMissingParameter;
    QTest::newRow("verb and blank") << QByteArray("stop ") << kMciErrMissingParameter;

    // The device class's open when the file had no short form: no file at all.
    QTest::newRow("open without file")
        << QByteArray("open  type sequencer alias midifile") << kMciErrMissingParameter;
    QTest::newRow("open alone") << QByteArray("open ") << kMciErrMissingParameter;
    QTest::newRow("open empty quoted file")
        << QByteArray("open \"\" alias m") << kMciErrMissingParameter;
    QTest::newRow("open alias without name")
        << QByteArray("open a.mid alias") << kMciErrMissingParameter;
    QTest::newRow("open type without name")
        << QByteArray("open a.mid type") << kMciErrMissingParameter;
    QTest::newRow("open unknown keyword")
        << QByteArray("open a.mid shareable") << kMciErrUnrecognizedKeyword;
    QTest::newRow("open alias twice")
        << QByteArray("open a.mid alias x alias y") << kMciErrDuplicateFlags;
    QTest::newRow("open unterminated quote")
        << QByteArray("open \"/tmp/a b.mid alias x") << kMciErrNoClosingQuote;

    QTest::newRow("play from nothing")
        << QByteArray("play midifile from") << kMciErrMissingParameter;
    QTest::newRow("play from word") << QByteArray("play midifile from start") << kMciErrBadInteger;
    QTest::newRow("play from negative") << QByteArray("play midifile from -5") << kMciErrBadInteger;
    QTest::newRow("play from signed") << QByteArray("play midifile from +5") << kMciErrBadInteger;
    QTest::newRow("play to trailing letters")
        << QByteArray("play midifile to 12x") << kMciErrBadInteger;
    QTest::newRow("play from beyond 32 bits")
        << QByteArray("play midifile from 4294967296") << kMciErrBadInteger;
    QTest::newRow("play from twice")
        << QByteArray("play midifile from 1 from 2") << kMciErrDuplicateFlags;
    QTest::newRow("play unknown keyword")
        << QByteArray("play midifile fast") << kMciErrUnrecognizedKeyword;
    QTest::newRow("quoted keyword is no keyword")
        << QByteArray("play midifile \"from\" 5") << kMciErrUnrecognizedKeyword;

    QTest::newRow("seek without to") << QByteArray("seek midifile") << kMciErrMissingParameter;
    QTest::newRow("seek to nothing") << QByteArray("seek midifile to ") << kMciErrMissingParameter;
    QTest::newRow("seek without the word to")
        << QByteArray("seek midifile 5") << kMciErrUnrecognizedKeyword;
    QTest::newRow("seek to bad number") << QByteArray("seek midifile to 1.5") << kMciErrBadInteger;
    QTest::newRow("seek to twice")
        << QByteArray("seek midifile to 1 to 2") << kMciErrDuplicateFlags;
    QTest::newRow("seek extra word")
        << QByteArray("seek midifile to end now") << kMciErrUnrecognizedKeyword;

    QTest::newRow("status without item")
        << QByteArray("status midifile ") << kMciErrMissingParameter;
    QTest::newRow("status unknown item")
        << QByteArray("status midifile volume") << kMciErrUnrecognizedKeyword;
    QTest::newRow("status two items")
        << QByteArray("status midifile mode position") << kMciErrUnrecognizedKeyword;
    QTest::newRow("stop extra word")
        << QByteArray("stop midifile now") << kMciErrUnrecognizedKeyword;
    QTest::newRow("close extra word")
        << QByteArray("close midifile all") << kMciErrUnrecognizedKeyword;
}

void TestMciParser::resultCodes()
{
    QFETCH(QByteArray, command);
    QFETCH(uint, code);
    QCOMPARE(parseCommand(command.toStdString()).code, code);
}

void TestMciParser::openFields_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("alias");
    QTest::addColumn<QByteArray>("type");

    QTest::newRow("unquoted path keeps its case")
        << QByteArray("OPEN /Music/Song%20One.MID TYPE Sequencer ALIAS MidiFile")
        << QByteArray("/Music/Song%20One.MID") << QByteArray("MidiFile") << QByteArray("Sequencer");
    QTest::newRow("quoted path with blanks")
        << QByteArray("open \"/tmp/My Songs/a b.mid\" type sequencer alias m")
        << QByteArray("/tmp/My Songs/a b.mid") << QByteArray("m") << QByteArray("sequencer");
    QTest::newRow("non-ASCII path")
        << QByteArray("open /tmp/\xe6\x9b\xb2.mid alias m") << QByteArray("/tmp/\xe6\x9b\xb2.mid")
        << QByteArray("m") << QByteArray();
    QTest::newRow("alias before type")
        << QByteArray("open a.mid alias x type sequencer") << QByteArray("a.mid") << QByteArray("x")
        << QByteArray("sequencer");
    QTest::newRow("no alias: known by its file")
        << QByteArray("open a.mid type sequencer") << QByteArray("a.mid") << QByteArray("a.mid")
        << QByteArray("sequencer");
    QTest::newRow("quoted keyword as the file")
        << QByteArray("open \"type\" alias x") << QByteArray("type") << QByteArray("x")
        << QByteArray();
}

void TestMciParser::openFields()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, alias);
    QFETCH(QByteArray, type);

    const ParseResult r = parseCommand(command.toStdString());
    QCOMPARE(r.code, kMciOk);
    QCOMPARE(r.command.verb, Verb::Open);
    QCOMPARE(QByteArray::fromStdString(r.command.path), path);
    QCOMPARE(QByteArray::fromStdString(r.command.alias), alias);
    QCOMPARE(QByteArray::fromStdString(r.command.deviceType), type);
}

void TestMciParser::playRange_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<qint64>("from"); // -1: not given
    QTest::addColumn<qint64>("to");

    QTest::newRow("plain") << QByteArray("play midifile") << qint64(-1) << qint64(-1);
    QTest::newRow("from 0") << QByteArray("play midifile from 0") << qint64(0) << qint64(-1);
    QTest::newRow("to only") << QByteArray("play midifile to 150") << qint64(-1) << qint64(150);
    QTest::newRow("to before from")
        << QByteArray("play m to 90 from 30") << qint64(30) << qint64(90);
    QTest::newRow("leading zeros") << QByteArray("play m from 007") << qint64(7) << qint64(-1);
    QTest::newRow("largest") << QByteArray("play m from 4294967295") << qint64(4294967295LL)
                             << qint64(-1);
}

void TestMciParser::playRange()
{
    QFETCH(QByteArray, command);
    QFETCH(qint64, from);
    QFETCH(qint64, to);

    const ParseResult r = parseCommand(command.toStdString());
    QCOMPARE(r.code, kMciOk);
    QCOMPARE(r.command.verb, Verb::Play);
    QCOMPARE(qint64(r.command.from.value_or(-1)), from);
    QCOMPARE(qint64(r.command.to.value_or(-1)), to);
}

void TestMciParser::seekTarget_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<SeekTarget>("target");
    QTest::addColumn<qint64>("units");

    QTest::newRow("START") << QByteArray("seek midifile to START") << SeekTarget::Start
                           << qint64(0);
    QTest::newRow("start") << QByteArray("seek midifile to start") << SeekTarget::Start
                           << qint64(0);
    QTest::newRow("END") << QByteArray("seek midifile to END") << SeekTarget::End << qint64(0);
    QTest::newRow("End") << QByteArray("seek midifile to End") << SeekTarget::End << qint64(0);
    QTest::newRow("number") << QByteArray("seek midifile to 980") << SeekTarget::Position
                            << qint64(980);
    QTest::newRow("zero") << QByteArray("seek midifile to 0") << SeekTarget::Position << qint64(0);
}

void TestMciParser::seekTarget()
{
    QFETCH(QByteArray, command);
    QFETCH(SeekTarget, target);
    QFETCH(qint64, units);

    const ParseResult r = parseCommand(command.toStdString());
    QCOMPARE(r.code, kMciOk);
    QCOMPARE(r.command.verb, Verb::Seek);
    QCOMPARE(r.command.seekTarget, target);
    QCOMPARE(qint64(r.command.seekTo), units);
}

void TestMciParser::tokenizerKeepsQuotedTextWhole()
{
    std::vector<Token> tokens;
    QCOMPARE(tokenize(" open  \"a  b\"\"\"x\"y ", tokens), kMciOk);
    QCOMPARE(tokens.size(), std::size_t(4));
    QCOMPARE(QByteArray::fromStdString(tokens[0].text), QByteArray("open"));
    QVERIFY(!tokens[0].quoted);
    QCOMPARE(QByteArray::fromStdString(tokens[1].text), QByteArray("a  b"));
    QVERIFY(tokens[1].quoted);
    QCOMPARE(QByteArray::fromStdString(tokens[2].text), QByteArray(""));
    QVERIFY(tokens[2].quoted);
    // A quote inside an unquoted word is an ordinary character.
    QCOMPARE(QByteArray::fromStdString(tokens[3].text), QByteArray("x\"y"));

    QVERIFY(sameWord("MidiFile", "midifile"));
    QVERIFY(!sameWord("midifile", "midifile2"));
    QCOMPARE(foldCase("MIDI\xc3\x89"), std::string("midi\xc3\x89"));
}

QTEST_GUILESS_MAIN(TestMciParser)
#include "tst_mci_parser.moc"
