#include "app/windows/device_broadcast.h"

#include <dbt.h>

#include <cstddef>

bool DeviceBroadcastFromMessage(LPARAM lParam, DeviceBroadcast* broadcast) {
    broadcast->dbch_devicetype = 0;
    broadcast->dbcc_name = nullptr;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header == nullptr || header->dbch_size < sizeof(DEV_BROADCAST_HDR)) {
        return false;
    }
    broadcast->dbch_devicetype = header->dbch_devicetype;
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return true;
    }
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (header->dbch_size <= nameOffset) {
        return true;
    }
    const auto* deviceInterface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    const size_t nameChars = (header->dbch_size - nameOffset) / sizeof(wchar_t);
    const wchar_t* name = deviceInterface->dbcc_name;
    for (size_t i = 0; i < nameChars; ++i) {
        if (name[i] == L'\0') {
            broadcast->dbcc_name = reinterpret_cast<const char16_t*>(name);
            break;
        }
    }
    return true;
}
