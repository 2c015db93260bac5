// Find Meter's pure units: the order of line settings and addresses, what answers do to the
// rest of the search, the time estimate, and the verdict on the bytes a probe brings back.
#include "modbus/KrChecksum.h"
#include "scan/ProbeAnswer.h"
#include "scan/ScanPlan.h"

#include <QtTest>

#include <map>

Q_DECLARE_METATYPE(TAnswerKind)

namespace {

QByteArray WithCrc(QByteArray frame) {
    const std::uint16_t crc = CalcCRC16(std::string_view(frame.constData(), frame.size()));
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

// A clean answer to the identity read: type code, hardware and software version, date.
QByteArray IdentityAnswer(std::uint8_t address, const QByteArray& text18) {
    return WithCrc(QByteArray(1, static_cast<char>(address)) + QByteArray("\x03\x12", 2) + text18);
}

QStringList Names(const std::vector<TScanSetting>& settings) {
    QStringList names;
    for (const auto& s : settings)
        names << SettingText(s);
    return names;
}

// Runs a plan against scripted answers ("setting:address" -> answer for the first try,
// "setting:address*" for the second, "**" for the third) and lists the probes it sent in order.
QStringList Walk(TScanPlan& plan, const std::map<QString, TAnswerKind>& script, int limit) {
    QStringList sent;
    while (auto probe = plan.Current()) {
        if (sent.size() >= limit)
            break;
        const QString key = QStringLiteral("%1:%2%3")
                                .arg(probe->Setting)
                                .arg(probe->Address)
                                .arg(QString(probe->Attempt, QLatin1Char('*')));
        sent << key;
        const auto it = script.find(key);
        plan.Report(it == script.end() ? TAnswerKind::Silent : it->second);
    }
    return sent;
}

const std::vector<TScanSetting> TwoSettings{{19200, TScanSetting::None1},
                                            {9600, TScanSetting::Even}};

} // namespace

class TestScanPlan : public QObject {
    Q_OBJECT

private slots:
    void settingOrder_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QStringList>("first");
        QTest::newRow("factory setting in the dialog")
            << 19200 << int(TScanSetting::None1)
            << QStringList{"19200 None1", "9600 None1", "9600 Even",
                           "9600 Odd",    "9600 None2", "19200 Even"};
        QTest::newRow("dialog's own first, then the factory one")
            << 9600 << int(TScanSetting::Even)
            << QStringList{"9600 Even", "19200 None1", "9600 None1", "9600 Odd", "9600 None2"};
        QTest::newRow("a rate the dialog does not offer is left out")
            << 115200 << int(TScanSetting::Odd) << QStringList{"19200 None1", "9600 None1"};
    }
    void settingOrder() {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(QStringList, first);
        const QStringList order =
            Names(ScanSettingOrder({static_cast<std::uint32_t>(baud), parity}));
        QCOMPARE(order.mid(0, first.size()), first);
        // Every offered rate with every parity entry, each once.
        QCOMPARE(order.size(), 7 * 4);
        QCOMPARE(QSet<QString>(order.begin(), order.end()).size(), order.size());
        QCOMPARE(order.last(), QStringLiteral("1200 None2"));
    }

