// The registry stand-in and the version window's two procedures over it: reading one
// value (GetKeyValue) and finding and starting the system-information program.

#include "info/frmAbout.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/desktop/MessageBox.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace sequora::platform;

namespace {
const QString kKey1 = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kKey2 = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString kNoSysInfo = QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");
} // namespace

class tst_Registry : public QObject {
    Q_OBJECT

    QStringList m_started;
    QStringList m_messages;
    QStringList m_captions;

private slots:
    void init()
    {
        registry::clear();
        m_started.clear();
        m_messages.clear();
        m_captions.clear();
        setStartProgramHook([this](const QString& program, const QStringList&) {
            m_started << program;
            return true;
        });
        setMessageBoxHook([this](const QString& text, const QString& caption) {
            m_messages << text;
            m_captions << caption;
        });
    }

    void cleanup()
    {
        // Whatever a test did, no key may be left open.
        QCOMPARE(registry::openHandleCount(), 0);
        setStartProgramHook({});
        setMessageBoxHook({});
        registry::restoreDefaults();
    }

    void tableLookupIsCaseInsensitiveAndKnowsParentKeys()
    {
        registry::setString(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), QStringLiteral("/x"));
        HKEY key = 0;
        QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\MICROSOFT", 0, 0x2003F, &key),
                 ERROR_SUCCESS);
        HKEY sub = 0;
        QCOMPARE(RegOpenKeyExA(key, "Shared Tools\\msinfo", 0, 0x2003F, &sub), ERROR_SUCCESS);
        char data[8] = {};
        DWORD size = sizeof data;
        DWORD type = 0;
        QCOMPARE(RegQueryValueExA(sub, "path", nullptr, &type, reinterpret_cast<unsigned char*>(data), &size),
                 ERROR_SUCCESS);
        QCOMPARE(type, REG_SZ);
        QCOMPARE(size, DWORD(3));
        QCOMPARE(QByteArray(data), QByteArray("/x"));

        // Too small a buffer is refused and told the size it needs.
        size = 2;
        QCOMPARE(RegQueryValueExA(sub, "PATH", nullptr, &type, reinterpret_cast<unsigned char*>(data), &size),
                 ERROR_MORE_DATA);
        QCOMPARE(size, DWORD(3));

        HKEY missing = 1;
        QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nobody", 0, 0x2003F, &missing),
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(missing, HKEY(0));
        QCOMPARE(RegCloseKey(sub), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_INVALID_HANDLE);
        QCOMPARE(RegCloseKey(0), ERROR_INVALID_HANDLE);
    }

    void getKeyValue_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");

        QTest::newRow("string") << int(REG_SZ) << QByteArray("/usr/bin/hardinfo\0", 18)
                                << QStringLiteral("/usr/bin/hardinfo");
        QTest::newRow("string, non-ASCII") << int(REG_SZ) << (QStringLiteral("/opt/情報").toLocal8Bit() + '\0')
                                           << QStringLiteral("/opt/情報");
        QTest::newRow("string cut at first NUL") << int(REG_SZ) << QByteArray("abc\0def\0", 8)
                                                 << QStringLiteral("abc");
        QTest::newRow("string of 1023 bytes and its NUL") << int(REG_SZ) << (QByteArray(1023, 'a') + '\0')
                                                          << QString(1023, QLatin1Char('a'));
        QTest::newRow("number") << int(REG_DWORD) << QByteArray("\x39\x30\0\0", 4) << QStringLiteral("12345");
        QTest::newRow("number, all bits") << int(REG_DWORD) << QByteArray(4, '\xFF')
                                          << QStringLiteral("4294967295");
        QTest::newRow("binary leaves text as passed") << int(REG_BINARY) << QByteArray("\x01\x02", 2)
                                                      << QStringLiteral("as passed");
    }

    void getKeyValue()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, expected);
        registry::setValue(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), DWORD(type), data);

        QString value = QStringLiteral("as passed");
        QVERIFY(frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), value));
        QCOMPARE(value, expected);
    }

    void getKeyValueFailuresEmptyTheText()
    {
        registry::setString(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), QStringLiteral("/usr/bin/x"));
        QString value;
        QVERIFY(frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), value));
        QCOMPARE(value, QStringLiteral("/usr/bin/x"));

        // The same variable, read again where nothing is: no earlier text may survive.
        QVERIFY(!frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("NOPE"), value));
        QVERIFY(value.isEmpty());

        value = QStringLiteral("earlier");
        QVERIFY(!frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, kKey2, QStringLiteral("MSINFO"), value));
        QVERIFY(value.isEmpty());

        // A value longer than the buffer cannot be read either.
        registry::setValue(HKEY_LOCAL_MACHINE, kKey2, QStringLiteral("MSINFO"), REG_SZ,
                           QByteArray(2000, 'b') + '\0');
        value = QStringLiteral("earlier");
        QVERIFY(!frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, kKey2, QStringLiteral("MSINFO"), value));
        QVERIFY(value.isEmpty());
    }

    void valueFillingTheBufferWithoutNulIsAnError()
    {
        registry::setValue(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), REG_SZ, QByteArray(1024, 'c'));
        QString value = QStringLiteral("kept");
        QVERIFY_THROWS_EXCEPTION(frmAbout::ValueTooLong,
                                 frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), value));
        QCOMPARE(value, QStringLiteral("kept"));
        // cleanup() checks that the key was closed all the same.
    }

    void startSysInfo_data()
    {
        QTest::addColumn<bool>("firstValue");
        QTest::addColumn<bool>("secondValue");
        QTest::addColumn<bool>("fileInFolder");
        QTest::addColumn<QString>("startedProgram"); // "FOLDER" = the temp folder's file

        QTest::newRow("first value alone") << true << false << false << QStringLiteral("/usr/bin/hardinfo");
        QTest::newRow("first value wins over second") << true << true << true << QStringLiteral("/usr/bin/hardinfo");
        QTest::newRow("second value, program there") << false << true << true << QStringLiteral("FOLDER");
        QTest::newRow("second value, program missing") << false << true << false << QString();
        QTest::newRow("no values") << false << false << false << QString();
    }

    void startSysInfo()
    {
        QFETCH(bool, firstValue);
        QFETCH(bool, secondValue);
        QFETCH(bool, fileInFolder);
        QFETCH(QString, startedProgram);

        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString program = folder.filePath(QStringLiteral("MSINFO32.EXE"));
        if (fileInFolder) {
            QFile file(program);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (firstValue)
            registry::setString(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), QStringLiteral("/usr/bin/hardinfo"));
        if (secondValue)
            registry::setString(HKEY_LOCAL_MACHINE, kKey2, QStringLiteral("MSINFO"), folder.path());

        frmAbout about;
        about.StartSysInfo();

        if (startedProgram.isEmpty()) {
            QVERIFY(m_started.isEmpty());
            QCOMPARE(m_messages, QStringList{kNoSysInfo});
            QCOMPARE(m_captions, QStringList{QStringLiteral("Sequora")});
        } else {
            QCOMPARE(m_started, QStringList{startedProgram == QLatin1String("FOLDER") ? program : startedProgram});
            QVERIFY(m_messages.isEmpty());
        }
    }

    void startSysInfoReportsUnusableValues_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("first value of another type") << int(REG_BINARY) << QByteArray("\x7F\x45\x4C\x46", 4);
        QTest::newRow("first value fills the buffer") << int(REG_SZ) << QByteArray(1024, 'd');
    }

    void startSysInfoReportsUnusableValues()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, data);
        registry::setValue(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), DWORD(type), data);
        // A usable second value must not rescue either case.
        QTemporaryDir folder;
        QFile(folder.filePath(QStringLiteral("MSINFO32.EXE"))).open(QIODevice::WriteOnly);
        registry::setString(HKEY_LOCAL_MACHINE, kKey2, QStringLiteral("MSINFO"), folder.path());

        frmAbout about;
        about.StartSysInfo();
        QVERIFY(m_started.isEmpty());
        QCOMPARE(m_messages, QStringList{kNoSysInfo});
    }

    void startFailureIsReported()
    {
        registry::setString(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), QStringLiteral("/nonexistent/sysinfo"));
        setStartProgramHook([](const QString&, const QStringList&) { return false; });
        frmAbout about;
        about.cmdSysInfo_Click();
        QCOMPARE(m_messages, QStringList{kNoSysInfo});
    }

    void desktopTableNamesAnInstalledProgramOrNothing()
    {
        registry::restoreDefaults();
        QString value;
        const bool found = frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, kKey1, QStringLiteral("PATH"), value);
        QCOMPARE(found, !value.isEmpty());
        if (found)
            QVERIFY2(QFileInfo(value).isExecutable(), qPrintable(value));
        // The second key has no counterpart on this desktop.
        QVERIFY(!frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, kKey2, QStringLiteral("MSINFO"), value));
    }
};

QTEST_MAIN(tst_Registry)
#include "tst_registry.moc"
