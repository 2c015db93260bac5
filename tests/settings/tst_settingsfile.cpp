// The settings file: its INI model, the mapping of the 44 keys, and saving and loading
// through the file system.
#include "SettingsPrint.h"
#include "settings/SettingsFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Bytes(const std::string& s) {
    return QByteArray::fromStdString(s);
}

std::string_view View(const QByteArray& b) {
    return {b.constData(), static_cast<size_t>(b.size())};
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The file an untouched page saves: every key in its place, choices as -1.
const QByteArray DefaultFile = "[KT580]\r\n"
                               "Password=\r\nAddress=1\r\nBaudrate=\r\nParity=-1\r\n"
                               "VoltageWiring=-1\r\nPT1=\r\nPT2=\r\nCT1=\r\nCT2=\r\nQMode=-1\r\n"
                               "LoadConvention=-1\r\nROType=-1\r\nDOType=-1\r\nDO1Output=-1\r\n"
                               "DO2Output=-1\r\nDOPulseConst=\r\nBacklightTime=0\r\n"
                               "AlarmItems=-1\r\nAlarmOperator=-1\r\nAlarmSetpoint=\r\n"
                               "AlarmDelay=\r\nAlarmOutput=-1\r\nRO1AlarmItems=-1\r\n"
                               "RO1AlarmOperator=-1\r\nRO1AlarmSetpoint=\r\nRO1AlarmDelay=\r\n"
                               "RO1AlarmOutput=-1\r\nRO2AlarmItems=-1\r\nRO2AlarmOperator=-1\r\n"
                               "RO2AlarmSetpoint=\r\nRO2AlarmDelay=\r\nRO2AlarmOutput=-1\r\n"
                               "AO1Mode=-1\r\nAO1Object=-1\r\nAO1HLOpt=-1\r\nAO1HighLimit=\r\n"
                               "AO1LLOpt=-1\r\nAO1LowLimit=\r\nAO2Mode=-1\r\nAO2Object=-1\r\n"
                               "AO2HLOpt=-1\r\nAO2HighLimit=\r\nAO2LLOpt=-1\r\nAO2LowLimit=\r\n"
                               "\r\n";

TMeterSettings Filled() {
    TMeterSettings s;
    int choice = 0;
    for (const TSettingsField& field : MeterSettingsFields()) {
        if (field.Text)
            s.*field.Text = QStringLiteral("%1 value ü").arg(field.Name);
        else
            s.*field.Choice = choice++ % 5 - 1; // -1 included
    }
    s.Baudrate = "57600";
    s.PT1 = "500000";
    return s;
}

ino_t Inode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// A small file system of its own in a private folder, unmounted at the end.
class TSmallDisk {
public:
    TSmallDisk() {
        FMounted =
            FDir.isValid() && ::mount("tmpfs", QFile::encodeName(FDir.path()).constData(), "tmpfs",
                                      MS_NOSUID | MS_NODEV, "size=64k,mode=0755") == 0;
    }
    ~TSmallDisk() {
        if (FMounted)
            ::umount2(QFile::encodeName(FDir.path()).constData(), MNT_DETACH);
    }
    TSmallDisk(const TSmallDisk&) = delete;
    TSmallDisk& operator=(const TSmallDisk&) = delete;
    bool Mounted() const { return FMounted; }
    QString Root() const { return FDir.path(); }
    QString Path(const QString& name) const { return FDir.filePath(name); }
    // Takes every free block, so the next block anybody asks for is refused.
    bool Fill() const {
        const int fd = ::open(QFile::encodeName(Path("filler")).constData(),
                              O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const std::string block(4096, 'f');
        int lastErrno = 0;
        for (;;) {
            if (::write(fd, block.data(), block.size()) < 0) {
                lastErrno = errno;
                break;
            }
        }
        // Whatever a single byte can still take.
        while (::write(fd, "f", 1) == 1) {
        }
        ::close(fd);
        return lastErrno == ENOSPC;
    }

private:
    QTemporaryDir FDir;
    bool FMounted = false;
};

// While it lives, the folder takes no new file but the file in it stays writable. Root passes
// any permission, so for root the checks are made as another user (the file system user id
// is per thread, and dropping it drops the override).
class TFolderNotWritable {
public:
    TFolderNotWritable(const QString& folder, const QString& file) : FFolder(folder) {
        if (FFolder.isEmpty())
            return;
        ::chmod(QFile::encodeName(file).constData(), 0666);
        ::chmod(QFile::encodeName(FFolder).constData(), 0555);
        if (::geteuid() == 0)
            ::setfsuid(65534);
    }
    ~TFolderNotWritable() {
        if (FFolder.isEmpty())
            return;
        if (::geteuid() == 0)
            ::setfsuid(0);
        ::chmod(QFile::encodeName(FFolder).constData(), 0755);
    }
    TFolderNotWritable(const TFolderNotWritable&) = delete;
    TFolderNotWritable& operator=(const TFolderNotWritable&) = delete;

private:
    QString FFolder;
};

} // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(FTemp.isValid()); }

    void parse_data();
    void parse();
    void lookup_data();
    void lookup();
    void setValue_data();
    void setValue();
    void choiceValue_data();
    void choiceValue();
    void restore_data();
    void restore();
    void saveUntouchedPage();
    void saveLoadRoundTrip();
    void saveKeepsOtherSections();
    void refusedFiles_data();
    void refusedFiles();
    void failedSaveKeepsFile_data();
    void failedSaveKeepsFile();
    void folderNotWritable();
    void eightBitBytesSurvive();
    void valuesNeverCut_data();
    void valuesNeverCut();
    void saveIntoMissingFolder();

private:
    QString Path(const QString& name) const { return FTemp.filePath(name); }

    QTemporaryDir FTemp;
};

