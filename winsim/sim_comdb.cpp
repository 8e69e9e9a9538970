// The simulated COM port database of msports.dll. Its claims are a bitmap in the registry value "ComDB"
// (bit n - 1 for COMn, least significant bit first), so that they are part of the one registry and
// outlast the handle that made them; a missing value is an empty database of 256 ports.
#include <algorithm>
#include <cstring>

#include "winsim/devices.h"
#include "winsim/sim_internal.h"

namespace sim {
namespace detail {
namespace {

constexpr char kComDbValue[] = "ComDB";

struct ComDbHandle : HandleObject {};

std::vector<uint8_t> Bitmap() {
    auto value = RegGetValue(HKEY_LOCAL_MACHINE, kComDbPath, kComDbValue);
    std::vector<uint8_t> bits = value ? value->data : std::vector<uint8_t>();
    if (bits.size() < COMDB_MIN_PORTS_ARBITRATED / 8) bits.resize(COMDB_MIN_PORTS_ARBITRATED / 8, 0);
    return bits;
}

void StoreBitmap(std::vector<uint8_t> bits) {
    RegSetRaw(HKEY_LOCAL_MACHINE, kComDbPath, kComDbValue, REG_BINARY, std::move(bits));
}

DWORD PortCount(const std::vector<uint8_t>& bits) { return static_cast<DWORD>(bits.size() * 8); }

bool Claimed(const std::vector<uint8_t>& bits, DWORD comNumber) {
    return (bits[(comNumber - 1) / 8] >> ((comNumber - 1) % 8)) & 1;
}

void SetClaim(std::vector<uint8_t>& bits, DWORD comNumber, bool claimed) {
    uint8_t mask = static_cast<uint8_t>(1u << ((comNumber - 1) % 8));
    if (claimed) bits[(comNumber - 1) / 8] |= mask;
    else bits[(comNumber - 1) / 8] &= static_cast<uint8_t>(~mask);
}

bool IsDatabase(HCOMDB database) {
    return Find<ComDbHandle>(reinterpret_cast<uintptr_t>(database), HandleKind::ComDatabase) != nullptr;
}

}  // namespace
}  // namespace detail

using namespace detail;

void ClaimComNumber(DWORD comNumber) {
    Guard guard(Lock());
    std::vector<uint8_t> bits = Bitmap();
    if (comNumber >= 1 && comNumber <= PortCount(bits)) SetClaim(bits, comNumber, true);
    StoreBitmap(std::move(bits));
}

void ReleaseComNumber(DWORD comNumber) {
    Guard guard(Lock());
    std::vector<uint8_t> bits = Bitmap();
    if (comNumber >= 1 && comNumber <= PortCount(bits)) SetClaim(bits, comNumber, false);
    StoreBitmap(std::move(bits));
}

bool IsComNumberClaimed(DWORD comNumber) {
    Guard guard(Lock());
    std::vector<uint8_t> bits = Bitmap();
    return comNumber >= 1 && comNumber <= PortCount(bits) && Claimed(bits, comNumber);
}

std::vector<DWORD> ClaimedComNumbers() {
    Guard guard(Lock());
    std::vector<uint8_t> bits = Bitmap();
    std::vector<DWORD> out;
    for (DWORD n = 1; n <= PortCount(bits); ++n)
        if (Claimed(bits, n)) out.push_back(n);
    return out;
}

void SetComDbSize(DWORD ports) {
    Guard guard(Lock());
    std::vector<uint8_t> bits = Bitmap();
    bits.resize(std::max<DWORD>(ports, 8) / 8, 0);
    StoreBitmap(std::move(bits));
}

}  // namespace sim

using sim::detail::A;
using namespace sim;
using namespace sim::detail;

extern "C" {

LONG WINAPI ComDBOpen(PHCOMDB database) {
    SIM_ENTER(outcome, "ComDBOpen", A("PHComDB", database));
    if (database) *database = HCOMDB_INVALID_HANDLE_VALUE;
    if (outcome) return static_cast<LONG>(outcome.code);
    if (!database) return ERROR_INVALID_PARAMETER;
    *database = reinterpret_cast<HCOMDB>(
        AddHandle(HandleKind::ComDatabase, std::make_shared<ComDbHandle>(), "ComDBOpen"));
    return ERROR_SUCCESS;
}

LONG WINAPI ComDBClose(HCOMDB database) {
    SIM_ENTER_RELEASE(outcome, "ComDBClose", A("hComDB", database));
    if (outcome) return static_cast<LONG>(outcome.code);
    return RemoveHandle(reinterpret_cast<uintptr_t>(database), HandleKind::ComDatabase, "ComDBClose")
               ? ERROR_SUCCESS
               : ERROR_INVALID_PARAMETER;
}

LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB database, PBYTE buffer, DWORD bufferSize, ULONG reportType,
                                     LPDWORD maxPortsReported) {
    SIM_ENTER(outcome, "ComDBGetCurrentPortUsage", A("hComDB", database), A("Buffer", buffer),
              A("BufferSize", bufferSize), A("ReportType", reportType));
    if (outcome) return static_cast<LONG>(outcome.code);
    Guard guard(Lock());
    if (!IsDatabase(database)) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> bits = Bitmap();
    DWORD ports = PortCount(bits);
    if (!buffer) {
        // Without a buffer the call reports the database's size.
        if (!maxPortsReported) return ERROR_INVALID_PARAMETER;
        *maxPortsReported = ports;
        return ERROR_SUCCESS;
    }
    if (reportType == CDB_REPORT_BYTES) {
        DWORD count = std::min(bufferSize, ports);
        for (DWORD i = 0; i < count; ++i) buffer[i] = Claimed(bits, i + 1) ? 1 : 0;
        if (maxPortsReported) *maxPortsReported = count;
        return ERROR_SUCCESS;
    }
    if (reportType == CDB_REPORT_BITS) {
        DWORD count = std::min<DWORD>(bufferSize, ports / 8);
        std::memcpy(buffer, bits.data(), count);
        if (maxPortsReported) *maxPortsReported = count * 8;
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_PARAMETER;
}

LONG WINAPI ComDBClaimPort(HCOMDB database, DWORD comNumber, BOOL forceClaim, PBOOL forced) {
    SIM_ENTER(outcome, "ComDBClaimPort", A("hComDB", database), A("ComNumber", comNumber),
              A("ForceClaim", forceClaim), A("Forced", forced));
    if (outcome) return static_cast<LONG>(outcome.code);
    Guard guard(Lock());
    if (!IsDatabase(database)) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> bits = Bitmap();
    if (comNumber < 1 || comNumber > PortCount(bits)) return ERROR_INVALID_PARAMETER;
    bool inUse = Claimed(bits, comNumber);
    if (inUse && !forceClaim) return ERROR_SHARING_VIOLATION;
    if (forced) *forced = inUse ? TRUE : FALSE;
    SetClaim(bits, comNumber, true);
    StoreBitmap(std::move(bits));
    return ERROR_SUCCESS;
}

LONG WINAPI ComDBReleasePort(HCOMDB database, DWORD comNumber) {
    SIM_ENTER(outcome, "ComDBReleasePort", A("hComDB", database), A("ComNumber", comNumber));
    if (outcome) return static_cast<LONG>(outcome.code);
    Guard guard(Lock());
    if (!IsDatabase(database)) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> bits = Bitmap();
    if (comNumber < 1 || comNumber > PortCount(bits)) return ERROR_INVALID_PARAMETER;
    SetClaim(bits, comNumber, false);
    StoreBitmap(std::move(bits));
    return ERROR_SUCCESS;
}

}  // extern "C"
