// Dialogs (the window framework's glue), the list view and its image list.
// Part of the door between the logic and the system (platform.h); the logic calls these
// through Dialogs(), which the entry point or a test has installed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/scoped_handle.h"
#include "platform/winapi_values.h"

namespace nb {

struct QueuedMessage {  // one message as the modal loop sees it before dispatch
    WindowId hwnd = 0;
    uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// What a dialog window's messages are delivered to: the window framework's dialog class
// implements it, so that this layer knows nothing above itself.
class IMessageTarget {
public:
    // Every message of the window, from WM_CREATE on; returns the message's result.
    virtual std::intptr_t WindowProc(uint32_t msg, std::uintptr_t wp, std::intptr_t lp) = 0;
    // Offered every message of a modal loop before dispatch; true consumes it.
    virtual bool PreTranslateMessage(const QueuedMessage& msg) = 0;
    // The window has come to be (first message) / is gone (after WM_NCDESTROY).
    virtual void Attach(WindowId hwnd) = 0;
    virtual void Detach() = 0;

protected:
    ~IMessageTarget() = default;
};

class IDialogs {
public:
    virtual int InitCommonControls(uint32_t iccClasses) = 0;
    // Creates a modeless dialog from the template; every message of the new window, from
    // WM_CREATE on, goes to self->WindowProc. Returns the window, 0 on failure.
    virtual WindowId CreateDialogWindow(int templateId, WindowId owner, IMessageTarget* self) = 0;
    // Runs the dialog modally: its own loop, which offers each message to
    // self->PreTranslateMessage first. Returns the value given to EndModal, -1 on failure.
    virtual std::intptr_t RunModalDialog(int templateId, WindowId owner, IMessageTarget* self) = 0;
    virtual void EndModal(WindowId hwnd, std::intptr_t result) = 0;
    virtual void DestroyWin(WindowId hwnd) = 0;
    virtual std::intptr_t DefaultProc(WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                                      std::intptr_t lp) = 0;
    virtual WindowId DialogItem(WindowId dialog, int id) = 0;
    virtual ImageListRef ImageListCreate(int cx, int cy, uint32_t flags, int initial, int grow) = 0;
    virtual void ImageListDestroy(ImageListRef list) = 0;
    virtual int ImageListAddIcon(ImageListRef list, IconRef icon) = 0;  // index, or -1
    virtual int ImageListCount(ImageListRef list) = 0;
    // LVM_SETIMAGELIST (LVSIL_SMALL). 1 when the list view now holds the image list: it then
    // owns it (no LVS_SHAREIMAGELISTS) and destroys it with itself.
    virtual int ListSetSmallImages(WindowId list, ImageListRef images) = 0;
    virtual int ListInsertColumn(WindowId list, int column, const std::wstring& title,
                                 int width) = 0;
    // Inserts a row (text, image, lParam 0); returns its index or -1.
    virtual int ListInsertItem(WindowId list, int index, const std::wstring& text, int image) = 0;
    // Indices of the selected rows, lowest first.
    virtual std::vector<int> SelectedRows(WindowId list) = 0;
    virtual std::wstring ListItemText(WindowId list, int index) = 0;
    virtual int ListDeleteItem(WindowId list, int index) = 0;

protected:
    ~IDialogs() = default;
};

IDialogs& Dialogs();

inline void DestroyImageListRef(ImageListRef h) { Dialogs().ImageListDestroy(h); }
using ScopedImageList = ScopedHandle<OpaqueTraits<ImageListRef, &DestroyImageListRef>>;

}  // namespace nb