void TestSettingsFile::parse_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("CR LF") << QByteArray("[A]\r\nx=1\r\n") << QByteArray("[A]\r\nx=1\r\n\r\n");
    QTest::newRow("LF and CR line ends") << QByteArray("[A]\nx=1\ry=2\n[B]\rz=3")
                                         << QByteArray("[A]\r\nx=1\r\ny=2\r\n\r\n"
                                                       "[B]\r\nz=3\r\n\r\n");
    QTest::newRow("blanks around key and value")
        << QByteArray("[ A ]\r\n  x  =  1 2  \t\r\n") << QByteArray("[A]\r\nx=1 2\r\n\r\n");
    QTest::newRow("comments, empty lines, lines before the first section")
        << QByteArray("pre=1\r\n;c\r\n\r\n[A]\r\n  ; indented comment\r\n\r\nx=1\r\n")
        << QByteArray("[A]\r\nx=1\r\n\r\n");
    QTest::newRow("line without = kept as it stands")
        << QByteArray("[A]\r\n  just  text \r\n") << QByteArray("[A]\r\njust  text\r\n\r\n");
    QTest::newRow("only the first = splits")
        << QByteArray("[A]\r\nx = a = b\r\n") << QByteArray("[A]\r\nx=a = b\r\n\r\n");
    QTest::newRow("repeated sections stay apart")
        << QByteArray("[A]\r\nx=1\r\n[a]\r\nx=2\r\n")
        << QByteArray("[A]\r\nx=1\r\n\r\n[a]\r\nx=2\r\n\r\n");
    QTest::newRow("empty section")
        << QByteArray("[A]\r\n[B]\r\nx=1") << QByteArray("[A]\r\n\r\n[B]\r\nx=1\r\n\r\n");
    QTest::newRow("lone bracket is a line")
        << QByteArray("[A]\r\n[\r\n") << QByteArray("[A]\r\n[\r\n\r\n");
    QTest::newRow("no section at all") << QByteArray("x=1\r\n") << QByteArray("");
}

void TestSettingsFile::parse() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, written);
    const TSettingsFileModel model = TSettingsFileModel::Parse(View(input));
    QCOMPARE(Bytes(model.Serialize()), written);
    QCOMPARE(TSettingsFileModel::Parse(model.Serialize()), model);
}

