#pragma once
// The texts shown for a vessel's AIS ship and cargo type and navigational
// status, and the ship category that picks its icon style. Built before
// main runs; read-only afterwards.

#include <array>
#include <cstdint>
#include <string>

// The suffix of a vessel's icon style.
enum ShipCategory : uint16_t {
    CategoryUnknown = 0,    // unknown or other type
    CategorySpecial = 1,    // fishing, towing, pilot, SAR, tug, port tender, local, medical, res. 18
    CategoryUnused = 2,
    CategoryPassenger = 3,  // passenger ship, sailing vessel, pleasure craft
    CategoryCargo = 4,
    CategoryFast = 5,       // wing-in-ground and high-speed craft
    CategoryTanker = 6,
    CategoryHazardous = 7,  // hazardous cargo and special operations
};

struct TShipType {
    std::string text;
    uint16_t category;  // a ShipCategory
};

// Indexed by the AIS ship and cargo type 0-99.
extern const std::array<TShipType, 100> shipTypes;

// Indexed by the AIS navigational status 0-15.
extern const std::array<std::string, 16> navStatus;
