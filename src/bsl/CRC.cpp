#include "CRC.h"

namespace {
uint16_t crcRegister = 0;
}

void Flash_crcInit(uint16_t init)
{
    crcRegister = init;
}

// Table-free byte update, equal to eight rounds of the bit-wise CRC with polynomial 0x1021.
void Flash_crcInput(uint8_t data)
{
    uint8_t x = static_cast<uint8_t>((crcRegister >> 8) ^ data);
    x ^= static_cast<uint8_t>(x >> 4);
    crcRegister = static_cast<uint16_t>((crcRegister << 8) ^ (static_cast<uint16_t>(x) << 12) ^
                                        (static_cast<uint16_t>(x) << 5) ^ x);
}

uint8_t Flash_getHighByte()
{
    return static_cast<uint8_t>(crcRegister >> 8);
}

uint8_t Flash_getLowByte()
{
    return static_cast<uint8_t>(crcRegister & 0xFF);
}