void TestSettingsFile::lookup_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected"); // "(missing)" when there is none

    const QByteArray missing("(missing)");
    QTest::newRow("plain") << QByteArray("[KT580]\r\nParity=1") << QByteArray("KT580")
                           << QByteArray("Parity") << QByteArray("1");
    QTest::newRow("case of section and key")
        << QByteArray("[kt580]\r\nparity=1") << QByteArray("KT580") << QByteArray("PARITY")
        << QByteArray("1");
    QTest::newRow("last key wins") << QByteArray("[A]\r\nx=1\r\nX=2\r\ny=3") << QByteArray("a")
                                   << QByteArray("x") << QByteArray("2");
    QTest::newRow("last section wins") << QByteArray("[A]\r\nx=1\r\ny=5\r\n[a]\r\nx=2")
                                       << QByteArray("A") << QByteArray("y") << missing;
    QTest::newRow("empty value") << QByteArray("[A]\r\nx=") << QByteArray("A") << QByteArray("x")
                                 << QByteArray("");
    QTest::newRow("value holding =")
        << QByteArray("[A]\r\nx = a=b") << QByteArray("A") << QByteArray("x") << QByteArray("a=b");
    QTest::newRow("line without = never matches")
        << QByteArray("[A]\r\nx=1\r\nx") << QByteArray("A") << QByteArray("x") << QByteArray("1");
    QTest::newRow("missing section")
        << QByteArray("[B]\r\nx=1") << QByteArray("A") << QByteArray("x") << missing;
    QTest::newRow("key of another section")
        << QByteArray("[A]\r\ny=1\r\n[B]\r\nx=1") << QByteArray("A") << QByteArray("x") << missing;
    QTest::newRow("key prefix is no match")
        << QByteArray("[A]\r\nxy=1") << QByteArray("A") << QByteArray("x") << missing;
}

void TestSettingsFile::lookup() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);
    const auto value = TSettingsFileModel::Parse(View(input)).Value(View(section), View(key));
    QCOMPARE(value ? Bytes(*value) : QByteArray("(missing)"), expected);
}

void TestSettingsFile::setValue_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("replaces in place, keeping neighbours")
        << QByteArray("[A]\r\nx=1\r\ny=2") << QByteArray("A") << QByteArray("X") << QByteArray("9")
        << QByteArray("[A]\r\nX=9\r\ny=2\r\n\r\n");
    QTest::newRow("replaces the last occurrence only")
        << QByteArray("[A]\r\nx=1\r\nx=2\r\nz") << QByteArray("A") << QByteArray("x")
        << QByteArray("9") << QByteArray("[A]\r\nx=1\r\nx=9\r\nz\r\n\r\n");
    QTest::newRow("appends to the end of the section")
        << QByteArray("[A]\r\nx=1\r\n[B]\r\ny=2") << QByteArray("a") << QByteArray("z")
        << QByteArray("3") << QByteArray("[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n\r\n");
    QTest::newRow("uses the last section of the name")
        << QByteArray("[A]\r\nx=1\r\n[A]\r\ny=2") << QByteArray("A") << QByteArray("x")
        << QByteArray("3") << QByteArray("[A]\r\nx=1\r\n\r\n[A]\r\ny=2\r\nx=3\r\n\r\n");
    QTest::newRow("appends a new section")
        << QByteArray("[B]\r\ny=2") << QByteArray("A") << QByteArray("x") << QByteArray("")
        << QByteArray("[B]\r\ny=2\r\n\r\n[A]\r\nx=\r\n\r\n");
    QTest::newRow("a line without = is not the key")
        << QByteArray("[A]\r\nx") << QByteArray("A") << QByteArray("x") << QByteArray("1")
        << QByteArray("[A]\r\nx\r\nx=1\r\n\r\n");
    QTest::newRow("line breaks in a value cannot add lines")
        << QByteArray("") << QByteArray("A") << QByteArray("x") << QByteArray("1\r\n[B]\ny=2")
        << QByteArray("[A]\r\nx=1  [B] y=2\r\n\r\n");
}

void TestSettingsFile::setValue() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, written);
    TSettingsFileModel model = TSettingsFileModel::Parse(View(input));
    model.SetValue(View(section), View(key), View(value));
    QCOMPARE(Bytes(model.Serialize()), written);
}

