// Receive-side filtering of marked bad bytes and null bytes.
#include "platform/RxFilter.h"

#include <QtTest>

Q_DECLARE_METATYPE(TRxFilterConfig)

class TRxFilterTest : public QObject {
    Q_OBJECT

private slots:
    void apply_data() {
        QTest::addColumn<TRxFilterConfig>("config");
        QTest::addColumn<QList<QByteArray>>("chunks"); // fed one call each
        QTest::addColumn<QByteArray>("expected");
        const TRxFilterConfig plain{false, false, '?'};
        const TRxFilterConfig marked{true, false, '?'};
        const TRxFilterConfig noNull{false, true, '?'};
        const TRxFilterConfig both{true, true, '\0'};
        const QByteArray z("\0", 1);
        QTest::newRow("plain keeps everything")
            << plain << QList<QByteArray>{QByteArray("a\xff") + z + "b"}
            << QByteArray("a\xff") + z + "b";
        QTest::newRow("doubled FF is one") << marked
                                           << QList<QByteArray>{"a\xff\xff"
                                                                "b"}
                                           << QByteArray("a\xff"
                                                         "b");
        QTest::newRow("bad byte replaced")
            << marked << QList<QByteArray>{QByteArray("a\xff") + z + "xb"} << QByteArray("a?b");
        QTest::newRow("break replaced")
            << marked << QList<QByteArray>{QByteArray("\xff") + z + z} << QByteArray("?");
        QTest::newRow("marker split after FF")
            << marked << QList<QByteArray>{"ab\xff", z + "x", "c"} << QByteArray("ab?c");
        QTest::newRow("marker split after FF 00")
            << marked << QList<QByteArray>{QByteArray("\xff") + z, "xy"} << QByteArray("?y");
        QTest::newRow("doubled FF split")
            << marked << QList<QByteArray>{"\xff", "\xff"} << QByteArray("\xff");
        QTest::newRow("lone FF dropped")
            << marked << QList<QByteArray>{QByteArray("\xff") + "A"} << QByteArray("A");
        QTest::newRow("lone FF across calls dropped")
            << marked << QList<QByteArray>{QByteArray("x\xff"), "A"} << QByteArray("xA");
        QTest::newRow("nulls dropped")
            << noNull << QList<QByteArray>{z + "a" + z + z + "b" + z} << QByteArray("ab");
        QTest::newRow("null replacement dropped too")
            << both << QList<QByteArray>{QByteArray("a\xff") + z + "xb"} << QByteArray("ab");
    }
    void apply() {
        QFETCH(TRxFilterConfig, config);
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QByteArray, expected);
        TRxFilter filter;
        QByteArray out;
        for (QByteArray chunk : chunks) {
            const std::size_t n = filter.Apply(config, chunk.data(), chunk.size());
            QVERIFY(n <= std::size_t(chunk.size()));
            out += chunk.left(qsizetype(n));
        }
        QCOMPARE(out, expected);
    }

    void packRoundTrip_data() {
        QTest::addColumn<TRxFilterConfig>("config");
        QTest::newRow("none") << TRxFilterConfig{false, false, '\0'};
        QTest::newRow("marked FF") << TRxFilterConfig{true, false, '\xff'};
        QTest::newRow("drop") << TRxFilterConfig{false, true, 'x'};
        QTest::newRow("both") << TRxFilterConfig{true, true, '\x80'};
    }
    void packRoundTrip() {
        QFETCH(TRxFilterConfig, config);
        const TRxFilterConfig back = UnpackRxFilter(PackRxFilter(config));
        QCOMPARE(back.Marked, config.Marked);
        QCOMPARE(back.DropNull, config.DropNull);
        QCOMPARE(back.Replacement, config.Replacement);
    }
};

QTEST_GUILESS_MAIN(TRxFilterTest)
#include "tst_rxfilter.moc"
