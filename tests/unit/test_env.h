// Common fixture: a fake platform and an application object whose settings path is fixed.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/nbmonitor_app.h"
#include "fake_platform.h"

using namespace nb;

class NbTest : public ::testing::Test {
protected:
    NbTest() {
        app.SetSettingsPath(L"C:\\nimbara\\conf\\nbmonitor.ini");
        app.SetTitle(L"nbmonitor");
    }
    void Set(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
        os.profile[std::wstring(section) + L"/" + key] = value;
    }
    // The supervision log's lines of one event ("server-said ..."), or of every event a prefix
    // ending in '-' begins ("tray-"), without their stamp.
    std::vector<std::string> Events(const std::string& name) const {
        std::vector<std::string> out;
        for (const std::string& l : os.LogLines()) {
            const std::size_t at = l.find(' ', l.find(' ') + 1) + 1;  // after time and pid
            if (l.compare(at, name.size(), name) == 0 &&
                (name.back() == '-' || at + name.size() == l.size() || l[at + name.size()] == ' '))
                out.push_back(l.substr(at));
        }
        return out;
    }
    FakePlatform os;
    CnbmonitorApp app;
};

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// What the fake's clock and process id put before every supervision log line.
inline const std::string kStamp = "2026-12-08T23:55:01.123+09:00 4242 ";

// Expected log lines, each behind the stamp.
inline std::vector<std::string> Stamped(std::initializer_list<std::string> lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines) out.push_back(kStamp + l);
    return out;
}
