#include "device/identify_unit.h"

#include <cstring>

#include "device/command_reports.h"
#include "device/little_endian.h"
#include "device/unit_connection.h"

namespace {

// In a mode other than 0 the unit sends its values packed, some at odd offsets.
ExchangeResult IdentifyInOtherMode(const uint8_t* unitInfo) {
    g_unit.altModeByte1 = unitInfo[4];
    g_unit.altModeWord = GetLe16(unitInfo + 5);
    g_unit.altModeDword1 = GetLe32(unitInfo + 7);
    g_unit.altModeDword2 = GetLe32(unitInfo + 11);
    g_unit.altModeByte2 = unitInfo[15];

    uint8_t reply[REPORT_BUFFER_BYTES];
    ExchangeResult result = ExchangeReadMemory(UNIT_VERSION_ADDRESS, reply);
    if (result != EXCHANGE_OK) {
        return result;
    }
    g_unit.unitFirmwareVersion = GetLe32(reply + 8);
    g_unit.unitFirmwareAux = GetLe32(reply + 12);
    return EXCHANGE_OK;
}

ExchangeResult IdentifyController() {
    uint8_t reply[REPORT_BUFFER_BYTES];
    bool dataTaken = false;
    ExchangeResult result = ExchangeReadFirmwareInfo(reply, &dataTaken);
    if (result != EXCHANGE_OK) {
        return result;
    }
    if (dataTaken) {
        memcpy(g_unit.controllerFirmwareInfo, reply + 4, sizeof g_unit.controllerFirmwareInfo);
    }

    result = ExchangeGetControllerInfo(reply, &dataTaken);
    if (result != EXCHANGE_OK) {
        return result;
    }
    if (dataTaken) {
        memcpy(g_unit.controllerInfo, reply + 4, sizeof g_unit.controllerInfo);
    }
    return EXCHANGE_OK;
}

} // namespace

ExchangeResult IdentifyUnit() {
    if (!UnitIsOpen() || g_unit.devicePath == nullptr) {
        return EXCHANGE_NOT_OPEN;
    }
    uint16_t inputLength = 0;
    uint16_t outputLength = 0;
    if (HidGetReportLengths(g_unit.deviceHandle, &inputLength, &outputLength) != 0) {
        return EXCHANGE_NOT_OPEN;
    }
    g_unit.outputReportLength = outputLength;
    g_unit.inputReportLength = inputLength;
    // Every report passes through a buffer of REPORT_BUFFER_BYTES; an interface
    // with larger reports is not the unit this program knows, and one with reports
    // too short for the update would be erased and then not written.
    if (outputLength > REPORT_BUFFER_BYTES || inputLength > REPORT_BUFFER_BYTES) {
        return EXCHANGE_NOT_OPEN;
    }
    if (outputLength < MIN_OUTPUT_REPORT_BYTES || inputLength < MIN_INPUT_REPORT_BYTES) {
        return EXCHANGE_NOT_OPEN;
    }

    uint8_t unitInfo[REPORT_BUFFER_BYTES];
    ExchangeResult result = ExchangeGetUnitInfo(unitInfo);
    if (result != EXCHANGE_OK) {
        return result;
    }
    g_unit.unitMode = unitInfo[3];
    if (g_unit.unitMode != UNIT_MODE_SERVES_CONTROLLER) {
        return IdentifyInOtherMode(unitInfo);
    }

    g_unit.controllerStatus = GetLe16(unitInfo + 4);
    g_unit.controllerStatusAux = GetLe16(unitInfo + 6);
    g_unit.unitFirmwareVersion = GetLe32(unitInfo + 8);
    g_unit.unitFirmwareAux = GetLe32(unitInfo + 12);
    if (g_unit.controllerStatus != CONTROLLER_STATUS_UPDATABLE) {
        return EXCHANGE_OK;
    }
    return IdentifyController();
}
