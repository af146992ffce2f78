// The main dialog's procedure: the platform side of initialisation, closing,
// painting and device notifications around the dialog logic of the core.
#include <windows.h>
#include <dbt.h>

extern "C" {
#include <hidsdi.h>
}

#include "app/detection.h"
#include "app/main_dialog.h"
#include "app/windows/device_broadcast.h"
#include "app/windows/program_windows.h"
#include "app/windows/taskbar_windows.h"
#include "res/resource_ids.h"

namespace {

HDEVNOTIFY g_deviceNotification = nullptr;
// The background of the red labels, asked for on every redraw of them: made once
// with the dialog and deleted with it.
HBRUSH g_labelBrush = nullptr;

COLORREF ToColorRef(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

UiRect ScreenRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return UiRect{rect.left, rect.top, rect.right, rect.bottom};
}

HDEVNOTIFY RegisterForHidInterfaces(HWND dialog) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    return RegisterDeviceNotificationW(dialog, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void EndMainDialog(HWND dialog, INT_PTR result) {
    if (g_deviceNotification != nullptr) {
        UnregisterDeviceNotification(g_deviceNotification);
    }
    CloseMainDialog();
    EndDialog(dialog, result);
}

void InitDialog(HWND dialog) {
    g_mainDialog = reinterpret_cast<UiWindow>(dialog);
    const HICON icon = LoadIconW(g_moduleInstance, MAKEINTRESOURCEW(IDI_APP_ICON));
    SetClassLongPtrW(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
    g_labelBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    InitMainDialogTexts();
    g_deviceNotification = RegisterForHidInterfaces(dialog);
    if (FinishMainDialogInit(g_deviceNotification != nullptr) != 0) {
        EndMainDialog(dialog, 1);
    }
}

void PaintLogo(HWND dialog) {
    PAINTSTRUCT paint;
    const HDC target = BeginPaint(dialog, &paint);
    const HBITMAP logo = LoadBitmapW(g_moduleInstance, MAKEINTRESOURCEW(IDB_LOGO));
    BITMAP description = {};
    if (logo != nullptr && GetObjectW(logo, sizeof description, &description) != 0) {
        const LogoPlacement place = ComputeLogoPlacement(
            ScreenRect(dialog), ScreenRect(GetDlgItem(dialog, IDC_VERSION_GROUP)),
            GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYCAPTION), description.bmWidth,
            description.bmHeight);
        if (place.width > 0 && place.height > 0) {
            const HDC source = CreateCompatibleDC(target);
            const HGDIOBJ previous = SelectObject(source, logo);
            TransparentBlt(target, place.x, place.y, place.width, place.height, source, 0, 0,
                           description.bmWidth, description.bmHeight,
                           ToColorRef(LOGO_KEY_COLOR_RGB));
            SelectObject(source, previous);
            DeleteDC(source);
        }
    }
    if (logo != nullptr) {
        DeleteObject(logo);
    }
    EndPaint(dialog, &paint);
}

INT_PTR ColourLabel(HDC context, HWND label) {
    if (!IsRedLabel(GetDlgCtrlID(label))) {
        return FALSE;
    }
    SetTextColor(context, ToColorRef(LABEL_RED_RGB));
    SetBkMode(context, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(g_labelBrush);
}

INT_PTR DeviceChange(WPARAM event, LPARAM lParam) {
    DeviceBroadcast broadcast;
    const bool present = DeviceBroadcastFromMessage(lParam, &broadcast);
    return OnDeviceChange(uint32_t(event), present ? &broadcast : nullptr) != 0 ? TRUE : FALSE;
}

} // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return TRUE;
    case WM_PAINT:
        PaintLogo(dialog);
        return FALSE;
    case WM_COMMAND:
        switch (MainDialogCommand(LOWORD(wParam))) {
        case COMMAND_CLOSE:
            EndMainDialog(dialog, 2);
            return TRUE;
        case COMMAND_NOT_HANDLED:
            return FALSE;
        case COMMAND_HANDLED:
            return TRUE;
        }
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return ColourLabel(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DEVICECHANGE:
        return DeviceChange(wParam, lParam);
    case WM_NCDESTROY:
        if (g_labelBrush != nullptr) {
            DeleteObject(g_labelBrush);
            g_labelBrush = nullptr;
        }
        return FALSE;
    default:
        // A registered message: no case label. Windows sends it once the
        // dialog's taskbar button exists, and again after Explorer restarts.
        if (message != 0 && message == TaskbarButtonCreatedMessage()) {
            TaskbarButtonCreated(dialog);
            return TRUE;
        }
        return FALSE;
    }
}