    void probeOrder_data() {
        QTest::addColumn<int>("likely");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("answers"); // "key=kind" with kind m, g, o
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("expected");
        const int first = int(TScanMode::FirstMeter);
        const int every = int(TScanMode::EveryMeter);
        QTest::newRow("likely addresses at every setting, then the rest")
            << 5 << first << QStringList{} << 7
            << QStringList{"0:5", "0:1", "1:5", "1:1", "0:2", "0:3", "0:4"};
        QTest::newRow("address 1 is tried once")
            << 1 << first << QStringList{} << 4 << QStringList{"0:1", "1:1", "0:2", "0:3"};
        QTest::newRow("the second setting's sweep follows the first's")
            << 1 << first << QStringList{} << 1000 << QStringList{};
        QTest::newRow("first meter ends the scan")
            << 5 << first << QStringList{"1:1=m"} << 100 << QStringList{"0:5", "0:1", "1:5", "1:1"};
        QTest::newRow("every meter: the rest at the meters' setting only")
            << 5 << every << QStringList{"1:5=m"} << 4 << QStringList{"0:5", "0:1", "1:5", "1:1"};
        QTest::newRow("garbled twice where nothing clean came: setting dropped")
            << 5 << first << QStringList{"0:5=g", "0:5*=g"} << 6
            << QStringList{"0:5", "0:5*", "1:5", "1:1", "1:2", "1:3"};
        QTest::newRow("garbled once, then silent: setting kept")
            << 5 << first << QStringList{"0:5=g"} << 6
            << QStringList{"0:5", "0:5*", "0:1", "1:5", "1:1", "0:2"};
        QTest::newRow("garbled thrice at a setting proven clean: next address, setting kept")
            << 5 << first << QStringList{"0:5=o", "0:1=g", "0:1*=g", "0:1**=g"} << 6
            << QStringList{"0:5", "0:1", "0:1*", "0:1**", "1:5", "1:1"};
        QTest::newRow("a spoilt answer at a setting proven clean: found at the third try")
            << 5 << first << QStringList{"0:5=o", "0:1=g", "0:1*=g", "0:1**=m"} << 6
            << QStringList{"0:5", "0:1", "0:1*", "0:1**"};
    }
    void probeOrder() {
        QFETCH(int, likely);
        QFETCH(int, mode);
        QFETCH(QStringList, answers);
        QFETCH(int, limit);
        QFETCH(QStringList, expected);
        std::map<QString, TAnswerKind> script;
        for (const QString& a : answers) {
            const QChar k = a.back();
            script[a.section('=', 0, 0)] = k == 'm'   ? TAnswerKind::Meter
                                           : k == 'g' ? TAnswerKind::Garbled
                                                      : TAnswerKind::OtherDevice;
        }
        TScanPlan plan(TwoSettings, static_cast<std::uint8_t>(likely), TScanMode(mode));
        const QStringList sent = Walk(plan, script, limit);
        if (expected.isEmpty()) {
            // Unanswered: every address at every setting exactly once, and then the end.
            QCOMPARE(sent.size(), 2 * 247);
            QCOMPARE(QSet<QString>(sent.begin(), sent.end()).size(), sent.size());
            QVERIFY(plan.Done());
            QCOMPARE(plan.Fraction(), 1.0);
            return;
        }
        QCOMPARE(sent, expected);
    }

    void everyMeterSweepsOnlyTheMeterSetting() {
        TScanPlan plan(TwoSettings, 1, TScanMode::EveryMeter);
        const QStringList sent = Walk(plan, {{"1:1", TAnswerKind::Meter}}, 10000);
        QVERIFY(plan.Done());
        // 0:1, 1:1, then 1:2..1:247 and nothing more at setting 0.
        QCOMPARE(sent.size(), 2 + 246);
        QCOMPARE(sent.filter(QRegularExpression("^0:")), QStringList{"0:1"});
    }

    void estimate_data() {
        QTest::addColumn<double>("spentFactor"); // real time over planned time for work done
        QTest::addColumn<double>("doneSeconds");
        QTest::addColumn<double>("correction");
        QTest::newRow("as planned") << 1.0 << 5.0 << 1.0;
        QTest::newRow("slower than planned") << 1.5 << 5.0 << 1.5;
        QTest::newRow("far slower: bounded") << 4.0 << 5.0 << 2.0;
        QTest::newRow("far faster: bounded") << 0.1 << 30.0 << 0.5;
        QTest::newRow("too early to correct") << 3.0 << 0.5 << 1.0;
    }
    void estimate() {
        QFETCH(double, spentFactor);
        QFETCH(double, doneSeconds);
        QFETCH(double, correction);
        const auto settings = ScanSettingOrder({19200, TScanSetting::None1});
        TScanPlan plan(settings, 1, TScanMode::FirstMeter);
        const double total = plan.RemainingSeconds(0);
        QCOMPARE(total, plan.PlannedSeconds());
        // Request, 3.5-character silence and 100 ms for the answer to begin, at every setting
        // and address: about a quarter of an hour.
        QVERIFY2(total > 14 * 60 && total < 16 * 60, qPrintable(QString::number(total)));
        double done = 0;
        while (done < doneSeconds) {
            done +=
                ProbeSeconds(settings[plan.Current()->Setting].Baud, TScanPlan::DefaultTurnaround);
            plan.Report(TAnswerKind::Silent);
        }
        const double modelLeft = total - done;
        QVERIFY(qAbs(plan.RemainingSeconds(done * spentFactor) - modelLeft * correction) <
                1e-6 * total);
        QVERIFY(qAbs(plan.Fraction() - done / total) < 1e-9);
    }

