#pragma once

// The USB identity of a Talvo unit's serial port: Microchip's vendor identifier 0x04D8 and the
// unit's product identifier 0x00DF.
namespace UnitIdentifiers {
constexpr int VENDOR = 0x04D8;  // 1240
constexpr int PRODUCT = 0x00DF; // 223
} // namespace UnitIdentifiers
