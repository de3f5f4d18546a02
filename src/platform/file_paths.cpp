// The parts of a path, and path forms for the Win32 file functions.
#include "platform/file_paths.h"

#include <cwchar>
#include <vector>

namespace nb {

namespace {
// Where the extension of a file name begins (its last dot), its length when it has none.
std::size_t ExtensionStart(const std::wstring& name) {
    std::size_t dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name.size() : dot;
}
}  // namespace

PathParts SplitPath(const std::wstring& path) {
    PathParts p;
    std::wstring rest = path;
    if (rest.size() >= 2 && rest[1] == L':') {
        p.drive = rest.substr(0, 2);
        rest.erase(0, 2);
    }
    std::wstring name = FileName(rest);
    p.dir = rest.substr(0, rest.size() - name.size());
    std::size_t ext = ExtensionStart(name);
    p.fname = name.substr(0, ext);
    p.ext = name.substr(ext);
    return p;
}

std::wstring FileName(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FileStem(const std::wstring& path) {
    std::wstring name = FileName(path);
    return name.substr(0, ExtensionStart(name));
}

std::wstring CollapseRepeatedSeparators(const std::wstring& path) {
    std::wstring out;
    out.reserve(path.size());
    std::size_t i = 0;
    if (path.compare(0, 2, L"\\\\") == 0) {
        out = L"\\\\";
        i = 2;
    }
    for (; i < path.size(); ++i) {
        if (path[i] == L'\\' && !out.empty() && out.back() == L'\\') continue;
        out.push_back(path[i]);
    }
    return out;
}

std::wstring ExtendedLengthPath(const std::wstring& path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
    std::wstring prefix, rest;
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
        prefix = L"\\\\?\\" + path.substr(0, 2);  // \\?\C:
        rest = path.substr(2);
    } else if (path.compare(0, 2, L"\\\\") == 0 && path.size() > 2 && path[2] != L'\\') {
        prefix = L"\\\\?\\UNC";
        rest = path.substr(1);  // \server\share\...
    } else {
        return path;
    }
    // Components, with "." dropped and ".." taking the one before it away (never the UNC
    // server and share, nor above the drive's root).
    std::vector<std::wstring> parts;
    const std::size_t keep = prefix == L"\\\\?\\UNC" ? 2 : 0;
    std::size_t pos = 0;
    while (pos <= rest.size()) {
        std::size_t end = rest.find(L'\\', pos);
        if (end == std::wstring::npos) end = rest.size();
        std::wstring part = rest.substr(pos, end - pos);
        if (part == L"..") {
            if (parts.size() > keep) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    std::wstring out = prefix;
    for (const std::wstring& p : parts) out += L"\\" + p;
    if (parts.empty() || (!rest.empty() && rest.back() == L'\\')) out += L"\\";
    return out;
}

std::wstring TemporarySibling(const std::wstring& target, unsigned long processId,
                              unsigned serial) {
    wchar_t suffix[40];
    std::swprintf(suffix, 40, L".%lx-%x.tmp", processId, serial);
    return target + suffix;
}

ReplacementPaths ReplacementPathsFor(const std::wstring& target, unsigned long processId,
                                     unsigned serial) {
    ReplacementPaths p{TemporarySibling(target, processId, serial), target};
    if (p.temp.size() + 1 > kMaxPathChars) {
        p.temp = TemporarySibling(ExtendedLengthPath(target), processId, serial);
        p.target = ExtendedLengthPath(target);
    }
    return p;
}

}  // namespace nb
