// Restore argument rules.
#include "maintenance/restore_name.h"

namespace nb {

bool IsRestorableName(const std::wstring& name) {
    if (name.empty()) return false;
    for (wchar_t c : name) {
        if (c < 0x20 || c == 0x7F) return false;
        switch (c) {
        case L'%':
        case L'!':
        case L'"':
        case L'^':
        case L'&':
        case L'|':
        case L'<':
        case L'>':
        case L'(':
        case L')': return false;
        default: break;
        }
    }
    return true;
}

std::wstring RestoreArgument(const std::wstring& name) {
    if (name.find_first_of(L" \t,;=\u00FF") == std::wstring::npos) return name;
    return L"\"" + name + L"\"";
}

}  // namespace nb
