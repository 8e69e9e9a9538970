// Error names, the error box and trace lines, as a person or a debugger sees them.
#include <atomic>
#include <condition_variable>
#include <thread>

#include "diag/status.h"
#include "sim_fixture.h"

namespace {

class TraceOn : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        TraceSwitch = 1;
    }
    void TearDown() override {
        TraceSwitch = 0;
        SimTest::TearDown();
    }
};

TEST(ErrorNames, TableOrderAndFirstMatch) {
    EXPECT_EQ(sim::U8(ErrorNameTable[0].name), "ERROR_EXPECTED_SECTION_NAME");
    EXPECT_EQ(ErrorNameTable[51].code, 0xE000022Cu);
    EXPECT_EQ(sim::U8(ErrorNameTable[52].name), "ERROR_NO_DEFAULT_INTERFACE_DEVICE");
    EXPECT_EQ(sim::U8(ErrorNameTable[56].name), "ERROR_NOT_INSTALLED");
    for (int i = 0; i < 31; ++i) {
        EXPECT_EQ(ErrorNameTable[57 + i].code, static_cast<DWORD>(-1 - i));
        EXPECT_EQ(sim::U8(ErrorNameTable[57 + i].name).rfind("ZEL_", 0), 0u);
    }
    struct Case {
        DWORD code;
        const char* name;
    } cases[] = {
        {0xE000021A, "ERROR_NO_DEFAULT_DEVICE_INTERFACE"},  // never the older name of row 52
        {0xE0000225, "ERROR_NO_SUCH_DEVICE_INTERFACE"},
        {0xE0000101, "ERROR_SECTION_NOT_FOUND"},
        {static_cast<DWORD>(ZEL_DRIVER_OPEN_FAILED), "ZEL_DRIVER_OPEN_FAILED"},
        {static_cast<DWORD>(ZEL_ERROR_PORT_IS_OPEN), "ZEL_ERROR_PORT_IS_OPEN"},
    };
    for (const Case& c : cases) EXPECT_EQ(sim::U8(LookupErrorName(c.code)), c.name);
    EXPECT_EQ(LookupErrorName(2), nullptr);
    EXPECT_EQ(LookupErrorName(0xE0000004), nullptr);
}

using ErrorBox = SimTest;

TEST_F(ErrorBox, NamesTheFailureWithTheBestTextAvailable) {
    struct Case {
        ZelStatus code;
        const char* text;
    } cases[] = {
        {2, "Error 2 in SetupCopyOEMInf: The system cannot find the file specified.\r\n\n"},
        {ZEL_DRIVER_OPEN_FAILED, "Error FFFFFFF3 in SetupCopyOEMInf: ZEL_DRIVER_OPEN_FAILED\n"},
        {static_cast<ZelStatus>(0xE0000101), "Error E0000101 in SetupCopyOEMInf: ERROR_SECTION_NOT_FOUND\n"},
        {0x12345, "Error 00012345 in SetupCopyOEMInf\n"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) sim::ScriptMessageBox(IDOK);
    for (const Case& c : cases) EXPECT_EQ(ShowErrorBox(TEXT("SetupCopyOEMInf"), c.code), IDOK);
    ASSERT_EQ(sim::MessageBoxes().size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& box = sim::MessageBoxes()[i];
        EXPECT_EQ(box.text, cases[i].text);
        EXPECT_EQ(box.caption, "");
        EXPECT_FALSE(box.captionNull) << "the caption is an empty text, not a null pointer";
        EXPECT_TRUE(box.ownerNull);
        EXPECT_EQ(box.style, MB_OK);
    }
    EXPECT_EQ(sim::HeapBlockCount(), 0u) << "the system text must be released";
}

TEST_F(ErrorBox, LongContextIsCutNotOverrun) {
    std::u16string context(2000, u'x');
    sim::ScriptMessageBox(IDOK);
    ShowErrorBox(context.c_str(), 2);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].text.size(), 511u);
}