void TestSettingsFile::choiceValue_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("decimal") << QByteArray("7") << 7;
    QTest::newRow("minus one") << QByteArray("-1") << -1;
    QTest::newRow("plus sign") << QByteArray("+3") << 3;
    QTest::newRow("0x") << QByteArray("0x2") << 2;
    QTest::newRow("0X upper digits") << QByteArray("0X1F") << 31;
    QTest::newRow("dollar") << QByteArray("$a") << 10;
    QTest::newRow("negative hex") << QByteArray("-$10") << -16;
    QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("int min") << QByteArray("-2147483648") << int(-2147483647 - 1);
    QTest::newRow("beyond 32 bits") << QByteArray("2147483648") << 0;
    QTest::newRow("hex beyond 32 bits") << QByteArray("0x100000000") << 0;
    QTest::newRow("long digit run") << QByteArray("000000000000000000000000000000005") << 5;
    QTest::newRow("not an integer") << QByteArray("abc") << 0;
    QTest::newRow("hex digit without prefix") << QByteArray("1F") << 0;
    QTest::newRow("prefix alone") << QByteArray("0x") << 0;
    QTest::newRow("empty") << QByteArray("") << 0;
    QTest::newRow("inner blank") << QByteArray("1 2") << 0;
}

void TestSettingsFile::choiceValue() {
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    QCOMPARE(ChoiceValue(View(text)), expected);
}

void TestSettingsFile::restore_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<TMeterSettings>("expected");

    // Every key missing: texts empty (no "1" for the address), choices 0.
    TMeterSettings empty;
    for (const TSettingsField& field : MeterSettingsFields()) {
        if (field.Text)
            (empty.*field.Text).clear();
        else
            empty.*field.Choice = 0;
    }
    QTest::newRow("no KT580 section") << QByteArray("[Other]\r\nPassword=5\r\n") << empty;

    TMeterSettings onlyPassword = empty;
    onlyPassword.Password = "1234";
    QTest::newRow("only Password") << QByteArray("[KT580]\r\nPassword=1234") << onlyPassword;

    TMeterSettings rules = empty;
    rules.Parity = 7;        // the page then shows its last button
    rules.VoltageWiring = 7; // and here no entry
    rules.QMode = 0;
    rules.ROType = 2;
    rules.PT1 = "400";
    rules.Baudrate = "38400";
    rules.AO1Mode = -1;
    rules.AlarmSetpoint = "not a number";
    QTest::newRow("values as the page gets them")
        << QByteArray("[kt580]\r\nparity=7\r\nVoltageWiring=7\r\nQMode=abc\r\nROType=0x2\r\n"
                      "PT1 = 400 \r\nBaudrate=38400\r\nAO1Mode=-1\r\n"
                      "AlarmSetpoint=not a number\r\n")
        << rules;

    TMeterSettings last = empty;
    last.Address = "2";
    last.DOType = 1;
    QTest::newRow("last occurrence wins")
        << QByteArray("[KT580]\r\nAddress=1\r\nDOType=0\r\n[KT580]\r\nAddress=2\r\nDOType=$1\r\n")
        << last;
}

void TestSettingsFile::restore() {
    QFETCH(QByteArray, file);
    QFETCH(TMeterSettings, expected);
    TMeterSettings restored;
    QString refused;
    QVERIFY(RestoreSettings(TSettingsFileModel::Parse(View(file)), restored, refused));
    QCOMPARE(restored, expected);

    // The same through the file system.
    const QString path = Path("restore.pmt");
    QVERIFY(WriteAll(path, file));
    TMeterSettings loaded = Filled();
    QString error;
    QVERIFY(LoadSettingsFile(path, loaded, error));
    QCOMPARE(loaded, expected);
}

void TestSettingsFile::saveUntouchedPage() {
    const QString path = Path("new.pmt");
    QString error;
    QVERIFY(SaveSettingsFile(path, TMeterSettings{}, error));
    QCOMPARE(ReadAll(path), DefaultFile);
}

void TestSettingsFile::saveLoadRoundTrip() {
    const QString path = Path("round.pmt");
    const TMeterSettings written = Filled();
    QString error;
    QVERIFY(SaveSettingsFile(path, written, error));
    TMeterSettings loaded;
    QVERIFY2(LoadSettingsFile(path, loaded, error), qPrintable(error));
    QCOMPARE(loaded, written);
    QCOMPARE(loaded.Parity, -1);

    // Saving again over its own file changes nothing.
    const QByteArray first = ReadAll(path);
    QVERIFY(SaveSettingsFile(path, loaded, error));
    QCOMPARE(ReadAll(path), first);
}

