#pragma once

#include <cstdint>

// CRC-16-CCITT (polynomial 0x1021, MSB first, no reflection, no final XOR) as the bootstrap loader
// checks its frames. One register for the whole process: start it, feed a frame's core byte by byte,
// read the two result bytes, all before the next frame starts.

void Flash_crcInit(uint16_t init);
void Flash_crcInput(uint8_t data);
uint8_t Flash_getHighByte();
uint8_t Flash_getLowByte();
