#pragma once
/* The hand-over between the installer and the helper library ImgKit.dll.
 *
 * Both sides are built together but each carries its own C runtime, so only
 * plain C types cross: NUL-terminated UTF-16 texts, 32-bit integers and a
 * callback record of a function pointer and its context, passed by value. */
#include <stdint.h>

#include "qv_product.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Installer window messages: WM_USER + 1 carries the percent in lParam;
 * WM_USER + 2 asks the installer window to end (the helper posts it after a
 * failure it has already shown to the user). */
#define QV_WM_INSTALL_PROGRESS (0x0400 + 1)
#define QV_WM_INSTALL_QUIT (0x0400 + 2)

/* Install flags word. */
#define INSTALL_FLAG_DESKTOP_SHORTCUT 0x4
#define INSTALL_FLAG_JOIN_PLAN 0x8

/* A callable object taking one 32-bit signed integer. `invoke` may be called
 * from any thread for as long as the installer window exists. */
typedef void(__cdecl* QvIntCallbackFn)(void* context, int32_t value);
typedef struct QvIntCallback {
    QvIntCallbackFn invoke;
    void* context;
} QvIntCallback;

/* The list of the payload's items (see install/payload_items.h), in the
 * parent folder of the payload folder. The helper installs exactly these. */
#define QV_PAYLOAD_ITEM_LIST L"items.lst"

/* Status codes reported through the status callback: by the helper, and by
 * the installer itself for what fails before the hand-over. */
enum QvSetupStatus {
    QV_SETUP_OK = 0,
    QV_SETUP_BAD_ARGUMENTS = 1,
    QV_SETUP_NO_PAYLOAD = 2,
    QV_SETUP_CANNOT_CREATE_FOLDER = 3,
    QV_SETUP_COPY_FAILED = 4,
    QV_SETUP_SHORTCUT_FAILED = 5,
    QV_SETUP_REGISTRY_FAILED = 6,
    QV_SETUP_THREAD_FAILED = 7,
    QV_SETUP_SETTINGS_FAILED = 8, /* the installer could not store its settings */
    QV_SETUP_PAYLOAD_CHANGED = 9, /* an extracted file is not what the archive holds */
    QV_SETUP_INTERNAL_ERROR = 10  /* the helper failed unexpectedly (an exception) */
};

/* The helper's work is over once it reports 100 or a status other than a
 * warning (a shortcut or an uninstall entry that could not be made). */
#define QV_SETUP_STATUS_IS_FINAL(code) ((code) != QV_SETUP_SHORTCUT_FAILED && (code) != QV_SETUP_REGISTRY_FAILED)

/* The entry point, exported as "SetupViewer". Progress is reported in percent
 * through `progress`, rising and ending with 100 when the installation is
 * complete. The texts are valid only during the call. */
typedef void(__cdecl* SetupViewerFn)(const wchar_t* payloadFolder, const wchar_t* installFolder, int32_t flags,
                                     QvIntCallback status, QvIntCallback progress);

#define QV_SETUP_VIEWER_EXPORT "SetupViewer"

#ifdef __cplusplus
}
#endif
