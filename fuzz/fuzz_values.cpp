// Value conversions over any text: reading it as each type, writing what was read, and reading
// that again must give the same value; cutting a string keeps whole characters.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "mvb/charset.h"
#include "mvb/datavar.h"
#include "mvb/types.h"

namespace {

std::string_view textOf(const MvbDatavar& value, char* buffer, int capacity) {
    const int n = value.formatText(buffer, capacity);
    if (n < 0 || n >= capacity || buffer[n] != '\0') __builtin_trap();
    return {buffer, static_cast<size_t>(n)};
}

void checkRoundTrips(const MvbDatavar& text) {
    char buffer[64];
    bool error = false;
    const int64_t integer = text.asInt64(&error);
    if (!error) {
        const MvbDatavar written(textOf(MvbDatavar(integer), buffer, sizeof buffer).data());
        bool again = false;
        if (written.asInt64(&again) != integer || again) __builtin_trap();
    }
    error = false;
    const double real = text.asReal(&error);
    if (!error && !std::isnan(real)) {
        const MvbDatavar written(textOf(MvbDatavar(real), buffer, sizeof buffer).data());
        bool again = false;
        const double back = written.asReal(&again);
        if (again || back != real || std::signbit(back) != std::signbit(real)) __builtin_trap();
    }
    for (int type : {mvbTypeBoolean, mvbTypeInteger, mvbTypeReal}) {
        MvbDatavar converted = text;
        const bool present = converted.setType(type);
        if (present != !converted.isNull()) __builtin_trap();
        if (present && converted.getType() != type) __builtin_trap();
        textOf(converted, buffer, sizeof buffer);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    const int cut = data[0];
    MvbDatavar text;
    text.assign(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    checkRoundTrips(text);

    // A short buffer never holds half a character of valid text.
    char small[8];
    const std::string_view shortText = textOf(text, small, sizeof small);
    const bool valid =
        mvbIsValidUtf8(text.stringView().data(), static_cast<long>(text.stringView().size()));
    if (valid && !mvbIsValidUtf8(shortText.data(), static_cast<long>(shortText.size())))
        __builtin_trap();

    MvbDatavar cutText = text;
    cutText.truncate(cut, cut * 4);
    const std::string_view kept = cutText.stringView();
    if (kept.size() > text.stringView().size() ||
        std::memcmp(kept.data(), text.stringView().data(), kept.size()) != 0)
        __builtin_trap();
    if (valid && !mvbIsValidUtf8(kept.data(), static_cast<long>(kept.size()))) __builtin_trap();
    return 0;
}
