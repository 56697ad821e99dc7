// The one decoder of legacy text: which code page a name or a song's texts are read in,
// and what they read as.

#include "platform/midi/file/TextDecoder.h"

#include <QtTest>

#include <string>
#include <vector>

namespace text = sequora::midi::text;
using text::Encoding;

Q_DECLARE_METATYPE(Encoding)

class TestTextDecoder : public QObject {
    Q_OBJECT

private slots:
    void decodesOneText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Encoding>("encoding");
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QByteArray("plain.mid") << Encoding::Utf8 << "plain.mid";
        QTest::newRow("utf-8") << QByteArray("テスト曲.mid") << Encoding::Utf8 << "テスト曲.mid";
        // 0x5C, the ASCII backslash, as the trail byte of a two-byte character.
        QTest::newRow("cp932 5c trail")
            << QByteArray("\x95\x5C\x83\x5C.mid") << Encoding::Cp932 << "表ソ.mid";
        QTest::newRow("cp932 lead as euc-jp control")
            << QByteArray("\x83\x41") << Encoding::Cp932 << "ア";
        QTest::newRow("cp932 kana") << QByteArray("\x83\x65\x83\x58\x83\x67sjis.mid")
                                    << Encoding::Cp932 << "テストsjis.mid";
        QTest::newRow("cp932 nec, ibm")
            << QByteArray("\x87\x40\xFA\x40") << Encoding::Cp932 << "①ⅰ";
        QTest::newRow("cp932 halfwidth")
            << QByteArray("\xBF\xC6\xAF\xB8.MID") << Encoding::Cp932 << "ｿﾆｯｸ.MID";
        QTest::newRow("euc-jp kanji")
            << QByteArray("\xC5\xEC\xB5\xFE.mid") << Encoding::EucJp << "東京.mid";
        // Also six halfwidth katakana in CP932: the fullwidth reading is the Japanese one.
        QTest::newRow("euc-jp kana only")
            << QByteArray("\xA5\xC6\xA5\xB9\xA5\xC8") << Encoding::EucJp << "テスト";
        QTest::newRow("euc-jp short kanji")
            << QByteArray("\xB0\xA1.mid") << Encoding::EucJp << "亜.mid";
        QTest::newRow("latin-1") << QByteArray("caf\xE9.mid") << Encoding::Cp1252 << "café.mid";
        // Western text is read as Windows-1252, as browsers read "latin1".
        QTest::newRow("cp1252 curly apostrophe")
            << QByteArray("lovin\x92 that you") << Encoding::Cp1252 << "lovin’ that you";
        QTest::newRow("cp1252 euro and dash")
            << QByteArray("5\x80 \x96 \x93ok\x94") << Encoding::Cp1252 << "5€ – “ok”";
        // Its five undefined bytes stay in sight as marks.
        QTest::newRow("cp1252 undefined byte")
            << QByteArray("a\x81 z") << Encoding::Cp1252 << "a\uFFFD z";
        QTest::newRow("undecodable")
            << QByteArray("\x80\xFF\xFE") << Encoding::Cp1252 << QString::fromUtf8("€ÿþ");
        QTest::newRow("overlong utf-8")
            << QByteArray("\xC0\x80") << Encoding::Cp1252 << QString::fromUtf8("À€");
        QTest::newRow("utf-8 surrogate")
            << QByteArray("\xED\xA0\x80") << Encoding::Cp1252 << QString::fromUtf8("í\u00A0€");
    }
    void decodesOneText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Encoding, encoding);
        QFETCH(QString, text);
        const std::string_view view(bytes.constData(), std::size_t(bytes.size()));
        const std::string_view samples[] = { view };
        QCOMPARE(int(text::detect(samples)), int(encoding));
        QCOMPARE(QString::fromStdString(text::decodeText(view)), text);
    }

    void detectsOverAllTexts()
    {
        // Each alone reads as something else; together only CP932 reads them all.
        const std::vector<std::string_view> song = { "\xA5\xC6\xA5\xB9", "\x83\x65\x83\x58" };
        QCOMPARE(int(text::detect(song)), int(Encoding::Cp932));
        // Three damaged texts among many valid Shift_JIS ones: still Shift_JIS, not the
        // Western last resort that reads every byte.
        std::vector<std::string_view> damaged(40, "\x81\x79 \x93\x8c\x95\xfb \x81\x7a");
        damaged.insert(damaged.end(), 3, "\x82\xFF\x82\xA0");
        damaged.push_back("Roland GS");
        QCOMPARE(int(text::detect(damaged)), int(Encoding::Cp932));
        // Western words with curly quotes: some read as CP932 pairs by chance, not all.
        const std::vector<std::string_view> western = { "it\x92s", "lovin\x92 that", "plain" };
        QCOMPARE(int(text::detect(western)), int(Encoding::Cp1252));
        const std::vector<std::string_view> ascii = { "Title", "la la" };
        QCOMPARE(int(text::detect(ascii)), int(Encoding::Utf8));
        QCOMPARE(int(text::detect({})), int(Encoding::Utf8));
    }

    void hintFirstWhenItDecodes()
    {
        const std::vector<std::string_view> kana = { "\xA5\xC6\xA5\xB9\xA5\xC8" };
        QCOMPARE(int(text::detect(kana, Encoding::Cp932)), int(Encoding::Cp932));
        const std::vector<std::string_view> bad = { "\x95\x5C" }; // not EUC-JP
        QCOMPARE(int(text::detect(bad, Encoding::EucJp)), int(Encoding::Cp932));
    }

    void decodeNeverFails_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Encoding>("encoding");
        QTest::addColumn<QString>("text");
        QTest::newRow("cp932 bad trail")
            << QByteArray("a\x81\x20z") << Encoding::Cp932 << "a\uFFFD z";
        QTest::newRow("cp932 cut off") << QByteArray("ab\x83") << Encoding::Cp932 << "ab\uFFFD";
        // A damaged pair is one character: one mark, and the next reads on.
        QTest::newRow("cp932 0xFF in a pair")
            << QByteArray("\x82\xFF\x82\xA0") << Encoding::Cp932 << "\uFFFDあ";
        QTest::newRow("euc-jp stray")
            << QByteArray("\x95x\xA4\xA2") << Encoding::EucJp << "\uFFFDxあ";
        QTest::newRow("cp1252 undefined bytes")
            << QByteArray("\x81\x8D\x8F\x90\x9D\x92") << Encoding::Cp1252
            << "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD’";
        QTest::newRow("utf-8 stray")
            << QByteArray("\xE3\x81x") << Encoding::Utf8 << "\uFFFD\uFFFDx";
        QTest::newRow("nul kept") << QByteArray("a\0b", 3) << Encoding::Cp932
                                  << QString::fromLatin1("a\0b", 3);
    }
    void decodeNeverFails()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Encoding, encoding);
        QFETCH(QString, text);
        const std::string out
            = text::decode({ bytes.constData(), std::size_t(bytes.size()) }, encoding);
        QCOMPARE(QString::fromStdString(out), text);
    }

    void longTextAcrossChunks()
    {
        std::string kana;
        for (int i = 0; i < 5000; ++i)
            kana += "\x82\xA0"; // あ in CP932
        const std::string out = text::decodeText(kana);
        QCOMPARE(QString::fromStdString(out), QString(5000, QChar(0x3042)));
    }
};

QTEST_APPLESS_MAIN(TestTextDecoder)
#include "tst_textdecoder.moc"
