// Lists of meter addresses as typed, "1,3,7-9": what is accepted, what each mistake is called,
// and the short form written back.
#include "meter/AddressList.h"

#include <QtTest>

class TestAddressList : public QObject {
    Q_OBJECT

private slots:
    void parseAndFormat_data();
    void parseAndFormat();
};

void TestAddressList::parseAndFormat_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("addresses"); // in the order parsed ("" not compared)
    QTest::addColumn<QString>("result");    // the addresses written back, or words of the error

    QTest::newRow("singles and a range") << "1,3,7-9" << true << "1 3 7 8 9"
                                         << "1,3,7-9";
    QTest::newRow("order typed kept, written sorted") << "9, 1 ,7 - 8,3" << true << "9 1 7 8 3"
                                                      << "1,3,7-9";
    QTest::newRow("the whole range") << "1-247" << true << ""
                                     << "1-247";
    QTest::newRow("one address") << "247" << true << "247"
                                 << "247";
    QTest::newRow("a range of one") << "5-5" << true << "5"
                                    << "5";
    QTest::newRow("neighbours typed apart") << "4,5" << true << "4 5"
                                            << "4-5";
    QTest::newRow("empty") << "  " << false << ""
                           << "No address given";
    QTest::newRow("empty entry") << "1,,3" << false << ""
                                 << "empty entry";
    QTest::newRow("trailing comma") << "1,3," << false << ""
                                    << "empty entry";
    QTest::newRow("address 0") << "0,3" << false << ""
                               << "'0': 0 is not a meter address; meters take addresses 1 to 247";
    QTest::newRow("above the range") << "3,248" << false << ""
                                     << "'248': 248 is not a meter address";
    QTest::newRow("range end above") << "240-250" << false << ""
                                     << "'240-250': 250 is not a meter address";
    QTest::newRow("huge number") << "99999999" << false << ""
                                 << "'99999999' is neither an address";
    QTest::newRow("reversed range") << "9-7" << false << ""
                                    << "'9-7' runs backwards: write it 7-9";
    QTest::newRow("duplicate") << "1,3,1" << false << ""
                               << "'1': address 1 is already in the list";
    QTest::newRow("overlapping ranges") << "1-4,3-6" << false << ""
                                        << "'3-6': address 3 is already in the list";
    QTest::newRow("garbage") << "1,x3" << false << ""
                             << "'x3' is neither an address nor a range such as 7-9";
    QTest::newRow("negative") << "-3" << false << ""
                              << "'-3' is neither an address";
    QTest::newRow("open range") << "7-" << false << ""
                                << "'7-' is neither an address";
}

void TestAddressList::parseAndFormat() {
    QFETCH(QString, text);
    QFETCH(QString, addresses);
    QFETCH(bool, accepted);
    QFETCH(QString, result);
    QString error;
    const auto parsed = ParseAddressList(text, error);
    if (!accepted) {
        QVERIFY2(!parsed, qPrintable(text));
        QVERIFY2(error.contains(result), qPrintable(error));
        return;
    }
    QVERIFY2(parsed, qPrintable(error));
    if (!addresses.isEmpty()) {
        QStringList got;
        for (const int a : *parsed) {
            got << QString::number(a);
        }
        QCOMPARE(got.join(' '), addresses);
    }
    QCOMPARE(FormatAddressList(*parsed), result);
}

QTEST_APPLESS_MAIN(TestAddressList)
#include "tst_addresslist.moc"