void TestSettingsFile::saveKeepsOtherSections() {
    const QString path = Path("shared.pmt");
    QVERIFY(WriteAll(path, "; written by hand\r\n[Site]\nName = North hall\n\n"
                           "[kt580]\r\nPassword=1\r\nCustom=kept\r\n[Tail]\rx=1"));
    TMeterSettings s;
    s.Password = "42";
    QString error;
    QVERIFY(SaveSettingsFile(path, s, error));
    QByteArray expected = "[Site]\r\nName=North hall\r\n\r\n[kt580]\r\nPassword=42\r\n"
                          "Custom=kept\r\n";
    // The other 43 keys follow the lines already there, in their order.
    expected += DefaultFile.mid(DefaultFile.indexOf("Address="),
                                DefaultFile.size() - DefaultFile.indexOf("Address="));
    expected += "[Tail]\r\nx=1\r\n\r\n";
    QCOMPARE(ReadAll(path), expected);
}

void TestSettingsFile::refusedFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("folder") << "folder";
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("device") << "device";
    QTest::newRow("above 1 MiB") << "large";
}

void TestSettingsFile::refusedFiles() {
    QFETCH(QString, kind);
    QString path = Path("refused-" + kind);
    if (kind == "folder")
        QVERIFY(QDir().mkdir(path));
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "device")
        path = "/dev/null"; // only ever opened for reading here
    else if (kind == "large")
        QVERIFY(WriteAll(path, "[KT580]\r\nPassword=1\r\n" + QByteArray(1024 * 1024, ';')));
    const QString expected = "Cannot open file " + QFileInfo(path).absoluteFilePath() +
                             (kind == "large" ? ": it is too large" : "");

    TMeterSettings loaded = Filled();
    QString error;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!LoadSettingsFile(path, loaded, error));
    QCOMPARE(error, expected);
    QCOMPARE(loaded, Filled());
    // A FIFO without a writer must not hold the caller.
    QVERIFY(clock.elapsed() < 5000);

    if (kind == "missing" || kind == "device")
        return; // a missing file is simply created on save; /dev/null is never written
    error.clear();
    const QFileInfo before(path);
    QVERIFY(!SaveSettingsFile(path, TMeterSettings{}, error));
    QCOMPARE(error, expected);
    const QFileInfo after(path);
    QCOMPARE(after.isFile(), before.isFile());
    QCOMPARE(after.size(), before.size());
}

void TestSettingsFile::failedSaveKeepsFile_data() {
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<int>("otherBytes"); // another section already in the file
    QTest::newRow("replaced beside") << true << 0;
    // In place, the new content needs more room than the old file has.
    QTest::newRow("rewritten in place") << false << 4000;
}

