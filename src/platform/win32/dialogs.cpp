// The common controls, the list view and its image list over Win32 (the dialogs themselves:
// dialog_glue.cpp).
#include "platform/win32/windows_support.h"

#include "platform/win32/win32_platform.h"
#include "platform/win32/window_handles.h"

#include <vector>

namespace nb {
namespace win {

int Win32Dialogs::InitCommonControls(uint32_t iccClasses) {
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = iccClasses;
    return ::InitCommonControlsEx(&icc) ? 1 : 0;
}

WindowId Win32Dialogs::DialogItem(WindowId dialog, int id) {
    return W(::GetDlgItem(H(dialog), id));
}

ImageListRef Win32Dialogs::ImageListCreate(int cx, int cy, uint32_t flags, int initial, int grow) {
    return reinterpret_cast<ImageListRef>(::ImageList_Create(cx, cy, flags, initial, grow));
}

void Win32Dialogs::ImageListDestroy(ImageListRef list) {
    if (list != 0) ::ImageList_Destroy(reinterpret_cast<HIMAGELIST>(list));
}

int Win32Dialogs::ImageListAddIcon(ImageListRef list, IconRef icon) {
    return ::ImageList_ReplaceIcon(reinterpret_cast<HIMAGELIST>(list), -1,
                                   reinterpret_cast<HICON>(icon));
}

int Win32Dialogs::ImageListCount(ImageListRef list) {
    return ::ImageList_GetImageCount(reinterpret_cast<HIMAGELIST>(list));
}

int Win32Dialogs::ListSetSmallImages(WindowId list, ImageListRef images) {
    ::SendMessageW(H(list), LVM_SETIMAGELIST, LVSIL_SMALL, static_cast<LPARAM>(images));
    // The previous list is the result, so ask whether the control took this one.
    LRESULT held = ::SendMessageW(H(list), LVM_GETIMAGELIST, LVSIL_SMALL, 0);
    return images != 0 && static_cast<ImageListRef>(held) == images ? 1 : 0;
}

int Win32Dialogs::ListInsertColumn(WindowId list, int column, const std::wstring& title,
                                   int width) {
    LVCOLUMNW col = {};
    col.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    col.cx = width;
    col.pszText = const_cast<wchar_t*>(title.c_str());
    col.iSubItem = 0;
    return static_cast<int>(
        ::SendMessageW(H(list), LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&col)));
}

int Win32Dialogs::ListInsertItem(WindowId list, int index, const std::wstring& text, int image) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = index;
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    item.iImage = image;
    item.lParam = 0;
    return static_cast<int>(
        ::SendMessageW(H(list), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

std::vector<int> Win32Dialogs::SelectedRows(WindowId list) {
    std::vector<int> rows;
    for (int row = -1;;) {
        row = static_cast<int>(::SendMessageW(H(list), LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                              MAKELPARAM(LVNI_SELECTED, 0)));
        if (row == -1) return rows;
        rows.push_back(row);
    }
}

std::wstring Win32Dialogs::ListItemText(WindowId list, int index) {
    // The control does not tell the length: grow the buffer while the text fills it.
    for (std::size_t size = 256;; size *= 2) {
        std::vector<wchar_t> buf(size);
        LVITEMW item = {};
        item.iSubItem = 0;
        item.pszText = buf.data();
        item.cchTextMax = static_cast<int>(size);
        LRESULT n = ::SendMessageW(H(list), LVM_GETITEMTEXTW, static_cast<WPARAM>(index),
                                   reinterpret_cast<LPARAM>(&item));
        if (n < static_cast<LRESULT>(size) - 1 || size >= 32768)
            return std::wstring(item.pszText != nullptr ? item.pszText : L"");
    }
}

int Win32Dialogs::ListDeleteItem(WindowId list, int index) {
    return ::SendMessageW(H(list), LVM_DELETEITEM, static_cast<WPARAM>(index), 0) ? 1 : 0;
}

}  // namespace win
}  // namespace nb
