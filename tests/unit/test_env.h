// Common fixture: a fake platform and an application object whose settings path is fixed.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/nbmonitor_app.h"
#include "fake_platform.h"

class NbTest : public ::testing::Test {
protected:
    NbTest() {
        app.SetSettingsPath(L"C:\\nimbara\\conf\\nbmonitor.ini");
        app.SetTitle(L"nbmonitor");
    }
    void Set(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
        os.profile[std::wstring(section) + L"/" + key] = value;
    }
    FakePlatform os;
    CnbmonitorApp app;
};

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
