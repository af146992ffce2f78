// The command exchange with the programming unit: one output report out, one
// input report back, judged by the command's rule.
#pragma once
#include <cstdint>

// 0 success; -1 no unit open or argument out of range (nothing sent); -2 request
// not written; -3 reply not read (failure or time-out); any other value is the
// error code the unit sent, unchanged.
typedef int32_t ExchangeResult;
constexpr ExchangeResult EXCHANGE_OK = 0;
constexpr ExchangeResult EXCHANGE_NOT_OPEN = -1;
constexpr ExchangeResult EXCHANGE_WRITE_FAILED = -2;
constexpr ExchangeResult EXCHANGE_READ_FAILED = -3;
constexpr int32_t OPEN_NO_UNIT = -4;

constexpr uint32_t REPORT_BUFFER_BYTES = 60;
constexpr uint8_t COMMAND_REPORT_ID = 0x01;
constexpr uint8_t REPLY_REPORT_ID = 0x02;
constexpr uint8_t REPLY_ERROR_MARK = 0xFF;

constexpr uint32_t GUARD_WORD = 0x5E2A9C71;
constexpr uint32_t UNIT_VERSION_ADDRESS = 0x0801FC00;
constexpr uint32_t ERASE_REPLY_DELAY_MS = 1000;
constexpr uint32_t WRITE_BLOCK_MAX_WORDS = 14;

// Time-out of the erase reply, counted from the end of the ERASE_REPLY_DELAY_MS
// pause. A unit answers the erase only once the controller's flash is blank, and
// erasing some 100 KB of microcontroller flash page by page takes from under a
// second to several seconds on slow parts (tens of milliseconds per 1-2 KB page,
// longer as the flash ages). A time-out there fails the update after the old
// firmware is gone, so the limit is six times the ordinary read's; every other
// reply comes within HID_READ_TIMEOUT_MS.
constexpr uint32_t ERASE_REPLY_TIMEOUT_MS = 30000;

// The smallest reports the update can run over: the output report must carry a
// block of the transfer's 12 words (header and 48 data bytes), the input report
// the controller-information reply (its 40-byte block ends at byte 43). An
// interface with shorter reports is refused before anything is sent to it, so
// that no update can erase a controller it cannot then write.
constexpr uint32_t MIN_OUTPUT_REPORT_BYTES = 52;
constexpr uint32_t MIN_INPUT_REPORT_BYTES = 44;

constexpr uint8_t CMD_GET_UNIT_INFO = 0x08;
constexpr uint8_t CMD_READ_MEMORY = 0x0A;
constexpr uint8_t CMD_SYSTEM_LOCK = 0x0B;
constexpr uint8_t CMD_WRITE_BLOCK = 0x1B;
constexpr uint8_t CMD_READ_FIRMWARE_INFO = 0x1D;
constexpr uint8_t CMD_ERASE_FIRMWARE = 0x1E;
constexpr uint8_t CMD_SET_WRITE_ADDRESS = 0x1F;
constexpr uint8_t CMD_WRITE_PROTECT = 0x20;
constexpr uint8_t CMD_GET_CONTROLLER_INFO = 0x22;

// Identification (not judged / short code). The reply buffer receives the reply.
ExchangeResult ExchangeGetUnitInfo(uint8_t reply[REPORT_BUFFER_BYTES]);
ExchangeResult ExchangeReadMemory(uint32_t address, uint8_t reply[REPORT_BUFFER_BYTES]);
// Short-code rule: 0 with *dataTaken telling whether the reply carries data, or
// the unit's 16-bit error code (1..65535), or -1/-2/-3.
ExchangeResult ExchangeReadFirmwareInfo(uint8_t reply[REPORT_BUFFER_BYTES], bool* dataTaken);
ExchangeResult ExchangeGetControllerInfo(uint8_t reply[REPORT_BUFFER_BYTES], bool* dataTaken);

// Update steps. *confirmed is false when the reply's state byte does not show the
// requested state (the caller reports its own code for that).
ExchangeResult SystemLockSet(bool* confirmed);
void SystemLockReset(); // outcome and reply ignored
ExchangeResult WriteProtectClear(bool* confirmed);
void WriteProtectSet(); // outcome and reply ignored
ExchangeResult EraseFirmware();
ExchangeResult SetWriteAddress(); // address 0, standard rule
// 0 to 14 words, copied byte for byte from data; -1 beyond that.
ExchangeResult WriteBlock(const void* data, int32_t wordCount);
