#include "export/ship_tables.h"

namespace {

std::array<TShipType, 100> buildShipTypes() {
    std::array<TShipType, 100> t;

    struct Decade {
        int first;
        const char* text;
        uint16_t category;
    };
    static const Decade kDecades[] = {
        {0, "Unknown", CategoryUnknown},       {10, "Unknown", CategoryUnknown},
        {20, "WIG", CategoryFast},             {40, "HSC", CategoryFast},
        {60, "Passenger ship", CategoryPassenger}, {70, "Cargo ship", CategoryCargo},
        {80, "Tanker", CategoryTanker},        {90, "Other type", CategoryUnknown},
    };
    static const char* const kHazards[] = {" (HAZ-A)", " (HAZ-B)", " (HAZ-C)", " (HAZ-D)"};
    for (const Decade& d : kDecades) {
        for (int unit = 0; unit < 10; ++unit) {
            if (unit >= 1 && unit <= 4) {
                t[d.first + unit] = {std::string(d.text) + kHazards[unit - 1], CategoryHazardous};
            } else {
                t[d.first + unit] = {d.text, d.category};
            }
        }
    }

    static const TShipType kDecade3[] = {
        {"Fishing vessel", CategorySpecial},      {"Towing vessel", CategorySpecial},
        {"Towing vessel (tow>200)", CategorySpecial}, {"Dredging or UW ops", CategoryHazardous},
        {"Diving ops", CategoryHazardous},        {"Military ops", CategoryHazardous},
        {"Sailing vessel", CategoryPassenger},    {"Pleasure craft", CategoryPassenger},
        {"Unknown", CategoryUnknown},             {"Unknown", CategoryUnknown},
    };
    static const TShipType kDecade5[] = {
        {"Pilot", CategorySpecial},          {"SAR", CategorySpecial},
        {"Tug", CategorySpecial},            {"Port tender", CategorySpecial},
        {"Anti-polution", CategoryHazardous}, {"Law enforcment", CategoryHazardous},
        {"Local type", CategorySpecial},     {"Local type", CategorySpecial},
        {"Medical", CategorySpecial},        {"Resolution 18 ship", CategorySpecial},
    };
    for (int unit = 0; unit < 10; ++unit) {
        t[30 + unit] = kDecade3[unit];
        t[50 + unit] = kDecade5[unit];
    }
    return t;
}

}  // namespace

const std::array<TShipType, 100> shipTypes = buildShipTypes();

const std::array<std::string, 16> navStatus = {
    "Underway", "At anchor", "Not under command", "Restricted mnvr.",
    "Constraigned", "Moored", "Aground", "Fishing",
    "Underway", "Reserved HSC", "Reserved WIG", "Unknown",
    "Unknown", "Unknown", "Unknown", "Unknown",
};