    void classify_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("lineErrors");
        QTest::addColumn<TAnswerKind>("kind");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("software");
        const QByteArray id = "ED801.003.20190815";
        const QByteArray clean = IdentityAnswer(7, id);
        const QByteArray echo = QByteArray::fromStdString(IdentityRequest(7));
        QByteArray badCrc = clean;
        badCrc[10] = static_cast<char>(badCrc[10] ^ 0x20);
        const QByteArray exception = WithCrc(QByteArray("\x07\x83\x02", 3));
        QTest::newRow("nothing") << QByteArray() << 7 << false << TAnswerKind::Silent << QString()
                                 << QString();
        QTest::newRow("nothing readable, but line errors")
            << QByteArray() << 7 << true << TAnswerKind::Garbled << QString() << QString();
        QTest::newRow("clean KT580") << clean << 7 << false << TAnswerKind::Meter << "KT580"
                                     << "3.20";
        QTest::newRow("clean despite a line error count")
            << clean << 7 << true << TAnswerKind::Meter << "KT580"
            << "3.20";
        QTest::newRow("EB code") << IdentityAnswer(7, "EB811.004.01200101") << 7 << false
                                 << TAnswerKind::Meter << "KT581"
                                 << "4.01";
        QTest::newRow("own echo, then the answer")
            << echo + clean << 7 << false << TAnswerKind::Meter << "KT580"
            << "3.20";
        QTest::newRow("only the own echo")
            << echo << 7 << false << TAnswerKind::Silent << QString() << QString();
        QTest::newRow("noise ahead of the answer")
            << QByteArray("\x55\xAA\x03", 3) + clean << 7 << false << TAnswerKind::Meter << "KT580"
            << "3.20";
        QTest::newRow("another maker's device")
            << IdentityAnswer(7, "XY121.003.20190815") << 7 << false << TAnswerKind::OtherDevice
            << QString() << "3.20";
        QTest::newRow("exception answer")
            << exception << 7 << false << TAnswerKind::OtherDevice << QString() << QString();
        QTest::newRow("broken check field")
            << badCrc << 7 << false << TAnswerKind::Garbled << QString() << QString();
        QTest::newRow("cut short")
            << clean.left(15) << 7 << false << TAnswerKind::Garbled << QString() << QString();
        QTest::newRow("a clean answer from another address is no answer from this one")
            << IdentityAnswer(8, id) << 7 << false << TAnswerKind::Garbled << QString()
            << QString();
    }
    void classify() {
        QFETCH(QByteArray, received);
        QFETCH(int, address);
        QFETCH(bool, lineErrors);
        QFETCH(TAnswerKind, kind);
        QFETCH(QString, model);
        QFETCH(QString, software);
        const std::string request = IdentityRequest(static_cast<std::uint8_t>(address));
        const TIdentityAnswer answer = ClassifyIdentity(
            received.toStdString(), request, static_cast<std::uint8_t>(address), lineErrors);
        QCOMPARE(answer.Kind, kind);
        QCOMPARE(answer.Model, model);
        QCOMPARE(answer.SoftVersion, software);
    }

    void requestsOnTheWire_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("hex");
        // Check fields worked out independently of the program's CRC routine.
        QTest::newRow("identity of 1")
            << QByteArray::fromStdString(IdentityRequest(1)) << QByteArray("0103f0000009b6cc");
        QTest::newRow("serial number of 247") << QByteArray::fromStdString(SerialNumberRequest(247))
                                              << QByteArray("f703f04000106244");
    }
    void requestsOnTheWire() {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, hex);
        QCOMPARE(frame.toHex(), hex);
    }

    void serialNumber_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QString>("serial"); // "-" for none
        QByteArray text = QByteArray("KT580-0042").leftJustified(32, '\0');
        const QByteArray clean = WithCrc(QByteArray("\x02\x03\x20", 3) + text);
        QByteArray broken = clean;
        broken[4] = 'x';
        QTest::newRow("up to the first zero") << clean << "KT580-0042";
        QTest::newRow("all 32 characters")
            << WithCrc(QByteArray("\x02\x03\x20", 3) + QByteArray(32, 'A')) << QString(32, 'A');
        QTest::newRow("broken") << broken << "-";
        QTest::newRow("identity-sized answer") << IdentityAnswer(2, "ED801.003.20190815") << "-";
    }
    void serialNumber() {
        QFETCH(QByteArray, received);
        QFETCH(QString, serial);
        const auto got = SerialNumberOf(received.toStdString(), 2);
        QCOMPARE(got.value_or(QStringLiteral("-")), serial);
    }

    // The times of one exchange. Character times worked out by hand: 11 bits, so 1.1458 ms at
    // 9600 baud, 0.5729 ms at 19200, 9.1667 ms at 1200. Identity request 8 bytes, answer 23.
    void window_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<double>("allowance");
        QTest::addColumn<double>(
            "firstByte");                // seconds after the request was handed over; <0: none
        QTest::addColumn<double>("end"); // when the exchange stops waiting
        QTest::addColumn<double>("quietAfterBytes");
        QTest::addColumn<double>("quietAfterSilence");
        QTest::newRow("9600, nothing comes: request and allowance")
            << 9600 << 0.100 << -1.0 << 0.109167 << 0.020 << 0.004010;
        QTest::newRow("9600, an answer at 50 ms: its length, and an adapter's delay")
            << 9600 << 0.100 << 0.050 << 0.129167 << 0.020 << 0.004010;
        QTest::newRow("9600, an answer beginning at the window's end has room to finish")
            << 9600 << 0.100 << 0.109 << 0.155354 << 0.020 << 0.004010;
        QTest::newRow("19200 with the dialog's 150 ms")
            << 19200 << 0.150 << -1.0 << 0.154583 << 0.020 << 0.002005;
        QTest::newRow("1200: the 3.5-character silence is longer than an adapter's delay")
            << 1200 << 0.100 << 0.170 << 0.412917 << 0.032083 << 0.032083;
    }
    void window() {
        QFETCH(int, baud);
        QFETCH(double, allowance);
        QFETCH(double, firstByte);
        QFETCH(double, end);
        QFETCH(double, quietAfterBytes);
        QFETCH(double, quietAfterSilence);
        const TProbeWindow w =
            ProbeWindowFor(baud, allowance, IdentityRequest(1).size(), IdentityAnswerLength);
        const auto first = firstByte < 0 ? std::nullopt : std::optional<double>(firstByte);
        QVERIFY2(qAbs(ExchangeEnd(w, first) - end) < 1e-5,
                 qPrintable(QString::number(ExchangeEnd(w, first), 'f', 6)));
        QVERIFY(qAbs(QuietSeconds(w, true) - quietAfterBytes) < 1e-5);
        QVERIFY(qAbs(QuietSeconds(w, false) - quietAfterSilence) < 1e-5);
        // Whatever comes, the exchange gives the answer at least the allowance to begin.
        QVERIFY(ExchangeEnd(w, first) >= allowance);
    }

    // The least a scan can take, and how soon a meter at address 1 is reached at any setting.
    void floorOfAScan_data() {
        QTest::addColumn<QStringList>("settings"); // empty: every setting the dialog offers
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("19200 None1, every address") << QStringList{"19200 None1"} << 25.0 << 28.0;
        QTest::newRow("every setting and address") << QStringList{} << 14.0 * 60 << 16.0 * 60;
    }
    void floorOfAScan() {
        QFETCH(QStringList, settings);
        QFETCH(double, low);
        QFETCH(double, high);
        std::vector<TScanSetting> order = ScanSettingOrder({19200, TScanSetting::None1});
        if (!settings.isEmpty()) {
            const auto named = [&](const TScanSetting& s) {
                return settings.contains(SettingText(s));
            };
            std::erase_if(order, [&](const TScanSetting& s) { return !named(s); });
        }
        TScanPlan plan(order, 1, TScanMode::EveryMeter);
        QVERIFY2(plan.PlannedSeconds() > low && plan.PlannedSeconds() < high,
                 qPrintable(QString::number(plan.PlannedSeconds())));
        // Address 1 is asked at every setting before any other address is.
        int asked = 0;
        while (plan.Current() && plan.Current()->Address == 1) {
            ++asked;
            plan.Report(TAnswerKind::Silent);
        }
        QCOMPARE(asked, static_cast<int>(order.size()));
        QVERIFY2(plan.FloorSeconds() < 10, qPrintable(QString::number(plan.FloorSeconds())));
    }

    // An answer is complete once its computed length has arrived, whatever the gaps in it
    // and whether or not it is clean.
    void answerComplete_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("complete");
        const QByteArray clean = IdentityAnswer(7, "ED801.003.20190815");
        QByteArray spoilt = clean;
        spoilt[12] = static_cast<char>(spoilt[12] ^ 0x01);
        QTest::newRow("nothing") << QByteArray() << false;
        QTest::newRow("the first chunk of an answer") << clean.left(8) << false;
        QTest::newRow("one byte short") << clean.chopped(1) << false;
        QTest::newRow("whole and clean") << clean << true;
        QTest::newRow("whole, spoilt on the way") << spoilt << true;
        QTest::newRow("noise ahead, then the whole answer")
            << QByteArray("\xFF\x00", 2) + clean << true;
        QTest::newRow("noise ahead, the answer one byte short")
            << QByteArray("\xFF\x00", 2) + clean.chopped(1) << false;
        QTest::newRow("an exception answer") << WithCrc(QByteArray("\x07\x83\x02", 3)) << true;
        QTest::newRow("an answer from another address")
            << IdentityAnswer(8, "ED801.003.20190815") << false;
        QTest::newRow("23 bytes of noise") << QByteArray(23, '\x55') << false;
    }
    void answerComplete() {
        QFETCH(QByteArray, received);
        QFETCH(bool, complete);
        QCOMPARE(AnswerComplete(std::string_view(received.constData(), received.size()), 7, 9),
                 complete);
    }
};

QTEST_GUILESS_MAIN(TestScanPlan)
#include "tst_scanplan.moc"
