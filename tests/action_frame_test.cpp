// What the custom actions share: privileges on the process token, the guarded frame with its
// unknown-exception box, and reading the installation folder.
#include <cstring>

#include "setup/custom_actions.h"
#include "sim_fixture.h"

namespace {

using Privileges = SimTest;

TEST_F(Privileges, SetPrivilegeReportsAndRemembers) {
    struct Case {
        const char* name;
        bool held, enabledBefore;
        BOOL enable;
        DWORD result;
        BOOL previous;
        bool enabledAfter;
    } cases[] = {
        {"SeLoadDriverPrivilege", true, false, TRUE, 0, FALSE, true},
        {"SeLoadDriverPrivilege", true, true, TRUE, 0, TRUE, true},
        {"SeLoadDriverPrivilege", true, true, FALSE, 0, TRUE, false},
        {"SeLoadDriverPrivilege", true, false, FALSE, 0, FALSE, false},
        {"SeTcbPrivilege", false, false, TRUE, ERROR_NOT_ALL_ASSIGNED, FALSE, false},
        {"SeNoSuchPrivilege", false, false, TRUE, ERROR_NO_SUCH_PRIVILEGE, FALSE, false},
    };
    // The earlier state may list only changed privileges, or every one asked about: both must read right.
    for (bool listsUnchanged : {false, true})
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.enable ? " enable" : " disable") + (c.enabledBefore ? " from on" : "") +
                     (listsUnchanged ? ", unchanged privileges listed" : ""));
        sim::Reset();
        sim::SetPreviousStateListsUnchanged(listsUnchanged);
        sim::SetPrivilegeState(c.name, c.held, c.enabledBefore);
        BOOL previous = 7;
        EXPECT_EQ(SetPrivilege(sim::U16(c.name).c_str(), c.enable, &previous), c.result);
        EXPECT_EQ(previous, c.previous);
        EXPECT_EQ(sim::GetPrivilegeState(c.name).enabled, c.enabledAfter);
        EXPECT_EQ(sim::LeakReport(), "");
    }
}

TEST_F(Privileges, TokenOpenedWithAllAccessButSessionId) {
    EXPECT_EQ(SetPrivilege(TEXT("SeSecurityPrivilege"), TRUE, nullptr), 0u);
    auto opens = sim::Calls("OpenProcessToken");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].Number("DesiredAccess"), 0xF00FFu);
    auto lookups = sim::Calls("LookupPrivilegeValueW");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_TRUE(lookups[0].Find("lpSystemName")->isNull);
}

TEST_F(Privileges, FailedTokenCallsAreReturnedAndPreviousIsFalse) {
    sim::SetPrivilegeState("SeSecurityPrivilege", true, true);
    struct Case {
        const char* api;
        DWORD error;
        DWORD want;
    } cases[] = {
        {"LookupPrivilegeValueW", ERROR_ACCESS_DENIED, ERROR_NO_SUCH_PRIVILEGE},  // any lookup failure reads 1313
        {"OpenProcessToken", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {"AdjustTokenPrivileges", ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.api);
        sim::ClearFaults();
        sim::FailCall(c.api, 1, c.error);
        BOOL previous = TRUE;
        EXPECT_EQ(SetPrivilege(TEXT("SeSecurityPrivilege"), TRUE, &previous), c.want);
        EXPECT_FALSE(previous);
        EXPECT_EQ(sim::LeakReport(), "");
    }
}

using Frame = SimTest;

struct Observed {
    bool takeOwnership, security, loadDriver;
};
Observed observed;

void ObservePrivileges(CustomAction* action) {
    observed = {sim::GetPrivilegeState("SeTakeOwnershipPrivilege").enabled,
                sim::GetPrivilegeState("SeSecurityPrivilege").enabled,
                sim::GetPrivilegeState("SeLoadDriverPrivilege").enabled};
    action->result = 7;
}

void FaultAfterProgress(CustomAction* action) {
    action->exceptionResult = 1603;
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    action->result = 0;
}

TEST_F(Frame, HoldsThePrivilegesForTheBodyAndPutsThemBack) {
    sim::SetPrivilegeState("SeSecurityPrivilege", true, true);  // already on: stays on
    CustomAction action = {sim::InstallHandle(), true, ObservePrivileges, 0, 0};
    EXPECT_EQ(RunCustomAction(&action), 7u);
    EXPECT_TRUE(observed.takeOwnership && observed.security && observed.loadDriver);
    EXPECT_FALSE(sim::GetPrivilegeState("SeTakeOwnershipPrivilege").enabled);
    EXPECT_TRUE(sim::GetPrivilegeState("SeSecurityPrivilege").enabled);
    EXPECT_FALSE(sim::GetPrivilegeState("SeLoadDriverPrivilege").enabled);

    std::vector<std::pair<uint64_t, uint64_t>> adjustments;  // (privilege, attributes) in call order
    for (const auto& call : sim::Calls("AdjustTokenPrivileges"))
        adjustments.emplace_back(call.Number("Luid"), call.Number("Attributes"));
    const std::vector<std::pair<uint64_t, uint64_t>> want = {
        {9, SE_PRIVILEGE_ENABLED}, {8, SE_PRIVILEGE_ENABLED}, {10, SE_PRIVILEGE_ENABLED},  // enable in order
        {10, 0}, {8, SE_PRIVILEGE_ENABLED}, {9, 0},                                        // restore in reverse
    };
    EXPECT_EQ(adjustments, want);
}

TEST_F(Frame, ExceptionShowsTheBoxRestoresAndReturnsTheLastStatus) {
    sim::ScriptMessageBox(IDOK, "An Unknown Exception Occurred.");
    CustomAction action = {sim::InstallHandle(), true, FaultAfterProgress, 0, 1};
    EXPECT_EQ(RunCustomAction(&action), 1603u);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, "An Unknown Exception Occurred.");
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "");
    EXPECT_FALSE(sim::MessageBoxes()[0].captionNull);
    EXPECT_EQ(sim::MessageBoxes()[0].style, MB_OK);
    for (const char* name : {"SeTakeOwnershipPrivilege", "SeSecurityPrivilege", "SeLoadDriverPrivilege"})
        EXPECT_FALSE(sim::GetPrivilegeState(name).enabled) << name;
}

