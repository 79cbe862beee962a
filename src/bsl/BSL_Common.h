#pragma once

// Constants shared by the serial transport, the programming-mode handshake and the bootstrap-loader
// protocol. Plain macros without any framework header, so the platform serial layers can use them.

// ---------------------------------------------------------------------------------------------
// Serial transport
// ---------------------------------------------------------------------------------------------
#define UART_BAUDRATE 115200 // line rate passed to BSL_IO_UART::open
#define UART_PARITY 0        // parity flag passed to BSL_IO_UART::open: no parity
#define QUEUE_SIZE 512       // driver input and output queue size requested at open, bytes
#define TIMEOUT_MS 40        // how long one byte read waits, milliseconds
#define TIMEOUT_ERROR 0xEE   // how a log line shows a read that got nothing in time

// A healthy reply is a few dozen bytes that end in well under a second. A line that keeps talking
// (a babbling device, or another device with the same USB identifiers) must not hold a read for
// ever: these bound readUntilTimeout and readGarbageUntilTimeout.
#define READ_UNTIL_TIMEOUT_MAX_BYTES 4096
#define READ_UNTIL_TIMEOUT_MAX_MS 1000

// ---------------------------------------------------------------------------------------------
// Programming-mode handshake
// ---------------------------------------------------------------------------------------------
#define QS_ESC 0x7D           // first and second byte of request and reply
#define BSL_MODE 0x01         // third byte of request and reply: programming mode
#define QS_FRAME 0x7E         // last byte of the reply
#define PROG_MODE_VER_OFF 3   // offset of the version text in the reply
#define PROG_MODE_MIN_RESP 13 // replies shorter than this are logged as short
#define PROG_MODE_ATTEMPTS 10 // bursts collected before the reply is given up

// ---------------------------------------------------------------------------------------------
// Bootstrap loader
// ---------------------------------------------------------------------------------------------
#define BSL_BUFFER_SIZE 240   // data bytes per data-block command
#define BSL_RX_PASS_REPEAT 10 // attempts of every loader command
#define BSL_PASSWORD_SIZE 32  // bytes of the loader password
// The longest frame the loader takes in (header, length, a core of its 260-byte buffer, checksum).
// After a frame that got no acknowledgement at all the loader may still be waiting for the rest of
// a frame whose length arrived damaged; this many filler bytes complete any such frame (it then
// fails its checksum), and the filler byte can never start a new one.
#define BSL_MAX_FRAME_SIZE 265
#define BSL_FRAME_FILLER 0xFF

// Frame and reply markers
#define BSL_HEADER 0x80
#define BSL_DATA_REPLY 0x3A
#define BSL_MESSAGE_REPLY 0x3B

// Command codes (first byte of a frame's core)
#define RX_DATA_BLOCK 0x10
#define RX_PASSWORD 0x11
#define MASS_ERASE 0x15
#define CRC_CHECK 0x16
#define TX_BSL_VERSION 0x19

// Message codes (byte 4 of a message reply)
#define SUCCESSFUL_OPERATION 0x00
#define BSL_LOCKED 0x04
#define BSL_PASSWORD_ERROR 0x05
#define UNKNOWN_COMMAND 0x07

// Acknowledgement byte sent by the loader right after a frame. A read that gets nothing in time
// returns no byte at all (every byte value, 0xEE included, is data); logs show it as TIMEOUT_ERROR.
#define BSL_ACK 0x00
#define HEADER_INCORRECT 0x51
#define CHECKSUM_INCORRECT 0x52
#define UNKNOWN_BAUD_RATE 0x56

// Fixed trailers of the two message replies: CRC-16 of the cores 3B 00 and 3B 05.
#define BSL_RSP_OK_CKL 0x60
#define BSL_RSP_OK_CKH 0xC4
#define BSL_RSP_PASSWORD_ERROR_CKL 0xC5
#define BSL_RSP_PASSWORD_ERROR_CKH 0x94