void TestSettingsFile::failedSaveKeepsFile() {
    QFETCH(bool, folderWritable);
    QFETCH(int, otherBytes);
    TSmallDisk disk;
    if (!disk.Mounted())
        QSKIP("cannot mount a small file system here (needs root or CAP_SYS_ADMIN)");
    const QString path = disk.Path("old.pmt");
    QByteArray old = "[KT580]\r\nPassword=old\r\n";
    if (otherBytes > 0)
        old += "[Other]\r\n" + QByteArray(otherBytes, 'x') + "=1\r\n";
    QVERIFY(WriteAll(path, old));
    QVERIFY(disk.Fill());
    const TFolderNotWritable guard(folderWritable ? QString() : disk.Root(), path);
    QString error;
    QVERIFY(!SaveSettingsFile(path, Filled(), error));
    QCOMPARE(error, "Cannot create file " + QFileInfo(path).absoluteFilePath());
    QCOMPARE(ReadAll(path), old);
    // No temporary file left behind.
    QCOMPARE(QDir(disk.Root()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestSettingsFile::folderNotWritable() {
    // A writable file in a folder that takes no new file: rewritten in place, the same file.
    const QString path = Path("fixed.pmt");
    QVERIFY(WriteAll(path, "[Other]\r\nkeep=1\r\n"));
    const ino_t inode = Inode(path);
    {
        const TFolderNotWritable guard(FTemp.path(), path);
        QString error;
        QVERIFY2(SaveSettingsFile(path, Filled(), error), qPrintable(error));
        // A new file in the same folder cannot be made.
        QVERIFY(!SaveSettingsFile(Path("new.pmt"), Filled(), error));
        QCOMPARE(error, "Cannot create file " + Path("new.pmt"));
    }
    QCOMPARE(Inode(path), inode);
    TMeterSettings loaded;
    QString error;
    QVERIFY(LoadSettingsFile(path, loaded, error));
    QCOMPARE(loaded, Filled());
    QVERIFY(ReadAll(path).startsWith("[Other]\r\nkeep=1\r\n\r\n[KT580]\r\n"));

    // A name that leaves no room for the temporary file's suffix is rewritten in place too.
    const QString longName = Path(QString(250, u'k') + ".pmt");
    QVERIFY(WriteAll(longName, "[KT580]\r\nPassword=old\r\n"));
    QVERIFY(SaveSettingsFile(longName, Filled(), error));
    QVERIFY(LoadSettingsFile(longName, loaded, error));
    QCOMPARE(loaded, Filled());

    // Exactly 1 MiB is still a settings file.
    const QString limit = Path("limit.pmt");
    QByteArray big = "[KT580]\r\nPassword=big\r\n";
    big += QByteArray(1024 * 1024 - big.size(), ';');
    QVERIFY(WriteAll(limit, big));
    QVERIFY(LoadSettingsFile(limit, loaded, error));
    QCOMPARE(loaded.Password, QStringLiteral("big"));
}

void TestSettingsFile::eightBitBytesSurvive() {
    // Bytes that are no UTF-8, in a value and in a line of another section.
    const QByteArray file = "[Other]\r\nName=Halle \xFC\xDF\xC3\r\n\r\n[KT580]\r\n"
                            "Password=\xE9\x80\xFF"
                            "1\r\nCT1=5\xA0\r\n";
    const QString path = Path("latin.pmt");
    QVERIFY(WriteAll(path, file));
    TMeterSettings loaded;
    QString error;
    QVERIFY(LoadSettingsFile(path, loaded, error));
    QCOMPARE(loaded.Password.size(), 4);
    QVERIFY(SaveSettingsFile(path, loaded, error));
    const QByteArray saved = ReadAll(path);
    QVERIFY(saved.startsWith("[Other]\r\nName=Halle \xFC\xDF\xC3\r\n\r\n[KT580]\r\n"
                             "Password=\xE9\x80\xFF"
                             "1\r\nCT1=5\xA0\r\n"));
    TMeterSettings again;
    QVERIFY(LoadSettingsFile(path, again, error));
    QCOMPARE(again, loaded);
}

void TestSettingsFile::valuesNeverCut_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("loads");
    QTest::newRow("as long as a field holds") << SettingsTextMaxLength << true;
    QTest::newRow("one more") << SettingsTextMaxLength + 1 << false;
}

void TestSettingsFile::valuesNeverCut() {
    QFETCH(int, length);
    QFETCH(bool, loads);
    const QString path = Path("long.pmt");
    QVERIFY(WriteAll(path, "[KT580]\r\nCT1=" + QByteArray(length, '9') + "\r\n"));
    TMeterSettings loaded = Filled();
    QString error;
    QCOMPARE(LoadSettingsFile(path, loaded, error), loads);
    if (loads) {
        QCOMPARE(loaded.CT1.size(), length);
        return;
    }
    QCOMPARE(error, "Cannot load file " + path + ": the value of CT1 is too long: more than " +
                        QString::number(SettingsTextMaxLength) + " characters");
    QCOMPARE(loaded, Filled());

    // A character a file of 8-bit text cannot hold is refused as well, the file untouched.
    TMeterSettings wide = Filled();
    wide.PT2 = QStringLiteral("400\u20AC");
    const QByteArray before = ReadAll(path);
    QVERIFY(!SaveSettingsFile(path, wide, error));
    QCOMPARE(error, QString("PT2 holds characters a settings file cannot store"));
    QCOMPARE(ReadAll(path), before);
}

void TestSettingsFile::saveIntoMissingFolder() {
    const QString path = Path("no/such/folder/x.pmt");
    QString error;
    QVERIFY(!SaveSettingsFile(path, TMeterSettings{}, error));
    QCOMPARE(error, "Cannot create file " + path);
    QVERIFY(!QFileInfo::exists(path));
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
