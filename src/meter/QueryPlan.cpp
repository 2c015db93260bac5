#include "meter/QueryPlan.h"

#include "meter/VersionRules.h"

const char* EnergyReadQuery(const QString& version) {
    return ExtendedLayout(version) ? qry::EnergyLong : qry::EnergyShort;
}

const char* TPollRotation::Next(TPage page, const QString& version) {
    const char* query = nullptr;
    if (page == TPage::InstallCheck) {
        query = qry::Measurement;
    } else if (PolledPage(page)) {
        switch (FStep) {
        case 1:
            query = EnergyReadQuery(version);
            break;
        case 2:
            query = qry::Relays;
            break;
        case 3:
            query = qry::Inputs;
            break;
        default:
            query = qry::Measurement;
            FStep = 0;
            break;
        }
    }
    if (FStep < 4)
        ++FStep;
    return query;
}

std::vector<std::string> PageReads(TPage page, const QString& version) {
    std::vector<std::string> reads{qry::Identity};
    switch (page) {
    case TPage::RTMetering:
    case TPage::Trend:
        reads.insert(reads.end(), {qry::Settings1100, qry::AOType});
        break;
    case TPage::DeviceInfo:
        reads.insert(reads.end(), {qry::Identity, qry::SerialNumber, qry::AOType});
        break;
    case TPage::GeneralSettings:
        reads.insert(reads.end(), {qry::Settings1100, qry::Settings1200, qry::Settings1300});
        if (ExtendedLayout(version))
            reads.emplace_back(qry::Settings1208);
        if (RelayAlarmLayout(version))
            reads.emplace_back(qry::Settings120A);
        break;
    case TPage::InstallCheck:
        // The wiring, the CT primary and the load convention the rules judge against.
        reads.emplace_back(qry::Settings1100);
        break;
    case TPage::None:
        break;
    }
    return reads;
}

bool IsWriteQuery(std::string_view text) {
    // "AA,FF,...": the function code is the second byte of the text.
    if (text.size() < 5 || text[2] != ',')
        return false;
    const std::string_view function = text.substr(3, 2);
    return function == "05" || function == "06" || function == "0F" || function == "0f" ||
           function == "10";
}