using CustomActionData = SimTest;

TEST_F(CustomActionData, PropertyFirstThenTheRecordedFolder) {
    const char* settings = "Software\\Kelmiso\\ZEL";
    std::u16string longText(300, u'p');
    struct Case {
        const char* name;
        std::optional<std::u16string> property;  // nullopt: the property cannot be read
        std::vector<uint8_t> targetDir;          // raw REG_SZ bytes; empty: no value
        DWORD capacity;
        DWORD want;
        std::string text;
        bool readsRegistry;
    };
    auto bytes = [](std::u16string_view text, bool terminated) {
        std::vector<uint8_t> out;
        for (char16_t c : text) {
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(c >> 8));
        }
        if (terminated) out.insert(out.end(), {0, 0});
        return out;
    };
    Case cases[] = {
        {"property read", u"C:\\P\\", bytes(u"C:\\R\\", true), 260, 0, "C:\\P\\", false},
        {"empty property counts as read", u"", bytes(u"C:\\R\\", true), 260, 0, "", false},
        {"property too long: registry", longText, bytes(u"C:\\R\\", true), 260, 0, "C:\\R\\", true},
        {"no session: registry", std::nullopt, bytes(u"C:\\R\\", true), 260, 0, "C:\\R\\", true},
        {"stored without terminator", std::nullopt, bytes(u"C:\\R\\", false), 260, 0, "C:\\R\\", true},
        {"unterminated and filling the buffer", std::nullopt, bytes(u"abcd", false), 4, ERROR_MORE_DATA, "", true},
        {"terminated and filling the buffer", std::nullopt, bytes(u"abc", true), 4, 0, "abc", true},
        {"longer than the buffer", std::nullopt, bytes(u"abcdef", true), 4, ERROR_MORE_DATA, "", true},
        {"no value", std::nullopt, {}, 260, ERROR_FILE_NOT_FOUND, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::RegCreateKey(HKEY_LOCAL_MACHINE, settings);
        if (!c.targetDir.empty()) sim::RegSetRaw(HKEY_LOCAL_MACHINE, settings, "TargetDir", REG_SZ, c.targetDir);
        if (c.property) sim::SetProperty("CustomActionData", *c.property);
        MSIHANDLE install = c.property ? sim::InstallHandle() : 0;
        std::vector<WCHAR> buffer(c.capacity + 1, u'#');
        EXPECT_EQ(GetCustomActionData(install, buffer.data(), c.capacity), c.want);
        EXPECT_EQ(buffer[c.capacity], u'#') << "wrote past the buffer";
        if (c.want == 0) {
            EXPECT_EQ(sim::U8(buffer.data()), c.text);
        }
        auto opens = sim::Calls("RegOpenKeyExW");
        EXPECT_EQ(!opens.empty(), c.readsRegistry);
        if (!opens.empty()) {
            EXPECT_EQ(opens[0].Text("lpSubKey"), settings);
            EXPECT_EQ(opens[0].Number("samDesired"), 0x20019u);
        }
        EXPECT_EQ(sim::LeakReport(), "");
    }
}

TEST_F(CustomActionData, MissingSettingsKeyIsReported) {
    WCHAR buffer[260];
    EXPECT_EQ(GetCustomActionData(0, buffer, 260), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