TEST_F(TraceOn, LabelsAndCodes) {
    struct Case {
        DWORD kind;
        BOOL hasCode;
        DWORD code;
        const char* line;
    } cases[] = {
        {TRACE_FLOW, 0, 0, "ZelIf(TRAC) _AddPort++ Port 5\n"},
        {TRACE_FLOW, 0, 5, "ZelIf(TRAC) _AddPort++ Port 5\n"},  // no code without hasCode
        {TRACE_FLOW, 1, 0, "ZelIf(TRAC) _AddPort++ Port 5 (00000000) The operation completed successfully.\r\n"},
        {TRACE_FLOW, 1, 5, "ZelIf(ERR_) _AddPort++ Port 5 (00000005) Access is denied.\r\n"},
        {TRACE_ERROR, 0, 0, "ZelIf(ERR_) _AddPort++ Port 5\n"},
        {TRACE_WARNING, 0, 0, "ZelIf(WARN) _AddPort++ Port 5\n"},
        {TRACE_INFO, 0, 0, "ZelIf(INFO) _AddPort++ Port 5\n"},
        {0, 0, 0, "ZelIf(TRAC) _AddPort++ Port 5\n"},
        {5, 0, 0, "ZelIf(TRAC) _AddPort++ Port 5\n"},
        {TRACE_FLOW, 1, static_cast<DWORD>(-13), "ZelIf(ERR_) _AddPort++ Port 5 (FFFFFFF3) ZEL_DRIVER_OPEN_FAILED\n"},
        {TRACE_FLOW, 1, 0x12345, "ZelIf(ERR_) _AddPort++ Port 5 (00012345)\n"},
    };
    for (const Case& c : cases) TracePrint(TRACE_SETUP, c.kind, c.hasCode, c.code, "_AddPort++ Port %d", 5);
    auto writes = sim::DebugOutputWrites();
    ASSERT_EQ(writes.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(writes[i], cases[i].line) << "case " << i;
    EXPECT_EQ(sim::HeapBlockCount(), 0u);
}

TEST_F(TraceOn, OnlyTheCallersFormatConsumesValues) {
    // A per-cent sign in a wide argument or in a name must come through as it stands.
    TracePrint(TRACE_SETUP, TRACE_FLOW, 1, static_cast<DWORD>(-13), "GetTargetDir-- \"%ws\"", TEXT("C:\\100%d\\"));
    TracePrint(TRACE_SETUP, TRACE_FLOW, 0, 0, "SortPortMap--");
    auto writes = sim::DebugOutputWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], "ZelIf(ERR_) GetTargetDir-- \"C:\\100%d\\\" (FFFFFFF3) ZEL_DRIVER_OPEN_FAILED\n");
    EXPECT_EQ(writes[1], "ZelIf(TRAC) SortPortMap--\n");
}

TEST_F(TraceOn, MaskLevelAndLineLength) {
    TraceMask = TRACE_SETUP;
    TracePrint(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "masked");
    TraceMask = 0xFFFFFFFF;
    TraceLevel = TRACE_WARNING;
    TracePrint(TRACE_SETUP, TRACE_INFO, 0, 0, "too detailed");
    TraceLevel = 0xFFFFFFFF;
    std::string longText(1000, 'x');
    TracePrint(TRACE_SETUP, TRACE_FLOW, 0, 0, "%s", longText.c_str());
    auto writes = sim::DebugOutputWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 511u);
}

TEST_F(TraceOn, NinthConcurrentLineIsDroppedNotWaitedFor) {
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    bool release = false;
    sim::SetDebugOutputHook([&](const char*) {
        std::unique_lock lock(mutex);
        ++inside;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    std::vector<std::thread> writers;
    for (int i = 0; i < 8; ++i)
        writers.emplace_back([i] { TracePrint(TRACE_SETUP, TRACE_FLOW, 0, 0, "writer %d", i); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return inside == 8; });
    }
    TracePrint(TRACE_SETUP, TRACE_FLOW, 0, 0, "ninth");  // returns at once: every slot is busy
    EXPECT_EQ(sim::DebugOutputWrites().size(), 8u);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    for (auto& writer : writers) writer.join();
    sim::SetDebugOutputHook(nullptr);
    TracePrint(TRACE_SETUP, TRACE_FLOW, 0, 0, "after");
    auto writes = sim::DebugOutputWrites();
    ASSERT_EQ(writes.size(), 9u);
    EXPECT_EQ(writes.back(), "ZelIf(TRAC) after\n");
    for (const auto& line : writes) EXPECT_EQ(line.find("ninth"), std::string::npos);
}

}  // namespace
