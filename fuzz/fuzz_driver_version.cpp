// The driver's version answer, any bytes, through GetDriverVersion with any capacity: the display form
// stays inside the caller's buffer and is terminated there, and *length follows the request's outcome.
#include <cstring>
#include <memory>

#include "driver/driver_channel.h"
#include "driver/port_operations.h"
#include "fuzz/harness.h"

namespace {

constexpr uint8_t kCanary = 0xA5;

bool Untouched(const char* text, DWORD from, DWORD to) {
    for (DWORD i = from; i < to; ++i)
        if (static_cast<uint8_t>(text[i]) != kCanary) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    // Bits 0-5: the caller's capacity (0 to 63, around the 40-byte answer); bit 6: no driver; bit 7: the
    // driver fails the version request.
    uint8_t control = in.Byte();
    DWORD capacity = control & 0x3F;
    std::vector<uint8_t> answer = in.Rest();

    fuzz::Begin();
    sim::DriverState& driver = sim::Driver();
    driver.loaded = !(control & 0x40);
    driver.version = answer;
    if (control & 0x80) driver.controlErrors.push_back({IOCTL_ZEL_GET_VERSION, ERROR_GEN_FAILURE});

    // Exactly the capacity, so that a write past it is the sanitizer's to see.
    std::unique_ptr<char[]> text(new char[capacity ? capacity : 1]);
    std::memset(text.get(), kCanary, capacity ? capacity : 1);
    DWORD length = capacity;
    ZelStatus status = GetDriverVersion(text.get(), &length);

    fuzz::Check((static_cast<DWORD>(status) & 0xF0000000u) != 0xC0000000u, "an exception ended GetDriverVersion");
    // What the driver handed out fits its 40-byte buffer; the text is read up to its first NUL there.
    DWORD rawLength = 0;
    while (rawLength < answer.size() && rawLength < kVersionTextBytes && answer[rawLength]) ++rawLength;
    DWORD rawSize = rawLength + 1;
    if (status == 0) {
        fuzz::Check(answer.size() <= kVersionTextBytes, "success with an answer larger than the request allowed");
        fuzz::Check(length == rawSize, "*length is not the raw text's size after success");
        fuzz::Check(rawSize <= capacity, "success with a capacity below the raw text's size");
        fuzz::Check(std::memchr(text.get(), 0, rawSize) != nullptr, "display form not terminated within the raw text's size");
        fuzz::Check(Untouched(text.get(), rawSize, capacity), "bytes beyond the display form's bound were written");
    } else {
        fuzz::Check(Untouched(text.get(), 0, capacity), "text written although GetDriverVersion failed");
        bool tooSmall = status == ZEL_BUFFER_TOO_SMALL && length == rawSize && capacity < rawSize;
        fuzz::Check(tooSmall || length == kVersionTextBytes, "*length is neither 40 after a failed request nor the raw size");
    }
    fuzz::End();
    return 0;
}
